/*
 * jsontree: a small, self-contained JSON library.
 *
 * A document is a tree of JSON_Value records. Objects and arrays own their
 * members; a value handed to a container belongs to it from then on, and is
 * released with it, or when it is replaced or removed. A value is held by one
 * container at most, and only a value that no container holds (a root, or a
 * value not stored yet) is released by its caller. Every block the library
 * obtains goes through the allocation hooks, which start out as the C
 * library's malloc and free.
 *
 * Results: operations that change something return JSON_Status; constructors,
 * parsers and lookups return a pointer that is null on failure; typed getters
 * return a neutral result (null, 0.0, -1, JSONError) for missing input. Every
 * function accepts null for any pointer argument; each says what it then
 * gives. Nothing is printed or logged, and errno means something only after
 * the calls that work on files.
 *
 * Lifetimes: a pointer a getter returns (a value, an object, an array, a
 * string, a member name, a number's text) points into the tree and stays
 * valid until that value or member is released: replaced, removed, cleared,
 * or freed with its tree. Changing other members or items moves no value and
 * no text, even when the container grows or a removal fills a gap.
 *
 * Threads: the only state the library keeps is its two allocation hooks.
 * Different trees may be used by different threads at once, and a tree that
 * no call changes meanwhile may be read by several threads at once: every
 * function that takes a tree through a const pointer only reads it
 * (serializing, copying and comparing included). A tree being changed, like a
 * JSON_File, is used by one thread at a time. The hooks are then called from
 * several threads at once, as malloc and free may be.
 */
#ifndef JSONTREE_H
#define JSONTREE_H

#include <stddef.h>

#if defined(__GNUC__)
#define JSONTREE_API __attribute__((visibility("default")))
#else
#define JSONTREE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct json_object_t JSON_Object;
typedef struct json_array_t JSON_Array;
typedef struct json_value_t JSON_Value;

enum json_value_type {
    JSONError = -1,
    JSONNull = 1,
    JSONString = 2,
    JSONNumber = 3,
    JSONObject = 4,
    JSONArray = 5,
    JSONBoolean = 6
};
typedef int JSON_Value_Type;

enum json_result_t {
    JSONSuccess = 0,
    JSONFailure = -1
};
typedef int JSON_Status;

/* Deepest nesting that serialization, deep copy, equality and validation
 * follow, a value's members and items lying one level below it. They walk a
 * tree by recursion, so a tree with anything deeper is refused: serializing
 * it gives size 0, null or JSONFailure, a copy null, equality 0 and
 * validation JSONFailure. The limit keeps each call within 32 KB of stack in
 * an optimised build (sanitizer builds need several times that), and is far
 * beyond configuration files: the parser refuses nesting past 19 levels.
 * Trees built through the interface can be deeper (a dotted store makes one
 * level per segment); json_value_free releases any depth without recursion.
 * Replacing a value that holds anything deeper than the limit fails, since
 * it cannot be searched for the value that would take its place. */
#define JSON_MAX_DEPTH 128

/* Deepest nesting the parsers accept, the root being at depth 0: text with
 * a value deeper than this does not parse. A tree stored deeper still
 * serializes, but its text can never be loaded again. */
#define JSON_MAX_NESTING 19

/* Most members an object holds: adding one more fails. */
#define JSON_MAX_MEMBERS 960

typedef void *(*JSON_Malloc_Function)(size_t);
typedef void (*JSON_Free_Function)(void *);

/* Replaces both hooks. A null hook falls back to the C library's malloc or
 * free. The allocation hook may return null: a call that cannot go on
 * without the block fails, releasing what it had obtained (a dotted store
 * keeps the objects it made on the way). The release hook is also handed null, for instance for a
 * container that never held an entry, and must ignore it as free does.
 * Blocks alive at the time of the call are later released through the new
 * release hook, so change hooks only while no tree, serialized text or
 * JSON_File is alive. The hooks are plain globals that every call reads:
 * change them only while no other thread is inside the library. */
JSONTREE_API void json_set_allocation_functions(JSON_Malloc_Function malloc_fun,
                                                JSON_Free_Function free_fun);

