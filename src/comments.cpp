// Comments: blanked to white space in a private copy of the text, which the
// parser then reads as plain JSON.
#include "comments.h"
#include "file_io.h"
#include "parse.h"
#include "parse_fault.h"

#include <cstring>

using namespace jsontree::detail;

namespace {

// ---- Comments

// Overwrites with spaces every comment from `start_token` to the next
// `end_token` outside string literals, so comments become white space and
// every other byte keeps its position. A comment without its end token loses
// only its start token, and the scan stops there.
void remove_comments(char *string, const char *start_token, const char *end_token)
{
    const size_t start_length = strlen(start_token);
    const size_t end_length = strlen(end_token);
    if (start_length == 0 || end_length == 0)
        return;
    // Bytes other than these only clear `escaped`, so runs of them are skipped whole.
    bool stops[256] = {};
    for (unsigned char stop :
         {static_cast<unsigned char>('\0'), static_cast<unsigned char>('\\'),
          static_cast<unsigned char>('"'), static_cast<unsigned char>(*start_token)})
        stops[stop] = true;
    bool escaped = false;
    char *cursor = string;
    for (;;) {
        char *run_end = cursor;
        while (!stops[static_cast<unsigned char>(*run_end)])
            run_end++;
        if (run_end != cursor) {
            escaped = false;
            cursor = run_end;
        }
        if (*cursor == '\0')
            return;
        if (*cursor == '\\' && !escaped) {
            escaped = true;
            cursor++;
        } else if (*cursor == '"' && !escaped) {
            cursor = skip_string_literal(cursor, [](const char *) {});
        } else if (strncmp(cursor, start_token, start_length) == 0) {
            escaped = false;
            char *end = strstr(cursor + start_length, end_token);
            if (!end) {
                memset(cursor, ' ', start_length);
                return;
            }
            end += end_length;
            memset(cursor, ' ', size_t(end - cursor));
            cursor = end;
        } else {
            escaped = false;
            cursor++;
        }
    }
}

JSON_Value *parse_without_comments(char *text)
{
    blank_comments(text);
    return parse_root(text);
}

}  // namespace

// Blanking loses line feeds (a line comment's own), so the places of a
// fault are counted in `text`, not in the blanked copy.
JSON_Value *jsontree::detail::parse_copy(std::string_view text, bool with_comments,
                                         JSON_Error *error)
{
    TextPtr copy(copy_text(text));
    if (!copy) {
        report_failure("out of memory", error);
        return nullptr;
    }
    if (with_comments)
        blank_comments(copy.get());
    return parse_root_reporting(copy.get(), text.data(), error);
}

// Block comments go first: a "//" inside one must not cut it short, while a
// "/*" inside a line comment does open a block comment (a known quirk).
void jsontree::detail::blank_comments(char *text)
{
    remove_comments(text, "/*", "*/");
    remove_comments(text, "//", "\n");
}

JSON_Value *json_parse_string_with_comments(const char *string)
{
    if (!string)
        return nullptr;
    TextPtr copy(copy_text(string));
    return copy ? parse_without_comments(copy.get()) : nullptr;
}

JSON_Value *json_parse_file_with_comments(const char *filename)
{
    // The buffer just read is private, so it is blanked in place: one copy
    // of the text alive, not two.
    TextPtr text(read_file(filename));
    return text ? parse_without_comments(text.get()) : nullptr;
}
