// Whether a comment-tolerant parse keeps everything its text holds. The
// parser ignores text after the root, cuts names at "\u0000" (and a reader
// of a string value as a C string stops there), and its comment blanking,
// two passes with quirks, can swallow members, as can a line comment that
// reads on past a lone carriage return; a rewrite from such a document, or
// by such a reader, would silently lose that text.
#include "comments.h"
#include "parse.h"
#include "parse_fault.h"

#include <cstring>

using namespace jsontree::detail;

namespace {

char *blank(char *from, char *to)
{
    memset(from, ' ', size_t(to - from));
    return to;
}

// Each a place in the lexed text, null where the text has none.
struct LexicalView {
    const char *root_end = nullptr;     // just past the bracket closing the first value
    const char *nul_escape = nullptr;   // the first "\u0000" in a string literal
    const char *hidden_line = nullptr;  // past the first CR inside a line comment
};

// A line comment runs to the line feed, but an editor ends the line at a
// carriage return of its own, showing what follows as text of the next line:
// just past that CR, or null.
const char *line_hidden_after_carriage_return(const char *comment, const char *end)
{
    // Its last byte, a CR before the line feed or the end of the text, hides nothing.
    auto *carriage_return =
        static_cast<const char *>(memchr(comment, '\r', size_t(end - comment) - 1));
    return carriage_return ? carriage_return + 1 : nullptr;
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
            cursor = skip_string_literal(cursor, [&view](const char *escape) {
                if (!view.nul_escape && strncmp(escape, "\\u0000", 6) == 0)
                    view.nul_escape = escape;
            });
        } else if (strncmp(cursor, "//", 2) == 0) {
            char *line_feed = strchr(cursor, '\n');
            char *end = line_feed ? line_feed : cursor + strlen(cursor);
            if (!view.hidden_line)
                view.hidden_line = line_hidden_after_carriage_return(cursor, end);
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

constexpr char WHITE_SPACE[] = " \t\n\v\f\r";

bool is_white_space(char byte)
{
    return byte != '\0' && strchr(WHITE_SPACE, byte);
}

// The first byte after the root that is not white space, or null.
const char *text_after_root(const char *root_end)
{
    const char *after = root_end + strspn(root_end, WHITE_SPACE);
    return *after ? after : nullptr;
}

// The first place where the two blankings of one text leave different text,
// white space standing for white space; null where they agree.
const char *first_divergence(const char *blanked, const char *lexed)
{
    for (; *blanked; blanked++, lexed++) {
        if (*blanked != *lexed && !(is_white_space(*blanked) && is_white_space(*lexed)))
            return lexed;
    }
    return nullptr;
}

const char *earlier(const char *a, const char *b)
{
    return !a ? b : !b ? a : a < b ? a : b;
}

// What a check of a text found.
enum class Loss {
    NONE,
    TEXT,    // the document leaves text out
    MEMORY,  // memory ran out before the check could tell
};

// A parse that tells a text that does not parse from memory running out.
JSON_Value *parse_noting_memory(const char *text, Loss &loss)
{
    JSON_Error fault;
    JSON_Value *root = parse_root_reporting(text, text, &fault);
    // Only a failure for want of memory has no place in the text.
    if (!root && fault.line == 0)
        loss = Loss::MEMORY;
    return root;
}

// Where the document the comment-tolerant parser makes of `string` first
// leaves text out, as an offset in `lost_at`.
Loss loses_text(const char *string, size_t &lost_at)
{
    lost_at = 0;
    TextPtr blanked(copy_text(string));
    TextPtr lexed_text(copy_text(string));
    if (!blanked || !lexed_text)
        return Loss::MEMORY;
    blank_comments(blanked.get());
    Loss loss = Loss::TEXT;
    ValuePtr document(parse_noting_memory(blanked.get(), loss));
    if (!document)
        return loss;
    LexicalView view = blank_comments_in_one_pass(lexed_text.get());
    // The parser stops at the root's closing bracket, where the lexical view
    // found it, so what follows is all the text the document leaves out.
    ValuePtr lexed(parse_noting_memory(lexed_text.get(), loss));
    if (loss == Loss::MEMORY)
        return loss;
    const bool readings_differ = !lexed || !json_value_equals(document.get(), lexed.get());
    const char *lost = earlier(view.nul_escape, view.hidden_line);
    if (view.root_end)
        lost = earlier(lost, text_after_root(view.root_end));
    if (readings_differ)
        lost = earlier(lost, first_divergence(blanked.get(), lexed_text.get()));
    if (lost)
        lost_at = size_t(lost - lexed_text.get());
    return lost || readings_differ || !view.root_end ? Loss::TEXT : Loss::NONE;
}

}  // namespace

JSON_Status json_verify_lossless_with_comments_report(const char *string, size_t length,
                                                      JSON_Error *error)
{
    size_t offset = 0;
    if (!string) {
        report_failure("no text", error);
        return JSONFailure;
    }
    Loss loss = loses_text(string, offset);
    if (loss == Loss::MEMORY) {
        report_failure("out of memory", error);
        return JSONFailure;
    }
    if (loss == Loss::NONE) {
        // The parser's reading ends at a NUL byte; the file may hold more.
        offset = strlen(string);
        if (offset >= length) {
            report_success(error);
            return JSONSuccess;
        }
    }
    report_place(string, offset, "the document read leaves out the text from here", error);
    return JSONFailure;
}

JSON_Status json_verify_lossless_with_comments(const char *string)
{
    return json_verify_lossless_with_comments_report(string, 0, nullptr);
}