/* ---- File names -------------------------------------------------------- */

/* Every call that takes a file name (json_parse_file*, json_serialize_to_file*,
 * json_file_open, json_canonical_filename) resolves it itself, one component
 * at a time, each directory held open from one step to the next. A symbolic
 * link, at any step of the name, is followed only where no other user can
 * have planted it: in a directory that no one but its owner may write (no
 * group or other write permission), or when the link is owned by the caller
 * (effective user id), by root or by the directory's owner. The writers
 * apply the same rule before writing into an existing file that is not a
 * regular file (a FIFO, a device). Otherwise the call fails with errno
 * EACCES and writes nothing. This is the rule of the kernel's
 * protected_symlinks and protected_fifos, applied in every directory others
 * may write, sticky or not. A relative link counts from the directory that
 * holds it; more than 40 links in one name fail with ELOOP. */

/* Writes the canonical absolute name of the existing file `filename` (no
 * ".", "..", repeated slashes or symbolic links; a relative name counts
 * from the working directory) into `buffer`, NUL-terminated, as realpath(3)
 * does, links followed under the rule above. JSONFailure with errno set:
 * as realpath sets it (ENOENT, ENOTDIR, ELOOP, ENAMETOOLONG, ...), EACCES
 * for a link that may not be followed, ERANGE when the name does not fit in
 * `size` bytes (PATH_MAX always suffices), EINVAL for a null argument. */
JSONTREE_API JSON_Status json_canonical_filename(const char *filename, char *buffer, size_t size);

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
 * true, false and null written other than in lower case. A number is what strtod reads there, so "1." and
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

/* json_verify_lossless_with_comments for a text of `length` bytes that may
 * hold NUL bytes (a file's, as json_file_length gives it): the parse ends at
 * the first NUL, so one before `length` loses what follows. On JSONFailure
 * `error`, when not null, gets the place where the first text the document
 * leaves out begins (the start of the text when it does not parse, no place
 * when memory runs out or `string` is null). */
JSONTREE_API JSON_Status json_verify_lossless_with_comments_report(const char *string,
                                                                   size_t length,
                                                                   JSON_Error *error);

/* JSONSuccess when `string` is valid UTF-8 (no overlong forms, surrogates or
 * code points past U+10FFFF), as the string and name setters require. Else
 * JSONFailure, and `error`, when not null, gets the place of the first byte
 * that begins no valid sequence; a null `string` fails with no place. */
JSONTREE_API JSON_Status json_verify_utf8_report(const char *string, JSON_Error *error);

/* ---- Serialization ---------------------------------------------------- */

/* Two forms of text: compact, with no white space outside strings, and
 * pretty (the _pretty functions), one member or item per line, four spaces
 * of indentation a level, a space after each name's colon, empty containers
 * as {} and [], no line feed at the end. Any value serializes, a scalar too.
 * Strings are quoted, a string value with all json_value_get_string_len of
 * its bytes, with the escapes \" \\ \/ \b \f \n \r \t for those bytes and
 * \u00XX for the other bytes below 0x20 (a NUL too); every other byte is written
 * as it stands (not checked for UTF-8). A number that keeps its literal
 * (json_value_get_number_text) is written as that literal; any other finite
 * number as a text that reads back as the same double, whole numbers of
 * magnitude below 2^53 without a fraction (negative zero as 0). A value
 * cannot be serialized when it is null, holds an infinite or NaN number,
 * nests deeper than JSON_MAX_DEPTH, or would give a text longer than INT_MAX
 * bytes.
 *
 * Sizes count the terminating NUL; 0 means the value cannot be serialized.
 * A regular file is replaced whole, by a rename: readers see the old file or
 * the new one, which keeps the old one's owner, group, mode and extended
 * attributes. A symbolic link at the name when the call starts is resolved
 * once and its target replaced; a FIFO or a device is written in place. A
 * file that is missing is created, with mode 0666 less the umask. A file
 * that is a mount of its own (bind-mounted), which no rename can replace, is
 * written in place, through a journal beside it: while the write lasts, or
 * after it was interrupted, the file itself may hold part of the new text,
 * but the next read (json_parse_file*, json_file_open) settles it and finds
 * the old text or the new one, whole. */

