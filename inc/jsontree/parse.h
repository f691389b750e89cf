/*
 * jsontree: parsing text into a tree, and reports of why a text was refused.
 *
 * One part of the public interface, declared for every consumer by
 * <jsontree.h>, which defines the types, limits and JSONTREE_API these
 * declarations use and includes this file after them.
 */
#ifndef JSONTREE_PUBLIC_PARSE_H
#define JSONTREE_PUBLIC_PARSE_H

#ifndef JSONTREE_H
#error "include <jsontree.h>, which includes <jsontree/parse.h> itself"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Parsing ---------------------------------------------------------- */

/* Each parser reads one JSON document and returns its root: a new tree that
 * belongs to the caller, who releases it with json_value_free. The root must
 * be an object or an array (a bare string, number or word is refused); white
 * space may come before it, and is exactly space, tab, line feed, vertical
 * tab, form feed and carriage return (a byte order mark is refused).
 * Everything after the root's closing bracket is ignored, unread. The text
 * ends at its first NUL byte, and is only read.
 *
 * Refused besides: nesting deeper than JSON_MAX_NESTING; an object of more
 * than 960 members or an array of more than 122880 items; a member name given
 * twice in one object (names compare after decoding, so "a" and "\u0061" are
 * the same); a raw byte below 0x20 in a string, an unknown escape, a "\u"
 * without four hexadecimal digits or a surrogate without its pair; a string
 * of 4 GiB or more; a number with a leading zero ("01") or in hexadecimal;
 * true, false and null written other than in lower case. A number is what strtod reads there in
 * the C locale, whatever locale the program has set, so "1." and
 * "-.5" are read too, and so are "-inf" and "-nan", which have no JSON text:
 * a tree that holds one cannot be serialized. A "\u0000" ends a member name;
 * a string value keeps it and what follows (json_value_get_string_len), its
 * text read as a C string ending there. Bytes from 0x80 up are kept as they stand, not checked for UTF-8.
 *
 * Null when the argument is null, the text is not such a document, or memory
 * runs out; a failed parse leaves nothing allocated.
 *
 * json_parse_file and json_parse_file_with_comments read the whole file the
 * name leads to (see File names), which must be a regular file; besides, they
 * give null when it cannot be read, errno telling why (EINVAL for something
 * other than a regular file, EISDIR for a name that ends in a slash, "." or
 * ".."). An in-place write of the file that was interrupted (see
 * Serialization) is settled first, so the text read is the old one or the
 * new one, whole; where this process may write, that write is finished
 * then.
 *
 * The _with_comments forms also take comments, which count as white space:
 * from a slash and an asterisk to the next asterisk and slash, and from two
 * slashes to the line feed. They are blanked in a private copy of the text,
 * block comments first, then line comments, each pass stepping over what it
 * takes for string literals (a quotation mark in a line comment opens one for
 * the first pass). So a block comment may open inside a line comment, and a
 * comment with no end loses only its two opening characters. Such quirks can
 * hide members from the document: json_verify_lossless_with_comments tells. */
JSONTREE_API JSON_Value *json_parse_file(const char *filename);
JSONTREE_API JSON_Value *json_parse_file_with_comments(const char *filename);
JSONTREE_API JSON_Value *json_parse_string(const char *string);
JSONTREE_API JSON_Value *json_parse_string_with_comments(const char *string);

/* JSONFailure for null and when memory runs out. Otherwise:
 * JSONSuccess when json_parse_string_with_comments(string) gives a document
 * that holds everything the text holds, so that serializing the document
 * loses nothing but comments and layout. JSONFailure when the text does not
 * parse, or when it has anything but white space and comments after the
 * root value, a string with the escape \u0000 (a name ends there, and so
 * does the text of a string value read as a C string), a line comment holding a carriage return before its line feed (an
 * editor shows what follows the return as a line of its own), or members
 * that the comment blanking hides: read in one lexical pass, where a line
 * comment ends at the line feed and a quotation mark or an opening inside
 * a comment means nothing, the text must give an equal
 * document (json_value_equals). The text ends at its first NUL byte. */
JSONTREE_API JSON_Status json_verify_lossless_with_comments(const char *string);

/* ---- Parsing with a report of the failure ----------------------------- */

/* Size of JSON_Error.reason, its NUL included. */
#define JSON_ERROR_REASON_SIZE 160

