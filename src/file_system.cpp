// The steps the file modules share: opening, checking, writing, locking and
// syncing what a name in a held directory stands for.
#include "file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

using namespace jsontree::detail;

namespace {

// Only a regular file has a meaningful size: a directory opens fine but
// reports a seek end far beyond any text, which would become an absurd
// allocation request.
Cause refuse_irregular(const struct stat &status)
{
    if (!S_ISREG(status.st_mode) || status.st_size < 0)
        return Cause{S_ISDIR(status.st_mode) ? EISDIR : EINVAL};
    if (static_cast<unsigned long long>(status.st_size) >= SIZE_MAX)
        return Cause{EFBIG};
    return {};
}

// The names of the extended attributes of `fd`, each NUL-terminated, into
// `names`; their total length. A file system without extended attributes
// has none.
Cause list_attributes(int fd, TextPtr &names, ssize_t &length)
{
    for (;;) {
        length = flistxattr(fd, nullptr, 0);
        if (length == 0 || (length < 0 && errno == ENOTSUP)) {
            length = 0;
            return {};
        }
        if (length < 0)
            return errno_cause();
        names.reset(static_cast<char *>(jsontree_malloc(size_t(length))));
        if (!names)
            return Cause{ENOMEM};
        length = flistxattr(fd, names.get(), size_t(length));
        // ERANGE: an attribute was added since the list was measured.
        if (length >= 0 || errno != ERANGE)
            return length < 0 ? errno_cause() : Cause{};
    }
}

bool listed(const char *name, const TextPtr &names, ssize_t length)
{
    for (const char *listed = names.get(); listed < names.get() + length;
         listed += strlen(listed) + 1) {
        if (strcmp(listed, name) == 0)
            return true;
    }
    return false;
}

// ACLs and security labels guard the file as much as its mode does, so the
// new file ends with exactly the old one's: what it was given at creation
// (an ACL inherited from the directory's default ACL) and the old file lacks
// is removed, the rest copied. One that cannot be copied or removed fails
// the write.
Cause take_extended_attributes(int from, int to)
{
    TextPtr kept, given;
    ssize_t kept_length = 0, given_length = 0;
    if (Cause cause = list_attributes(from, kept, kept_length))
        return cause;
    if (Cause cause = list_attributes(to, given, given_length))
        return cause;
    for (const char *name = given.get(); name < given.get() + given_length;
         name += strlen(name) + 1) {
        if (!listed(name, kept, kept_length) && fremovexattr(to, name) != 0 && errno != ENODATA)
            return errno_cause();
    }
    TextPtr value;
    size_t capacity = 0;
    for (const char *name = kept.get(); name < kept.get() + kept_length; name += strlen(name) + 1) {
        ssize_t size = fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            return errno_cause();
        if (size_t(size) > capacity) {
            value.reset(static_cast<char *>(jsontree_malloc(size_t(size))));
            if (!value)
                return Cause{ENOMEM};
            capacity = size_t(size);
        }
        size = fgetxattr(from, name, value.get(), capacity);
        if (size < 0 || fsetxattr(to, name, value.get(), size_t(size), 0) != 0)
            return errno_cause();
    }
    return {};
}

// Owner and group where this process may give the file away (EPERM, or
// EINVAL for an owner its user namespace cannot map, leave its own); a writer
// that may not give it to the owner may still keep the group, one it belongs
// to.
Cause take_owner(int fd, const struct stat &replaced)
{
    auto refused = [] { return errno == EPERM || errno == EINVAL; };
    if (fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
        if (!refused() || (fchown(fd, uid_t(-1), replaced.st_gid) != 0 && !refused()))
            return errno_cause();
    }
    return {};
}

}  // namespace

