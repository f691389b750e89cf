// What the file modules share. Every file-system call of the library lives
// in them.
//
// Another user may rename, remove or swap any name in a directory it can
// write, at any moment. So a name is resolved once; from then on every step
// goes through the directory and the file held open, new names are created
// exclusively and never followed, and nothing is renamed over a name whose
// inode is not the one expected.
//
// One way carries why a step failed: a function that can fail returns a
// Cause, an errno value, none when it succeeded. It is the failed system
// call's, taken at once, before any cleanup can change errno, or the value
// the function names for a refusal of its own (ESTALE, EACCES, ...); a
// caller passes it on with `if (Cause cause = step()) return cause;`. What a
// step makes, a descriptor or a text, goes to an owner the caller passes
// in; predicates return bool. errno itself is set only where a public call
// returns, from the Cause that reached it (succeeded, below): in
// json_file_open, json_file_replace, json_canonical_filename, and in
// read_file and replace_file for json_parse_file* and
// json_serialize_to_file*. The public header documents the values a caller
// may meet.
#ifndef JSONTREE_FILE_SYSTEM_H
#define JSONTREE_FILE_SYSTEM_H

#include "file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

namespace jsontree::detail {

struct [[nodiscard]] Cause {
    int error = 0;  // an errno value; 0 when nothing failed
    // True when something failed, as for an error code.
    explicit operator bool() const { return error != 0; }
};

// The cause a system call that has just failed left in errno.
inline Cause errno_cause()
{
    return Cause{errno};
}

// Where a public call returns: errno set to the cause of a failure, left as
// it was otherwise; whether nothing failed.
inline bool succeeded(Cause cause)
{
    if (cause)
        errno = cause.error;
    return !cause;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// A file's text, NUL-terminated: `length` bytes before that NUL, more than
// strlen finds when the file holds a NUL byte.
struct FileText {
    TextPtr bytes;
    size_t length = 0;

    std::string_view view() const { return {bytes.get(), length}; }
};

bool same_inode(const struct stat &a, const struct stat &b);

// Whether `name` in `dir_fd` is, itself and not through a link, `expected`.
bool name_holds(int dir_fd, const char *name, const struct stat &expected);

// Opens the regular file `name` (`follow` is 0 or O_NOFOLLOW) into `file`;
// `status` gets the file's. Opening a FIFO without O_NONBLOCK waits for a
// writer that may never come, so the type is checked before anything is
// read: EISDIR for a directory, EINVAL for any other file that is not
// regular, EFBIG for one no buffer can hold.
Cause open_regular(int dir_fd, const char *name, int follow, FileDescriptor &file,
                   struct stat &status);

// Every file made beside a target is named ".<target>.~jsontree-<word>~",
// the target's name shortened to fit: a marker no one types by chance, so
// that the files a person keeps beside the target (".conf.json.backup") are
// never taken for ours. The word is six random letters for a temporary copy,
// "journal" for the journal of an in-place write.
constexpr char RESERVED_MARKER[] = ".~jsontree-";
constexpr int RESERVED_WORD_MAX = 7;
constexpr char RESERVED_END = '~';

// ".<target>.~jsontree-" in `name`; its length.
int reserved_prefix(char (&name)[NAME_MAX + 1], const char *target_name);

// Whether `entry`, found in the directory `dir`, may be followed (a symbolic
// link) or written into (a FIFO, a device): where users other than the
// directory's owner may write (group or others), only when the caller, root
// or the directory's owner owns it, so that no other user can have planted
// it. The rule of the kernel's protected_symlinks and protected_fifos, in
// every directory others may write, sticky or not.
bool entry_trusted(const struct stat &dir, const struct stat &entry);

// The file a name stands for: the directory that holds it, held open
// (O_PATH), and its name there.
struct Target {
    FileDescriptor dir;
    char name[NAME_MAX + 1];
};

// Where `filename` leads, its symbolic links followed under entry_trusted,
// one step at a time from held directories: the one place that follows them.
// A name not there yet is taken as given. EACCES for a link that may not be
// followed, EISDIR for a name that ends in a directory.
Cause locate_target(const char *filename, Target &target);
// The target's directory opened for reading (and syncing) into `dir`.
Cause open_directory(const Target &target, FileDescriptor &dir);

// The file being replaced: held open since it was first seen.
struct HeldInode {
    int fd;
    struct stat status;
};

enum class NameCheck {
    NONE,
    STILL_HELD
};

// EIO for a write that wrote nothing and reported no error.
Cause write_all(int fd, std::string_view text);

// Whether an exclusive lock was had at once. A file system without locks
// gives none, and that is no refusal; a refusal's cause is LOCK_HELD.
bool lock_now(int fd);
constexpr Cause LOCK_HELD{EWOULDBLOCK};

// A point on the monotonic clock that a whole open must end by, however
// often the name moves meanwhile.
class Deadline {
public:
    explicit Deadline(int wait_ms)
    {
        clock_gettime(CLOCK_MONOTONIC, &end_);
        int64_t end_ns = end_.tv_nsec + int64_t{wait_ms} * NS_PER_MS;
        end_.tv_sec += time_t(end_ns / NS_PER_S);
        end_.tv_nsec = long(end_ns % NS_PER_S);
    }
    // Milliseconds left, rounded up; 0 once the deadline has passed.
    int64_t remaining_ms() const
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t left_ns =
            int64_t{end_.tv_sec - now.tv_sec} * NS_PER_S + (end_.tv_nsec - now.tv_nsec);
        return left_ns > 0 ? (left_ns + NS_PER_MS - 1) / NS_PER_MS : 0;
    }

private:
    static constexpr int64_t NS_PER_MS = 1000000, NS_PER_S = 1000000000;
    timespec end_{};
};

// An exclusive lock, waited for until `deadline` at most: any reader of the
// file can hold a lock on it, so a blocking flock could be held hostage for
// ever. A file system without locks gives none, and that is no failure.
Cause lock_within(int fd, const Deadline &deadline);

Cause sync_directory(int dir_fd);

// Opens `name` into `file` for writing, never through a link and without
// waiting for a FIFO's reader, and only if it is still the inode `expected`
// (ESTALE otherwise).
Cause open_for_writing(int dir_fd, const char *name, int access, const struct stat &expected,
                       FileDescriptor &file);

// Gives the file `fd` the owner, group and the permission bits among `kept`
// of `replaced`, as far as this process may.
Cause take_owner_and_mode(int fd, const struct stat &replaced, mode_t kept);

// Gives the file `to` what guards the held file now: its owner, group, the
// permission bits among `kept`, and exactly its extended attributes (ACLs and
// security labels among them): one `to` was given at creation, an ACL
// inherited from the directory's default ACL, is removed unless the held
// file has it too. The one way every file made beside a target takes them,
// before it holds any text.
Cause take_properties(const HeldInode &held, int to, mode_t kept);

// Removes the regular file `name` unless a live writer holds it locked.
void remove_if_abandoned(int dir_fd, const char *name);

// The name of the journal of in-place writes to `target_name`, beside it.
void journal_name(char (&name)[NAME_MAX + 1], const char *target_name);

// Writes `text` over the regular file `name`, which cannot be renamed over,
// behind a journal of the text it replaces: a kill, a failure or a crash
// before success is reported leaves what the next access reads as the old
// text. The file's lock is waited for at most 10 seconds (EWOULDBLOCK).
// EEXIST when the journal's name is taken (journal_name).
// Once the journal is gone, even when the directory's sync fails after that,
// `written` holds the file (the held descriptor's lock with it).
Cause overwrite_in_place(int dir_fd, const char *name, const HeldInode &held, const char *text,
                         FileDescriptor &written);

// The text of the regular file `fd`, `name` in `dir_fd`, read from its
// start: never a write of ours half done. A journal that an interrupted
// in-place write left beside it is settled (the old text put back) where the
// file's lock can be had (taken here unless `locked`) and this process may
// write; else the old text is read from the journal. A reader without the
// lock that finds something it cannot confirm waits for the lock, at most
// 10 seconds (EWOULDBLOCK). `status` is the file's, and is updated.
Cause read_settled(int dir_fd, const char *name, int fd, struct stat &status, bool locked,
                   FileText &text);

// Replaces the regular file `name` in `dir_fd` (`held` is null for a new
// file). With STILL_HELD nothing is renamed over a name that no longer holds
// the held inode (ESTALE). Once the new file has taken the name (written in
// place: once its journal is gone), even when the directory's sync fails
// after that, `new_file` holds it, still locked.
Cause replace_regular(int dir_fd, const char *name, const HeldInode *held, NameCheck check,
                      const char *text, FileDescriptor &new_file);

}  // namespace jsontree::detail

#endif
