// Texts given as a pointer and a length, with no NUL after them (a network
// buffer, a mapped file): copied with a NUL into a block of their own, which
// the parser reads as it reads any text.
#include "comments.h"
#include "parse_fault.h"

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

JSON_Value *parse_buffer(const char *text, size_t length, bool with_comments, JSON_Error *error)
{
    if (!text) {
        report_failure("no text", error);
        return nullptr;
    }
    std::string_view buffer(text, length);
    if (holds_nul(buffer, error))
        return nullptr;
    return parse_copy(buffer, with_comments, error);
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
