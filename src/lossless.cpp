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

// Where the document first leaves text out, and why, placed where a person
// would mend it; `at` is null when it leaves nothing out.
struct Loss {
    const char *at = nullptr;
    std::string_view reason;
};

Loss earlier(const Loss &a, const Loss &b)
{
    return !a.at ? b : !b.at ? a : a.at <= b.at ? a : b;
}

// Past the comment that opens at `opening` as `hiding` (a copy of
// `original` with comments blanked by one of the two lexers) reads it;
// `opening` itself when none opens there. A line comment ends at a line feed
// `hiding` kept: a block comment may have blanked its own.
size_t comment_end(const char *original, const char *hiding, size_t opening)
{
    if (strncmp(original + opening, "/*", 2) == 0) {
        const char *closing = strstr(original + opening + 2, "*/");
        return closing ? size_t(closing - original) + 2 : opening + 2;
    }
    if (strncmp(original + opening, "//", 2) == 0) {
        const char *line_feed = strchr(hiding + opening + 2, '\n');
        return line_feed ? size_t(line_feed - hiding) : strlen(hiding);
    }
    return opening;
}

// Where the comment that covers byte `at` in `hiding` opens: the leftmost
// opening, in the white space around `at`, whose comment reaches past it;
// `at` itself when none does.
size_t comment_opening(const char *original, const char *hiding, size_t at)
{
    size_t start = at;
    while (start > 0 && is_white_space(hiding[start - 1]))
        start--;
    for (size_t opening = start; opening < at; opening++) {
        if (comment_end(original, hiding, opening) > at)
            return opening;
    }
    return at;
}

// Where the parser's blanking and the lexical view first part: a comment one
// of them sees hides text the other reads, and the fix lies where it opens.
Loss hidden_by_comment(const char *original, const char *blanked, const char *lexed)
{
    const char *divergence = first_divergence(blanked, lexed);
    if (!divergence)
        return {};
    auto at = size_t(divergence - lexed);
    if (is_white_space(blanked[at]))
        return {lexed + comment_opening(original, blanked, at),
                "a comment that opens here hides text from the document"};
    return {lexed + comment_opening(original, lexed, at),
            "the document reads as text a comment that opens here"};
}

constexpr std::string_view UNCLOSED = "a comment that opens here is never closed";
constexpr std::string_view HIDDEN_LINE = "a line comment hides this text past a carriage return";

// The first text the comment-tolerant `document` of `text` leaves out, in
// `lexed`, a copy of the text that `view` read; `failed` when memory ran out
// before it was known.
Loss first_loss(const char *text, const char *blanked, const char *lexed, const LexicalView &view,
                const JSON_Value *document, bool &failed)
{
    // The parser stops at the root's closing bracket, where the lexical view
    // found it, so what follows is all the text the document leaves out.
    JSON_Error lexed_fault;
    ValuePtr lexed_document(parse_root_reporting(lexed, lexed, &lexed_fault));
    // Only a failure for want of memory has no place in the text.
    failed = !lexed_document && lexed_fault.line == 0;
    const bool readings_differ =
        !lexed_document || !json_value_equals(document, lexed_document.get());
    Loss loss = earlier({view.nul_escape, "an escaped NUL cuts the string short here"},
                        {view.hidden_line, HIDDEN_LINE});
    if (view.root_end)
        loss =
            earlier(loss, {text_after_root(view.root_end), "text after the end of the document"});
    if (readings_differ)
        loss = earlier(loss, hidden_by_comment(text, blanked, lexed));
    return loss;
}

// A parse failure that follows text an editor shows otherwise than the
// parser reads it (members a comment hides, what an unclosed "/*" holds, a
// line a carriage return hides) began there; any other is reported where
// the parser failed.
void report_parse_failure(const char *text, const char *blanked, const char *lexed,
                          const LexicalView &view, const JSON_Error &fault, JSON_Error *error)
{
    Loss cause = earlier({view.unclosed, UNCLOSED}, {view.hidden_line, HIDDEN_LINE});
    cause = earlier(cause, hidden_by_comment(text, blanked, lexed));
    if (cause.at && fault.line > 0 && size_t(cause.at - lexed) < fault.offset)
        report_place(text, size_t(cause.at - lexed), cause.reason, error);
    else if (error)
        *error = fault;
}

}  // namespace

// Blanks comments as one lexical pass reads them: "//" runs to the line feed
// or the end of the text, "/*" to the next "*/", and nothing inside a comment
// (a quotation mark, another opening) means anything. A "/*" never closed is
// only its two characters, as the comment-tolerant parser takes it.
LexicalView jsontree::detail::blank_comments_in_one_pass(char *text)
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
            if (!closing)
                view.unclosed = cursor;
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

JSON_Value *jsontree::detail::parse_lossless(const char *text, size_t length, JSON_Error *error)
{
    TextPtr blanked(copy_text(text));
    TextPtr lexed(copy_text(text));
    if (!blanked || !lexed) {
        report_failure("out of memory", error);
        return nullptr;
    }
    blank_comments(blanked.get());
    JSON_Error fault;
    ValuePtr document(parse_root_reporting(blanked.get(), text, &fault));
    LexicalView view = blank_comments_in_one_pass(lexed.get());
    if (!document) {
        report_parse_failure(text, blanked.get(), lexed.get(), view, fault, error);
        return nullptr;
    }
    bool failed = false;
    Loss loss = first_loss(text, blanked.get(), lexed.get(), view, document.get(), failed);
    // Every reading ends at a NUL byte; the text may hold more.
    size_t read_length = strlen(text);
    if (read_length < length)
        loss = earlier(loss, {lexed.get() + read_length, "NUL byte in the text"});
    if (failed) {
        report_failure("out of memory", error);
        return nullptr;
    }
    if (loss.at) {
        report_place(text, size_t(loss.at - lexed.get()), loss.reason, error);
        return nullptr;
    }
    report_success(error);
    return document.release();
}

JSON_Status json_verify_lossless_with_comments_report(const char *string, size_t length,
                                                      JSON_Error *error)
{
    if (!string) {
        report_failure("no text", error);
        return JSONFailure;
    }
    ValuePtr document(parse_lossless(string, length, error));
    return document ? JSONSuccess : JSONFailure;
}

JSON_Status json_verify_lossless_with_comments(const char *string)
{
    return json_verify_lossless_with_comments_report(string, 0, nullptr);
}
