// Whether a comment-tolerant parse keeps everything its text holds. The
// parser ignores text after the root, cuts strings at "\u0000", and its
// comment blanking, two passes with quirks, can swallow members, as can a
// line comment that reads on past a lone carriage return; a rewrite from such
// a document would silently lose that text.
#include "value.h"

#include <cstring>

using namespace jsontree::detail;

namespace {

// Past the string literal opening at `cursor`, or at the end of the text when
// the literal is not closed; notes a "\u0000" escape inside it.
char *skip_string_literal(char *cursor, bool *nul_escape)
{
    for (cursor++; *cursor && *cursor != '"'; cursor++) {
        if (*cursor != '\\')
            continue;
        if (strncmp(cursor, "\\u0000", 6) == 0)
            *nul_escape = true;
        if (cursor[1])
            cursor++;  // the escaped byte never closes the literal
    }
    return *cursor ? cursor + 1 : cursor;
}

char *blank(char *from, char *to)
{
    memset(from, ' ', size_t(to - from));
    return to;
}

struct LexicalView {
    const char *root_end = nullptr;     // just past the bracket closing the first value
    bool nul_escape = false;            // some string literal holds "\u0000"
    bool lone_carriage_return = false;  // some line comment runs on past a CR
};

// A line comment runs to the line feed, but an editor ends the line at a
// carriage return of its own, showing what follows as text of the next line.
bool holds_lone_carriage_return(const char *comment, const char *end)
{
    // Its last byte, a CR before the line feed or the end of the text, hides nothing.
    return memchr(comment, '\r', size_t(end - comment) - 1) != nullptr;
}

// Blanks comments as one lexical pass reads them: "//" runs to the line feed
// or the end of the text, "/*" to the next "*/", and nothing inside a comment
// (a quotation mark, another opening) means anything. A "/*" never closed is
// only its two characters, as the comment-tolerant parser takes it.
LexicalView blank_comments_in_one_pass(char *text)
{
    LexicalView view;
    size_t depth = 0;
    char *cursor = text;
    while (*cursor) {
        if (*cursor == '"') {
            cursor = skip_string_literal(cursor, &view.nul_escape);
        } else if (strncmp(cursor, "//", 2) == 0) {
            char *line_feed = strchr(cursor, '\n');
            char *end = line_feed ? line_feed : cursor + strlen(cursor);
            view.lone_carriage_return |= holds_lone_carriage_return(cursor, end);
            cursor = blank(cursor, end);
        } else if (strncmp(cursor, "/*", 2) == 0) {
            char *closing = strstr(cursor + 2, "*/");
            cursor = blank(cursor, closing ? closing + 2 : cursor + 2);
        } else {
            if (*cursor == '{' || *cursor == '[')
                depth++;
            else if ((*cursor == '}' || *cursor == ']') && depth > 0 && --depth == 0 &&
                     !view.root_end)
                view.root_end = cursor + 1;
            cursor++;
        }
    }
    return view;
}

bool only_white_space(const char *text)
{
    return text[strspn(text, " \t\n\v\f\r")] == '\0';
}

}  // namespace

JSON_Status json_verify_lossless_with_comments(const char *string)
{
    if (!string)
        return JSONFailure;
    ValuePtr document(json_parse_string_with_comments(string));
    TextPtr lexed_text(jsontree_strdup(string));
    if (!document || !lexed_text)
        return JSONFailure;
    LexicalView view = blank_comments_in_one_pass(lexed_text.get());
    // The parser stops at the root's closing bracket, where the lexical view
    // found it, so what follows is all the text the document leaves out.
    ValuePtr lexed(json_parse_string(lexed_text.get()));
    if (!lexed || view.nul_escape || view.lone_carriage_return || !view.root_end ||
        !only_white_space(view.root_end))
        return JSONFailure;
    return json_value_equals(document.get(), lexed.get()) ? JSONSuccess : JSONFailure;
}
