// Strict reading: a document only when it holds everything its text holds,
// comments and white space apart, so that a daemon never runs on a file the
// comment-tolerant parser read only in part (text after a stray "}", members
// a comment quirk hid). Apart from parse_calls.cpp, which the tool links.
#include "comments.h"
#include "parse.h"
#include "parse_fault.h"

using namespace jsontree::detail;

JSON_Value *json_parse_buffer_strict_report(const char *text, size_t length, JSON_Error *error)
{
    if (!text) {
        report_failure("no text", error);
        return nullptr;
    }
    // Copied with a NUL after it; one among the `length` bytes fails at its place.
    TextPtr copy(copy_text({text, length}));
    if (!copy) {
        report_failure("out of memory", error);
        return nullptr;
    }
    return parse_lossless(copy.get(), length, error);
}

JSON_Value *json_parse_file_strict_report(const char *filename, JSON_Error *error)
{
    size_t length = 0;
    TextPtr text(read_file_reporting(filename, length, error));
    return text ? parse_lossless(text.get(), length, error) : nullptr;
}