/* The size of the text, NUL included; 0 when the value cannot be serialized. */
JSONTREE_API size_t json_serialization_size(const JSON_Value *value);
/* Writes the text and its NUL into `buf`. JSONFailure, writing nothing, when
 * `buf` is null, `buf_size_in_bytes` is below the size or the value cannot be
 * serialized. */
JSONTREE_API JSON_Status json_serialize_to_buffer(const JSON_Value *value, char *buf,
                                                  size_t buf_size_in_bytes);
/* Makes the text the content of the file `filename` names (see File names).
 * JSONFailure when `filename` is null or the value cannot be serialized,
 * touching no file, or when a step of the write fails (errno tells why when
 * a system call failed). A regular file is then read as it was (one written
 * in place: as it was or with the new text, whole), except after a failure
 * of the last step, the sync of its directory, when the new text is in place
 * already. */
JSONTREE_API JSON_Status json_serialize_to_file(const JSON_Value *value, const char *filename);
/* The text in a new block from the allocation hook, which belongs to the
 * caller, who releases it with json_free_serialized_string. Null when the
 * value cannot be serialized or memory runs out. */
JSONTREE_API char *json_serialize_to_string(const JSON_Value *value);

/* The same four in the pretty form. */
JSONTREE_API size_t json_serialization_size_pretty(const JSON_Value *value);
JSONTREE_API JSON_Status json_serialize_to_buffer_pretty(const JSON_Value *value, char *buf,
                                                         size_t buf_size_in_bytes);
JSONTREE_API JSON_Status json_serialize_to_file_pretty(const JSON_Value *value,
                                                       const char *filename);
JSONTREE_API char *json_serialize_to_string_pretty(const JSON_Value *value);

/* Releases a text from json_serialize_to_string or _pretty through the
 * release hook; null is handed on to the hook, which ignores it. */
JSONTREE_API void json_free_serialized_string(char *string);

/* ---- Held files: read, change, replace the same file ------------------ */

/* A file opened once for a read-modify-write. A symbolic link is resolved
 * when the file is opened and never again: every later step works on that
 * directory and that inode, whatever another user does to the names. The
 * handle belongs to the caller, who releases it with json_file_close.
 *
 * json_file_open reads the whole regular file; anything else (a FIFO, a
 * device, a directory) is refused at once. With lock_wait_ms >= 0 it also
 * takes an exclusive lock (flock) on the file, waiting at most that many
 * milliseconds for a holder to let go; other writers that use the same
 * lock then never rewrite from a stale copy. The wait is one deadline for
 * the whole call: a file renamed over the name meanwhile is opened and
 * waited for in what is left of it, and a wait of 0 tries once. A negative
 * wait takes no lock. Null on failure; errno is EWOULDBLOCK when no lock on
 * the file the name holds was obtained in time. A file system without locks
 * is read unlocked. Every failure sets errno: as the system call that failed
 * sets it, EISDIR for a directory, EINVAL for any other file that is not
 * regular, EFBIG for one too large to hold, ENOMEM when memory runs out. */
typedef struct json_file_t JSON_File;
JSONTREE_API JSON_File *json_file_open(const char *filename, int lock_wait_ms);
/* The text of the file the handle holds, NUL-terminated: as read when the
 * file was opened, then as written by each json_file_replace that made it
 * the file's content. Null for null. It stays valid until json_file_close,
 * or until a json_file_replace gives the handle a new text. */
JSONTREE_API const char *json_file_text(const JSON_File *file);
/* The number of bytes of that text: more than strlen(json_file_text(file))
 * when the file read holds a NUL byte, where the text ends for every parser.
 * 0 for null. */
JSONTREE_API size_t json_file_length(const JSON_File *file);
/* Makes `text` the file's content, as json_serialize_to_file does (replaced
 * whole, or written in place through a journal; owner, group, mode and
 * extended attributes kept), but only if the name still holds the inode that
 * was read: otherwise it fails and writes nothing. The text is copied
 * (through the allocation hooks) before anything is written; when the copy
 * cannot be made the call fails and writes nothing. After a success the
 * handle holds the new file, still locked if it was, and its text. A failure
 * after the new file took the name (only the directory could not be synced)
 * leaves the handle holding the new file and its text too. Every failure
 * sets errno; ESTALE means the name no longer holds the file read. */