namespace jsontree::detail {

bool same_inode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool name_holds(int dir_fd, const char *name, const struct stat &expected)
{
    struct stat named;
    return fstatat(dir_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_inode(named, expected);
}

Cause open_regular(int dir_fd, const char *name, int follow, FileDescriptor &file,
                   struct stat &status)
{
    FileDescriptor fd(openat(dir_fd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | follow));
    if (fd.get() < 0 || fstat(fd.get(), &status) != 0)
        return errno_cause();
    if (Cause cause = refuse_irregular(status))
        return cause;
    file.reset(fd.release());
    return {};
}

int reserved_prefix(char (&name)[NAME_MAX + 1], const char *target_name)
{
    // Room left by the dot before it, the marker, the longest word and the end.
    constexpr int TARGET_ROOM =
        NAME_MAX - 1 - int(sizeof RESERVED_MARKER - 1) - RESERVED_WORD_MAX - 1;
    return snprintf(name, sizeof name, ".%.*s%s", TARGET_ROOM, target_name, RESERVED_MARKER);
}

bool entry_trusted(const struct stat &dir, const struct stat &entry)
{
    return (dir.st_mode & (S_IWGRP | S_IWOTH)) == 0 || entry.st_uid == geteuid() ||
           entry.st_uid == 0 || entry.st_uid == dir.st_uid;
}

Cause open_directory(const Target &target, FileDescriptor &dir)
{
    FileDescriptor fd(openat(target.dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno_cause();
    dir.reset(fd.release());
    return {};
}

Cause write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno_cause();
        if (written == 0)
            return Cause{EIO};
        text.remove_prefix(size_t(written));
    }
    return {};
}

bool lock_now(int fd)
{
    return flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

Cause lock_within(int fd, const Deadline &deadline)
{
    constexpr int64_t LONGEST_PAUSE_MS = 50;
    int64_t pause_ms = 1;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return {};
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return {};
        int64_t left_ms = deadline.remaining_ms();
        if (left_ms == 0)
            return LOCK_HELD;
        // At most LONGEST_PAUSE_MS: always under the second tv_nsec allows.
        timespec pause{0, long(pause_ms < left_ms ? pause_ms : left_ms) * 1000000L};
        nanosleep(&pause, nullptr);
        pause_ms = pause_ms * 2 < LONGEST_PAUSE_MS ? pause_ms * 2 : LONGEST_PAUSE_MS;
    }
}

// File systems that cannot sync a directory report EINVAL: nothing more can
// be done there.
Cause sync_directory(int dir_fd)
{
    return fsync(dir_fd) == 0 || errno == EINVAL ? Cause{} : errno_cause();
}

Cause open_for_writing(int dir_fd, const char *name, int access, const struct stat &expected,
                       FileDescriptor &file)
{
    FileDescriptor fd(openat(dir_fd, name, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (fd.get() < 0 || fstat(fd.get(), &status) != 0)
        return errno_cause();
    if (!same_inode(status, expected))
        return Cause{ESTALE};
    int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return errno_cause();
    file.reset(fd.release());
    return {};
}

// The permission bits come last: a change of owner may have cleared them.
Cause take_owner_and_mode(int fd, const struct stat &replaced, mode_t kept)
{
    if (Cause cause = take_owner(fd, replaced))
        return cause;
    return fchmod(fd, replaced.st_mode & kept) == 0 ? Cause{} : errno_cause();
}

// A writer holds a lock on its temporary file or journal until it is renamed
// or removed; one that nobody locks was left by a killed writer.
void remove_if_abandoned(int dir_fd, const char *name)
{
    FileDescriptor stray;
    struct stat status;
    if (open_regular(dir_fd, name, O_NOFOLLOW, stray, status))
        return;  // nothing there, or nothing that is ours to remove
    if (flock(stray.get(), LOCK_EX | LOCK_NB) == 0 && name_holds(dir_fd, name, status))
        unlinkat(dir_fd, name, 0);
}

// The held file's owner and mode are read anew: they may have changed since
// it was opened. The mode is set after the attributes, so that an ACL taken
// or removed leaves the permission bits exactly the old file's.
Cause take_properties(const HeldInode &held, int to, mode_t kept)
{
    struct stat current;
    if (fstat(held.fd, &current) != 0)
        return errno_cause();
    if (Cause cause = take_owner(to, current))
        return cause;
    if (Cause cause = take_extended_attributes(held.fd, to))
        return cause;
    return fchmod(to, current.st_mode & kept) == 0 ? Cause{} : errno_cause();
}

}  // namespace jsontree::detail
