// Comments blanked as the comment-tolerant parsers blank them.
#ifndef JSONTREE_COMMENTS_H
#define JSONTREE_COMMENTS_H

#include "jsontree.h"

#include <string_view>

namespace jsontree::detail {

// Overwrites every comment in `text` with spaces, so that each other byte
// keeps its position.
void blank_comments(char *text);

// The document of `text` (which holds no NUL) read from a private copy,
// with its comments blanked there first when `with_comments` says so; the
// outcome is reported in `error` (null is ignored), places counted in `text`.
JSON_Value *parse_copy(std::string_view text, bool with_comments, JSON_Error *error);

// The comment-tolerant document of `text` (NUL-ended, `length` bytes long:
// a NUL before that hides what follows from every reading), only when it
// holds everything the text holds but comments and white space. Otherwise
// null, and `error` (null is ignored) places the first fault where a person
// would mend it: a parse failure's own place, the opening of a comment that
// hides text, the first byte after the root, a "\u0000", a NUL byte.
JSON_Value *parse_lossless(const char *text, size_t length, JSON_Error *error);

// Each a place in a text lexed in one pass, null where the text has none.
struct LexicalView {
    const char *root_end = nullptr;     // just past the bracket closing the first value
    const char *nul_escape = nullptr;   // the first "\u0000" in a string literal
    const char *hidden_line = nullptr;  // past the first CR inside a line comment
    const char *unclosed = nullptr;     // the last "/*" with no "*/" after it
};

// Blanks comments as one lexical pass reads them: "//" runs to the line feed
// (which stays) or the end of the text, "/*" to the next "*/", and nothing
// inside a comment means anything. Every other byte keeps its position.
LexicalView blank_comments_in_one_pass(char *text);

// Past the string literal whose opening quotation mark is at `cursor`, or at
// the text's NUL when the literal is not closed: where both comment lexers
// resume. `on_escape` sees each backslash inside it; the byte a backslash
// escapes never closes the literal.
template <typename Char, typename OnEscape>
Char *skip_string_literal(Char *cursor, OnEscape on_escape)
{
    for (cursor++; *cursor && *cursor != '"'; cursor++) {
        if (*cursor != '\\')
            continue;
        on_escape(cursor);
        if (cursor[1])
            cursor++;
    }
    return *cursor ? cursor + 1 : cursor;
}

}  // namespace jsontree::detail

#endif
