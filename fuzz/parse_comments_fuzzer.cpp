// Arbitrary bytes through the comment-tolerant parser, its check that the
// document holds the whole text, and the strict reading built on that check.
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
    // The strict reading gives the document exactly when nothing is lost, a
    // NUL byte counting, and places a fault inside the text.
    JSON_Error error;
    JSON_Value *strict = json_parse_buffer_strict_report(text.data(), size, &error);
    bool whole =
        json_verify_lossless_with_comments_report(text.c_str(), size, nullptr) == JSONSuccess;
    if ((strict != nullptr) != whole || (!strict && error.offset > size))
        __builtin_trap();
    json_value_free(strict);
    json_value_free(root);
    return 0;
}
