// Arbitrary bytes through the comment-tolerant parser and its check that the
// document holds the whole text.
#include "jsontree.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    JSON_Value *root = json_parse_string_with_comments(text.c_str());
    if (json_verify_lossless_with_comments(text.c_str()) == JSONSuccess && !root)
        __builtin_trap();  // a text that loses nothing is a document
    json_value_free(root);
    return 0;
}
