/*
 * jsontree: changing one value in a text and keeping every other byte.
 *
 * One part of the public interface, declared for every consumer by
 * <jsontree.h>, which defines the types, limits, JSON_Error and JSONTREE_API
 * these declarations use and includes this file after them.
 */
#ifndef JSONTREE_PUBLIC_EDIT_H
#define JSONTREE_PUBLIC_EDIT_H

#ifndef JSONTREE_H
#error "include <jsontree.h>, which includes <jsontree/edit.h> itself"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Edits of a text ----------------------------------------------------- */

/* A configuration text written by hand keeps its comments and layout through
 * these calls: only the text of the value at the location changes, or a new
 * member or item is written, or a member or item goes with its separator;
 * every other byte stays as it was. The text is read as json_parse_buffer_with_comments reads
 * it (`length` bytes at `text`, comments allowed).
 *
 * What is written follows the layout found around the place: the line end
 * (LF or CR LF) and the indentation unit (tabs, two or four spaces, ...) of
 * the object, the spacing after its colons and commas. A new member goes last
 * in its object: on a line of its own after the last member and any comment
 * on that member's line, before comments on lines of their own, where the
 * members stand one per line; after the last member where the object is on
 * one line. A filled object or array is written on lines of its own,
 * indented from the line of its member, where the members around it stand one
 * per line (a container replaced keeps its own way, on lines or on one line,
 * and one beside a container on one line goes on one line too), else on one
 * line. Values are written as the serializers write them, but a fraction
 * without the zeros of the six-decimal form (52.5167, not 52.516700) and a
 * string's solidus unescaped. A member removed takes its lines with it when
 * it stands on lines of its own (its comment on the same line too); comments
 * on lines of their own stay.
 *
 * Before returning, the new text is read back (with comments) and compared
 * with the document of the old text with the same change made through the
 * tree calls (json_object_dotset_value, json_object_dotremove,
 * json_pointer_add, json_pointer_remove); the call fails unless they are
 * equal and json_verify_lossless_with_comments accepts the new text. It
 * fails too, with nothing written, when the old text does not parse or holds
 * text its document leaves out (see json_verify_lossless_with_comments; the
 * place is the one json_parse_buffer_strict_report gives), when the location
 * names the root, when the location cannot take the change (a member on the
 * way that is not an object, a member to remove that is missing, an index
 * past an array's end), when the change meets a limit of the tree (an object
 * of JSON_MAX_MEMBERS members, a value nested past JSON_MAX_NESTING once
 * written), and when memory runs out.
 *
 * Results: the new text, NUL-terminated, in a block from the allocation hook
 * that the caller releases with json_free_serialized_string; its length in
 * `*new_length` (when `new_length` is not null). Null on failure, `error`
 * (when not null) then telling where and why: a place in the old text (the
 * byte where the location stops, the place of the text that would be lost,
 * or where the edit would have written) or no place (offset, line and
 * column 0: a null argument, a location of more than JSON_MAX_NESTING steps,
 * memory); a success leaves `error` as a success (every number 0, the reason
 * ""). The edits take a few times as long as a parse and an indented
 * serialization of the same text: both texts are read whole, twice each. */

/* Stores `value` at the dotted path `path` (as json_object_dotset_value
 * does: objects missing on the way are made, each written as the layout
 * says). The caller keeps `value`. */
JSONTREE_API char *json_edit_dotset(const char *text, size_t length, const char *path,
                                    const JSON_Value *value, size_t *new_length, JSON_Error *error);
/* Removes the member at the dotted path `path` (as json_object_dotremove
 * does; the objects on the way stay). */
JSONTREE_API char *json_edit_dotremove(const char *text, size_t length, const char *path,
                                       size_t *new_length, JSON_Error *error);

/* Stores `value` at the JSON Pointer `pointer` as json_pointer_add does
 * (RFC 6902 "add": the container must exist; an array takes the value in at
 * the index, the item there and those after it moving up, "-" appending; an
 * object's member of that name takes it). The empty pointer, the root, fails.
 * The caller keeps `value`. */
JSONTREE_API char *json_edit_pointer_set(const char *text, size_t length, const char *pointer,
                                         const JSON_Value *value, size_t *new_length,
                                         JSON_Error *error);
/* Removes the member or item at the JSON Pointer `pointer`, as
 * json_pointer_remove does. */
JSONTREE_API char *json_edit_pointer_remove(const char *text, size_t length, const char *pointer,
                                            size_t *new_length, JSON_Error *error);

/* json_edit_dotset on a file's text, the file then replaced as
 * json_file_replace replaces it: opened with json_file_open (see File
 * names), locked, waiting at most 10 seconds for another holder of the lock,
 * edited, and written over the same inode or renamed over the name only if
 * the name still holds the file read, with every guarantee of the
 * serializers' file writes. JSONSuccess, or JSONFailure with `error` filled
 * and the file as it was (but see json_serialize_to_file for a failure of
 * the last sync); errno tells why when a step on the file failed (EINVAL for
 * a null argument). */
JSONTREE_API JSON_Status json_edit_file_dotset(const char *filename, const char *path,
                                               const JSON_Value *value, JSON_Error *error);

#ifdef __cplusplus
}
#endif

#endif /* JSONTREE_PUBLIC_EDIT_H */