JSONTREE_API JSON_Status json_file_replace(JSON_File *file, const char *text);
/* Releases the lock and the handle; null is ignored. */
JSONTREE_API void json_file_close(JSON_File *file);

/* ---- Objects ---------------------------------------------------------- */

/* An object holds at most 960 members, each name once (names compare byte
 * for byte). Lookups by name: the value of the member `name`, or its object,
 * array, text, number or boolean (1 or 0) when the value is of that type.
 * Null, 0.0 or -1 (booleans) when the object or the name is null, no member
 * has that name, or its value is of another type. What they return stays the
 * tree's (see Lifetimes). */
JSONTREE_API JSON_Value *json_object_get_value(const JSON_Object *object, const char *name);
JSONTREE_API const char *json_object_get_string(const JSON_Object *object, const char *name);
JSONTREE_API size_t json_object_get_string_len(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Object *json_object_get_object(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Array *json_object_get_array(const JSON_Object *object, const char *name);
JSONTREE_API double json_object_get_number(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_get_boolean(const JSON_Object *object, const char *name);
/* 1 when the object has a member `name`, or (_of_type) one whose value is
 * of type `type`; else 0, for a null object or name and for JSONError too.
 * A member that holds null, 0 or false exists, which the lookups above
 * cannot tell from a missing one. */
JSONTREE_API int json_object_has_value(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_has_value_of_type(const JSON_Object *object, const char *name,
                                               JSON_Value_Type type);

/* Dotted paths: "outer.inner.leaf" steps through member objects only. The
 * path is split at every full stop, with no escape, so a member whose name
 * holds a full stop cannot be reached, and an empty segment names the member
 * with the empty name. A member on the way that is missing or holds anything
 * but an object (an array too) ends the walk. The lookups give what the
 * lookups by name give for the last segment in the object the walk reached,
 * or the same neutral result when the walk ended early or an argument is
 * null. They allocate nothing. */
JSONTREE_API JSON_Value *json_object_dotget_value(const JSON_Object *object, const char *name);
JSONTREE_API const char *json_object_dotget_string(const JSON_Object *object, const char *name);
JSONTREE_API size_t json_object_dotget_string_len(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Object *json_object_dotget_object(const JSON_Object *object, const char *name);
JSONTREE_API JSON_Array *json_object_dotget_array(const JSON_Object *object, const char *name);
JSONTREE_API double json_object_dotget_number(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_dotget_boolean(const JSON_Object *object, const char *name);
/* json_object_has_value and _of_type for the member the path leads to; 0
 * when the walk ends early. */
JSONTREE_API int json_object_dothas_value(const JSON_Object *object, const char *name);
JSONTREE_API int json_object_dothas_value_of_type(const JSON_Object *object, const char *name,
                                                  JSON_Value_Type type);

/* The number of members (0 for null), and the name of the member at `index`
 * (null for null or an index of the count or more). Members keep the order
 * they were added in (a parsed object: the order of its text) until a
 * removal moves the last member into the gap; a member whose value is
 * replaced keeps its place. A name stays valid until its member is removed,
 * or the object cleared or released. */
JSONTREE_API size_t json_object_get_count(const JSON_Object *object);
JSONTREE_API const char *json_object_get_name(const JSON_Object *object, size_t index);

/* json_object_set_value stores `value` as the member `name`: a member of
 * that name keeps its place and takes the value, else a new member is added
 * after the others, with a copy of the name. On success the value belongs to
 * the object; on failure it stays the caller's. JSONFailure for a null
 * argument, a 961st member, or when memory runs out. A value that is or
 * holds this object (or one nested deeper than JSON_MAX_DEPTH) is refused:
 * it would make a cycle. The value must not be held by a container already;
 * that is not checked, and breaking the rule corrupts the tree. The typed
 * forms make the
 * value first (a copy of `string`, refused when null or not valid UTF-8; 1
 * for any non-zero `boolean`), and release it again when the store fails.
 *
 * Setting (or replacing) releases the value that was there. Storing that very
 * value again succeeds and changes nothing; storing a value that lies inside
 * the one it would replace fails and changes nothing. The same holds for
 * json_array_replace_value and the dotted stores. A name (or dotted path) that
 * is not valid UTF-8 is refused, as such a string is, and changes nothing;
 * names read from JSON text are kept as the parser decodes them. */
JSONTREE_API JSON_Status json_object_set_value(JSON_Object *object, const char *name,
                                               JSON_Value *value);
JSONTREE_API JSON_Status json_object_set_string(JSON_Object *object, const char *name,
                                                const char *string);
JSONTREE_API JSON_Status json_object_set_number(JSON_Object *object, const char *name,
                                                double number);
JSONTREE_API JSON_Status json_object_set_boolean(JSON_Object *object, const char *name,
                                                 int boolean);
JSONTREE_API JSON_Status json_object_set_null(JSON_Object *object, const char *name);

/* The dotted stores walk the path as the dotted lookups do, but add an empty
 * object for each member on the way that is missing; a member on the way
 * that holds anything but an object makes the store fail, and stays as it
 * was. The last segment is stored as json_object_set_value does. JSONFailure
 * also for a null argument, and when an object on the way is full. A failed
 * dotset leaves the value with the caller; the typed forms release the value
 * they made. Objects created on the way stay after a failure. */
JSONTREE_API JSON_Status json_object_dotset_value(JSON_Object *object, const char *name,
                                                  JSON_Value *value);
JSONTREE_API JSON_Status json_object_dotset_string(JSON_Object *object, const char *name,
                                                   const char *string);
JSONTREE_API JSON_Status json_object_dotset_number(JSON_Object *object, const char *name,
                                                   double number);
JSONTREE_API JSON_Status json_object_dotset_boolean(JSON_Object *object, const char *name,
                                                    int boolean);
JSONTREE_API JSON_Status json_object_dotset_null(JSON_Object *object, const char *name);

/* json_object_remove releases the member `name`, its name and its value;
 * json_object_dotremove the member the path leads to, never the objects on
 * the way, even when they are left empty. JSONFailure, changing nothing,
 * when no such member exists or an argument is null. json_object_clear
 * releases every member, keeping the object's slot storage; JSONFailure only
 * for null. Removal moves the last member into the gap. */
JSONTREE_API JSON_Status json_object_remove(JSON_Object *object, const char *name);
JSONTREE_API JSON_Status json_object_dotremove(JSON_Object *object, const char *name);
JSONTREE_API JSON_Status json_object_clear(JSON_Object *object);

/* ---- Arrays ----------------------------------------------------------- */

/* An array holds at most 122880 items. Lookups by index, 0 to count - 1: the
 * item, or its object, array, text, number or boolean (1 or 0) when it is of
 * that type; null, 0.0 or -1 (booleans) for a null array, an index of the
 * count or more, or an item of another type. What they return stays the
 * tree's (see Lifetimes). The count is 0 for null. */
JSONTREE_API JSON_Value *json_array_get_value(const JSON_Array *array, size_t index);
JSONTREE_API const char *json_array_get_string(const JSON_Array *array, size_t index);
JSONTREE_API size_t json_array_get_string_len(const JSON_Array *array, size_t index);
JSONTREE_API JSON_Object *json_array_get_object(const JSON_Array *array, size_t index);
JSONTREE_API JSON_Array *json_array_get_array(const JSON_Array *array, size_t index);
JSONTREE_API double json_array_get_number(const JSON_Array *array, size_t index);
JSONTREE_API int json_array_get_boolean(const JSON_Array *array, size_t index);
JSONTREE_API size_t json_array_get_count(const JSON_Array *array);

/* Releases the item at `ix`; JSONFailure for null or an index of the count
 * or more. Removal moves the last item into the gap. */
JSONTREE_API JSON_Status json_array_remove(JSON_Array *array, size_t ix);

/* Releases the item at `ix` and puts `value` in its place, as the object
 * setters do (the same value again, a value inside the one replaced, who
 * owns the value, what must not be stored). JSONFailure for a null argument
 * or an index of the count or more. The typed forms make the value as the
 * object setters do, and release it when the replacement fails. */
JSONTREE_API JSON_Status json_array_replace_value(JSON_Array *array, size_t ix, JSON_Value *value);
JSONTREE_API JSON_Status json_array_replace_string(JSON_Array *array, size_t i, const char *string);
JSONTREE_API JSON_Status json_array_replace_number(JSON_Array *array, size_t i, double number);
JSONTREE_API JSON_Status json_array_replace_boolean(JSON_Array *array, size_t i, int boolean);
JSONTREE_API JSON_Status json_array_replace_null(JSON_Array *array, size_t i);

/* Releases every item, keeping the array's slot storage; JSONFailure only
 * for null. */
JSONTREE_API JSON_Status json_array_clear(JSON_Array *array);

/* Adds `value` after the last item. On success it belongs to the array; on
 * failure it stays the caller's. JSONFailure for a null argument, a 122881st
 * item, or when memory runs out, and for a value that is or holds this
 * array, as the object setters refuse theirs. The value must not be held by
 * a container already; that is not checked, and breaking the rule corrupts
 * the tree. The typed forms make the value as the object
 * setters do, and release it when the append fails. */
JSONTREE_API JSON_Status json_array_append_value(JSON_Array *array, JSON_Value *value);
JSONTREE_API JSON_Status json_array_append_string(JSON_Array *array, const char *string);
JSONTREE_API JSON_Status json_array_append_number(JSON_Array *array, double number);
JSONTREE_API JSON_Status json_array_append_boolean(JSON_Array *array, int boolean);
JSONTREE_API JSON_Status json_array_append_null(JSON_Array *array);

/* ---- Values ----------------------------------------------------------- */

/* New values, which belong to the caller until stored into a container; one
 * never stored is released with json_value_free. Null when memory runs out.
 * json_value_init_string copies `string` (through the allocation hook) and
 * gives null for a null string or one that is not valid UTF-8 (overlong
 * forms, surrogates and code points past U+10FFFF included), and for one of
 * 4 GiB or more. json_value_init_number takes any double, but an infinite or NaN one cannot
 * be serialized and equals nothing, itself included. json_value_init_boolean
 * stores 1 for any non-zero `boolean`, else 0. */
JSONTREE_API JSON_Value *json_value_init_object(void);
JSONTREE_API JSON_Value *json_value_init_array(void);
JSONTREE_API JSON_Value *json_value_init_string(const char *string);
JSONTREE_API JSON_Value *json_value_init_number(double number);
JSONTREE_API JSON_Value *json_value_init_boolean(int boolean);
JSONTREE_API JSON_Value *json_value_init_null(void);
/* A new tree that repeats `value`: types, texts, numbers, member order and
 * kept number literals. It belongs to the caller. Null for null, for a value
 * that nests deeper than JSON_MAX_DEPTH, or when memory runs out; a failed
 * copy leaves nothing allocated. */
JSONTREE_API JSON_Value *json_value_deep_copy(const JSON_Value *value);
/* Releases `value` and everything it holds, at any depth; every pointer into
 * it becomes invalid. Only for a value that no container holds: a stored
 * value is released by its container. Null is handed on to the release
 * hook, which ignores it. */
JSONTREE_API void json_value_free(JSON_Value *value);

/* JSONSuccess when `value` has the shape `schema` gives, by types only: a
 * null in the schema matches any value; other scalars in the schema match any
 * value of their type; the first item of a schema array is the schema of
 * every item, further ones being ignored; a schema object matches an object
 * that has each of its members, each matching (other members may follow);
 * empty schema containers accept any container of their kind. JSONFailure
 * otherwise, for a null argument, and past JSON_MAX_DEPTH. */
JSONTREE_API JSON_Status json_validate(const JSON_Value *schema, const JSON_Value *value);
/* Returns 1 when equal, 0 when not, whatever the declared type says: 0 is
 * JSONSuccess, so test the result against 1. Equal means of the same type
 * and: strings byte for byte, booleans alike, objects with the same names
 * (in any order) and equal values, arrays with equal items in the same order,
 * numbers within an absolute 1e-6 of each other (so large numbers must be
 * nearly identical, and the test is not transitive). A number that keeps its
 * literal (json_value_get_number_text) equals a number that keeps the same
 * literal text, and no other, unless it was read as 0 ("1e-400"), which
 * compares as 0 does. Other infinite and NaN numbers equal nothing, not even
 * themselves. Two null pointers are equal; null and a value are not. 0 past
 * JSON_MAX_DEPTH. */
JSONTREE_API JSON_Status json_value_equals(const JSON_Value *a, const JSON_Value *b);

/* Applies `patch` to `target` as an RFC 7386 merge patch, in place: an
 * object patch merges into an object target member by member, a null member
 * removing the target's member of that name, an object member merging into
 * the target's object member, any other member replacing the target's (or
 * being added) as a copy; an object patch merges into any other target as
 * into an empty object; any other patch replaces the target by a copy of
 * itself (arrays are replaced whole, never merged). The target's record
 * stays where it is. Members the target keeps keep their order and, unless
 * the patch changes them, their values; objects merged into keep their
 * JSON_Object; new members follow in the patch's order. What the patch
 * replaces or removes is released, and pointers into it become invalid; the
 * patch is only read, and stays the caller's.
 *
 * JSONFailure, changing nothing, for a null argument, when either value is
 * the other or lies inside the other's tree (or nests deeper than
 * JSON_MAX_DEPTH), when an object would pass 960 members, for a patch that
 * is a number keeping its literal (json_value_get_number_text) which would
 * replace the target whole, and when memory runs out: every block the
 * result needs is obtained through the allocation hooks before the target
 * is touched. */
JSONTREE_API JSON_Status json_value_merge_patch(JSON_Value *target, const JSON_Value *patch);

/* The type of `value`, JSONError for null; its object, array, text, number
 * or boolean (1 or 0) when it is of that type, else null, 0.0 or -1. What
 * they return stays the value's (see Lifetimes). */
JSONTREE_API JSON_Value_Type json_value_get_type(const JSON_Value *value);
JSONTREE_API JSON_Object *json_value_get_object(const JSON_Value *value);
JSONTREE_API JSON_Array *json_value_get_array(const JSON_Value *value);
JSONTREE_API const char *json_value_get_string(const JSON_Value *value);
/* The bytes of a string value's text, without its terminating NUL: more than
 * strlen of it when the text holds a NUL (parsed from "\u0000"), which
 * serializing, copying and comparing keep. 0 when the value is null or not a
 * string, as json_value_get_string then gives null. The _get_string_len
 * lookups of objects, dotted paths and arrays give this for the value they
 * find, and 0 where their _get_string gives null. */
JSONTREE_API size_t json_value_get_string_len(const JSON_Value *value);
JSONTREE_API double json_value_get_number(const JSON_Value *value);
/* The text a parsed number was written as, when its double does not hold it:
 * an integer literal the double holds only rounded (9007199254740993), or a
 * non-zero literal that became 0 (1e-400) or infinite (2e308). Serializing
 * writes this text, so such a number is rewritten as it was read; a deep copy
 * keeps it too. Null for every other value, and for numbers made by
 * json_value_init_number. The text lives as long as the value. */
JSONTREE_API const char *json_value_get_number_text(const JSON_Value *value);
/* 1 or 0 for a boolean value, else -1 (null included). */
JSONTREE_API int json_value_get_boolean(const JSON_Value *value);

/* Short names for json_value_get_type, _object, _array, _string, _number
 * and _boolean, with the same results. */
JSONTREE_API JSON_Value_Type json_type(const JSON_Value *value);
JSONTREE_API JSON_Object *json_object(const JSON_Value *value);
JSONTREE_API JSON_Array *json_array(const JSON_Value *value);
JSONTREE_API const char *json_string(const JSON_Value *value);
JSONTREE_API double json_number(const JSON_Value *value);
JSONTREE_API int json_boolean(const JSON_Value *value);

#ifdef __cplusplus
}
#endif

#endif /* JSONTREE_H */
