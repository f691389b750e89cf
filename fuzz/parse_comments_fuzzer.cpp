// Arbitrary bytes through the comment-tolerant parser.
#include "jsontree.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    JSON_Value *root = json_parse_string_with_comments(text.c_str());
    json_value_free(root);
    return 0;
}
