// The parse calls of the interface but the comment-tolerant ones that report
// nothing: texts ending in a NUL, files, and texts given as a pointer and a
// length with no NUL after them (a network buffer, a mapped file), which are
// copied with a NUL into a block of their own that the parser reads as it
// reads any text.
#include "comments.h"
#include "file_io.h"
#include "parse.h"
#include "parse_fault.h"

#include <cerrno>
#include <cstring>
#include <string_view>

using namespace jsontree::detail;

namespace {

// The parser stops at a NUL, so one inside the buffer would hide what
// follows it from the document: it fails the parse where it stands.
bool holds_nul(std::string_view text, JSON_Error *error)
{
    const void *nul = memchr(text.data(), '\0', text.size());
    if (!nul)
        return false;
    report_place(text.data(), size_t(static_cast<const char *>(nul) - text.data()),
                 "NUL byte in the text", error);
    return true;
}

// Whether a _report call was given a text; the failure reported when not.
bool text_given(const char *text, JSON_Error *error)
{
    if (!text)
        report_failure("no text", error);
    return text != nullptr;
}

JSON_Value *parse_buffer(const char *text, size_t length, bool with_comments, JSON_Error *error)
{
    if (!text_given(text, error))
        return nullptr;
    std::string_view buffer(text, length);
    if (holds_nul(buffer, error))
        return nullptr;
    return parse_copy(buffer, with_comments, error);
}

}  // namespace

char *jsontree::detail::read_file_reporting(const char *filename, size_t &length, JSON_Error *error)
{
    if (!filename) {
        report_failure("no file name", error);
        return nullptr;
    }
    errno = 0;
    char *text = read_file(filename, length);
    if (!text)
        report_failure(errno ? strerror(errno) : "the file could not be read", error);
    return text;
}

namespace {

// The document of a file, its comments blanked first (in a copy, so places
// are counted in the text as read) when `with_comments` says so.
JSON_Value *parse_file_reporting(const char *filename, bool with_comments, JSON_Error *error)
{
    size_t length = 0;
    TextPtr text(read_file_reporting(filename, length, error));
    if (!text)
        return nullptr;
    if (with_comments)
        return parse_copy(text.get(), true, error);
    return parse_root_reporting(text.get(), text.get(), error);
}

}  // namespace

JSON_Value *json_parse_buffer(const char *text, size_t length)
{
    return parse_buffer(text, length, false, nullptr);
}

JSON_Value *json_parse_buffer_with_comments(const char *text, size_t length)
{
    return parse_buffer(text, length, true, nullptr);
}

JSON_Value *json_parse_buffer_report(const char *text, size_t length, JSON_Error *error)
{
    return parse_buffer(text, length, false, error);
}

JSON_Value *json_parse_buffer_with_comments_report(const char *text, size_t length,
                                                   JSON_Error *error)
{
    return parse_buffer(text, length, true, error);
}

JSON_Value *json_parse_string(const char *string)
{
    return string ? parse_root(string) : nullptr;
}

JSON_Value *json_parse_file(const char *filename)
{
    TextPtr text(read_file(filename));
    return text ? parse_root(text.get()) : nullptr;
}

JSON_Value *json_parse_string_report(const char *string, JSON_Error *error)
{
    return text_given(string, error) ? parse_root_reporting(string, string, error) : nullptr;
}

JSON_Value *json_parse_file_report(const char *filename, JSON_Error *error)
{
    return parse_file_reporting(filename, false, error);
}

JSON_Value *json_parse_string_with_comments_report(const char *string, JSON_Error *error)
{
    return text_given(string, error) ? parse_copy(string, true, error) : nullptr;
}

JSON_Value *json_parse_file_with_comments_report(const char *filename, JSON_Error *error)
{
    return parse_file_reporting(filename, true, error);
}
