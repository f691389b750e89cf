// Whatever parses must serialize, in both forms, to text that parses back to
// an equal document, and merge as a patch into a copy of itself, again and
// again to the same text.
#include "jsontree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// A merge patch is idempotent: applied twice, it gives what it gave once.
void check_merge_idempotent(const JSON_Value *root)
{
    JSON_Value *merged = json_value_deep_copy(root);
    if (json_value_merge_patch(merged, root) != JSONSuccess)
        abort();
    char *once = json_serialize_to_string(merged);
    if (json_value_merge_patch(merged, root) != JSONSuccess)
        abort();
    char *twice = json_serialize_to_string(merged);
    if (!once != !twice || (once && strcmp(once, twice) != 0))
        abort();
    json_free_serialized_string(once);
    json_free_serialized_string(twice);
    json_value_free(merged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    JSON_Value *root = json_parse_string(text.c_str());
    if (root) {
        check_round_trip(root, json_serialize_to_string);
        check_round_trip(root, json_serialize_to_string_pretty);
        check_merge_idempotent(root);
    }
    json_value_free(root);
    return 0;
}