/* Where and why a parse failed, filled in by the *_report parsers below.
 *
 * offset: bytes from the start of the text to the byte named.
 * line:   1 + the line feeds before that byte.
 * column: 1 + the characters from the start of its line to that byte; a
 *         valid UTF-8 sequence is one character, any other byte (a tab too)
 *         is one.
 * reason: one line of English, NUL-terminated, cut at a character boundary
 *         to fit: what was expected or found ("expected ',' or '}' after a
 *         member", "line feed inside a string", "duplicate member name
 *         \"enable\""), then, for a fault within a member or item, " in "
 *         and the dotted path of the innermost one being read, array
 *         positions as [i] ("in gateway_conf.servers[2]"; a path too long
 *         to fit starts with "..."). Text quoted from the document is
 *         clipped to 40 bytes and shows control bytes as '?'.
 *
 * The byte named is the first that cannot continue an acceptable document:
 * a missing comma names the next member's quotation mark, a trailing comma
 * the closing bracket, a text that ends too early (or is empty or white
 * space only) the position just after its last byte. A word or number that
 * is not acceptable (ture, 01700, 0x1F, a lone -) names its first byte, a
 * number being what strtod reads (in 1700x the x is named); a raw control
 * byte in a string names that byte, a bad escape its backslash (for an
 * unpaired surrogate, the escape that cannot be paired). A root that is not
 * an object or an array names its first byte; nesting past
 * JSON_MAX_NESTING names the first byte of the value too deep; a repeated
 * member name names the quotation mark that opens it; a member or item
 * beyond the capacity of its container names its first byte. With comments,
 * places count in the text as given, comments included.
 *
 * Failures with no place in the text have offset, line and column 0: a null
 * text or file name, a file that cannot be read (reason: the system's
 * message for errno, as strerror gives it, which errno keeps), and memory
 * running out ("out of memory"). A success sets every number to 0 and the
 * reason to "". */
typedef struct {
    size_t offset;
    size_t line;
    size_t column;
    char reason[JSON_ERROR_REASON_SIZE];
} JSON_Error;

/* The same results as json_parse_string, json_parse_string_with_comments,
 * json_parse_file and json_parse_file_with_comments, and the same text
 * accepted, besides filling `error` when it is not null. The file forms with
 * comments hold the file's text and a blanked copy of it at the same time. */
JSONTREE_API JSON_Value *json_parse_string_report(const char *string, JSON_Error *error);
JSONTREE_API JSON_Value *json_parse_string_with_comments_report(const char *string,
                                                                JSON_Error *error);
JSONTREE_API JSON_Value *json_parse_file_report(const char *filename, JSON_Error *error);
JSONTREE_API JSON_Value *json_parse_file_with_comments_report(const char *filename,
                                                              JSON_Error *error);

/* Texts given as a pointer and a length, such as a network buffer or a
 * mapped file, with no NUL after them: the `length` bytes at `text` are read,
 * and nothing past them. They are copied (through the allocation hook) into
 * a block of their own with a NUL after them, and parsed there as
 * json_parse_string and json_parse_string_with_comments parse: the same text
 * accepted, the same limits, the same results. A NUL byte among the `length`
 * bytes fails the parse at its place ("NUL byte in the text"), after the
 * root too. Null for a null `text`, whatever the length. The _report forms
 * fill `error` when it is not null, as the calls above do, places counted
 * from `text`. */
JSONTREE_API JSON_Value *json_parse_buffer(const char *text, size_t length);
JSONTREE_API JSON_Value *json_parse_buffer_with_comments(const char *text, size_t length);
JSONTREE_API JSON_Value *json_parse_buffer_report(const char *text, size_t length,
                                                  JSON_Error *error);
JSONTREE_API JSON_Value *json_parse_buffer_with_comments_report(const char *text, size_t length,
                                                                JSON_Error *error);

/* Strict reading: the comment-tolerant parse of a file's text, or of the
 * `length` bytes at `text` (as json_parse_buffer_with_comments_report takes
 * them), that gives a document only when it holds everything the text holds
 * but comments and white space, as json_verify_lossless_with_comments_report
 * checks. The tree belongs to the caller. Null otherwise, `error` (when not
 * null) placing the first fault where a person would mend it: a parse
 * failure at its own place (or, when an unclosed comment or a line a
 * carriage return hides comes before it, there); text after the root at its
 * first byte that is not white space or comment; a comment that hides
 * members (a "/" followed by "*" inside a line comment, say) where it opens;
 * a string holding "\u0000", which a reader of C strings would cut, at its
 * escape; a NUL byte at its place. A file that cannot be read gives line 0
 * and the system's message, errno telling why, as json_parse_file_report.
 * The text is only read; null for a null `text` or `filename`, and when
 * memory runs out (the text, a blanked copy and a second lexical copy are
 * held at once, with two parses of it). */
JSONTREE_API JSON_Value *json_parse_file_strict_report(const char *filename, JSON_Error *error);
JSONTREE_API JSON_Value *json_parse_buffer_strict_report(const char *text, size_t length,
                                                         JSON_Error *error);

/* json_verify_lossless_with_comments for a text of `length` bytes that may
 * hold NUL bytes (a file's, as json_file_length gives it): the parse ends at
 * the first NUL, so one before `length` loses what follows. On JSONFailure
 * `error`, when not null, gets the place and the reason of the first fault,
 * as the strict reading above places them (no place when memory runs out or
 * `string` is null). */
JSONTREE_API JSON_Status json_verify_lossless_with_comments_report(const char *string,
                                                                   size_t length,
                                                                   JSON_Error *error);

/* JSONSuccess when `string` is valid UTF-8 (no overlong forms, surrogates or
 * code points past U+10FFFF), as the string and name setters require. Else
 * JSONFailure, and `error`, when not null, gets the place of the first byte
 * that begins no valid sequence; a null `string` fails with no place. */
JSONTREE_API JSON_Status json_verify_utf8_report(const char *string, JSON_Error *error);

#ifdef __cplusplus
}
#endif

#endif /* JSONTREE_PUBLIC_PARSE_H */
