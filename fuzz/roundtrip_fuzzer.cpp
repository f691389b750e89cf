// Whatever parses must serialize, in both forms, to text that parses back to
// an equal document.
#include "jsontree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check_round_trip(const JSON_Value *root, char *(*serialize)(const JSON_Value *))
{
    char *text = serialize(root);
    if (!text)
        return;  // infinities and NaN have no text; the call refuses them
    JSON_Value *again = json_parse_string(text);
    if (!again || json_value_equals(root, again) != 1)
        abort();
    json_value_free(again);
    json_free_serialized_string(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    JSON_Value *root = json_parse_string(text.c_str());
    if (root) {
        check_round_trip(root, json_serialize_to_string);
        check_round_trip(root, json_serialize_to_string_pretty);
    }
    json_value_free(root);
    return 0;
}
