/*
 * jsontree: serializing a tree to text and files, file names, and held files.
 *
 * One part of the public interface, declared for every consumer by
 * <jsontree.h>, which defines the types, limits and JSONTREE_API these
 * declarations use and includes this file after them.
 */
#ifndef JSONTREE_PUBLIC_SERIALIZE_H
#define JSONTREE_PUBLIC_SERIALIZE_H

#ifndef JSONTREE_H
#error "include <jsontree.h>, which includes <jsontree/serialize.h> itself"
#endif

#ifdef __cplusplus
extern "C" {
#endif

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
 * may write, sticky or not. Once the name has passed through a directory or
 * link owned by a user other than root and the caller, it goes on only into
 * directories, links and files of that same user (EACCES otherwise, nothing
 * written): a user's own links and "..", that could lead out of his files
 * into root's or another user's, are not followed there. A relative link
 * counts from the directory that holds it; more than 40 links in one name
 * fail with ELOOP. A link on /proc (/proc/PID/root, /proc/self/fd/N) is
 * followed by the kernel, never by its text, and kept in the canonical
 * name; one that leads to anything but a directory, and a ".." above the
 * directory it leads to, fail with EOPNOTSUPP. */

/* Writes the canonical absolute name of the existing file `filename` (no
 * ".", "..", repeated slashes or symbolic links; a relative name counts
 * from the working directory) into `buffer`, NUL-terminated, as realpath(3)
 * does, links followed under the rule above. JSONFailure with errno set:
 * as realpath sets it (ENOENT, ENOTDIR, ELOOP, ENAMETOOLONG, ...), EACCES
 * for a link or a step that may not be followed, EOPNOTSUPP for a link on
 * /proc refused, ERANGE when the name does not fit in
 * `size` bytes (PATH_MAX always suffices), EINVAL for a null argument. */
JSONTREE_API JSON_Status json_canonical_filename(const char *filename, char *buffer, size_t size);

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
 * the new one, which keeps the old one's owner, group, mode and exactly its
 * extended attributes: an ACL the directory's default ACL would give a new
 * file, and the old one lacks, is removed before the new one holds any
 * text. A symbolic link at the name when the call starts is resolved
 * once and its target replaced; a FIFO or a device is written in place. A
 * file that is missing is created, with mode 0666 less the umask. A file
 * that is a mount of its own (bind-mounted), which no rename can replace, is
 * written in place, behind a journal of its old text beside it: while the
 * write lasts, or after it was interrupted, the file itself may hold part of
 * the new text, but the readers here (json_parse_file*, json_file_open) read
 * the old text, and the next of them that may write the file puts it back. */

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
 * a system call failed). A regular file is then read as it was, except after
 * a failure of the last step, the sync of its directory, when the new text is
 * in place already. */
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
 * regular and for a null name, EFBIG for one too large to hold, ENOMEM when
 * memory runs out. */
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
/* Writes into `buffer` the name, in the file's directory, of the journal
 * that in-place writes of the file keep beside it (see File names): the
 * file's name between "." and ".~jsontree-journal~", its start and a hash
 * where it is too long for that. A store fails with EEXIST when another file
 * has that name. JSONFailure with errno EINVAL for null, ERANGE when the name
 * and its NUL do not fit in `size` bytes. */
JSONTREE_API JSON_Status json_file_journal_name(const JSON_File *file, char *buffer, size_t size);
/* Releases the lock and the handle; null is ignored. */
JSONTREE_API void json_file_close(JSON_File *file);

#ifdef __cplusplus
}
#endif

#endif /* JSONTREE_PUBLIC_SERIALIZE_H */
