// Safe replacement: the new text goes into a temporary file beside the
// target, takes the old file's owner, mode and attributes, reaches the disk
// and is renamed over the target. A target that no rename can replace is
// written in place instead (file_journal.cpp).
#include "file_system.h"

#include <fcntl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

using namespace jsontree::detail;

namespace {

// ---- Temporary files

constexpr unsigned NAME_ATTEMPTS = 100;
constexpr char NAME_LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int RANDOM_LETTERS = 6;

// The reserved prefix, six letters varying with time, process, thread and
// attempt, and the end mark. Exclusive creation settles any collision.
void make_temporary_name(char (&name)[NAME_MAX + 1], const char *target_name, unsigned attempt)
{
    // Multiplying by this odd constant spreads the few changing input bits
    // over the whole word.
    constexpr uint64_t SPREAD = 0x9E3779B97F4A7C15u;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Threads of one process differ in their stacks.
    uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 32) ^
                    (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&now)) << 8) ^ attempt;
    int prefix = reserved_prefix(name, target_name);
    for (int i = 0; i < RANDOM_LETTERS; i++) {
        seed *= SPREAD;
        name[prefix + i] = NAME_LETTERS[(seed >> 40) % (sizeof NAME_LETTERS - 1)];
    }
    name[prefix + RANDOM_LETTERS] = RESERVED_END;
    name[prefix + RANDOM_LETTERS + 1] = '\0';
}

bool is_temporary_name(const char *name, const char *prefix, size_t prefix_length)
{
    if (strncmp(name, prefix, prefix_length) != 0 ||
        strlen(name) != prefix_length + RANDOM_LETTERS + 1)
        return false;
    return strspn(name + prefix_length, NAME_LETTERS) == RANDOM_LETTERS &&
           name[prefix_length + RANDOM_LETTERS] == RESERVED_END;
}

// The record getdents64 fills, laid out by the kernel alike on every
// architecture. The C libraries' own name for it is not portable: musl
// declares dirent64 only under _LARGEFILE64_SOURCE.
struct KernelDirectoryEntry {
    uint64_t inode;
    int64_t offset;
    unsigned short record_length;
    unsigned char type;
    char name[1];
};
static_assert(offsetof(KernelDirectoryEntry, name) == 19, "the kernel's record has no padding");

// Temporary files of this target left by killed writers.
void remove_strays(int dir_fd, const char *target_name)
{
    char prefix[NAME_MAX + 1];
    size_t prefix_length = size_t(reserved_prefix(prefix, target_name));
    FileDescriptor listing(openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listing.get() < 0)
        return;
    // Read with getdents64 into a buffer of its own: opendir would allocate
    // outside the hooks.
    alignas(8) char entries[4096];
    for (;;) {
        long length = syscall(SYS_getdents64, listing.get(), entries, sizeof entries);
        if (length <= 0)
            return;
        for (long offset = 0; offset < length;) {
            unsigned short record_length;
            memcpy(&record_length, entries + offset + offsetof(KernelDirectoryEntry, record_length),
                   sizeof record_length);
            const char *name = entries + offset + offsetof(KernelDirectoryEntry, name);
            if (is_temporary_name(name, prefix, prefix_length))
                remove_if_abandoned(dir_fd, name);
            offset += record_length;
        }
    }
}

// The new file while it is written, in the target's directory, locked by its
// writer from creation on. It is removed again unless it was renamed over the
// target; an unnamed (O_TMPFILE) file vanishes by itself, even when the
// process is killed, and gets a name of its own only just before the rename.
class TemporaryFile {
public:
    explicit TemporaryFile(int dir_fd) : dir_fd_(dir_fd) {}
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return fd_.get(); }

    // A file that replaces another starts private, until it has taken the
    // other's owner and mode; a new one gets 0666 less the umask.
    Cause create(const char *target_name, bool replaces)
    {
        mode_ = replaces ? S_IRUSR | S_IWUSR : 0666;
        fd_.reset(openat(dir_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_));
        if (fd_.get() >= 0)
            return lock_now(fd_.get()) ? Cause{} : LOCK_HELD;
        // Kernels and file systems without O_TMPFILE get a named file.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno_cause();
        return claim_name(target_name, [&](const char *name) { return create_named(name); });
    }

    // A name of its own, unique to this write, for a file still unnamed.
    Cause take_own_name(const char *target_name)
    {
        if (named_)
            return {};
        return claim_name(target_name, [&](const char *name) { return link_as(name); });
    }

    // Puts the named file under the target's name in one step.
    Cause rename_over(const char *target_name)
    {
        if (renameat(dir_fd_, name_, dir_fd_, target_name) != 0)
            return errno_cause();
        named_ = false;
        return {};
    }

    // The file, still locked, once it has become the target.
    int release() { return fd_.release(); }

    void discard()
    {
        if (named_)
            unlinkat(dir_fd_, name_, 0);
        named_ = false;
        fd_.reset();
    }

private:
    // Tries fresh names until `take(name)` succeeds or fails for a reason
    // other than the name being taken (EEXIST).
    template <typename Take>
    Cause claim_name(const char *target_name, Take take)
    {
        for (unsigned attempt = 0; attempt < NAME_ATTEMPTS; attempt++) {
            make_temporary_name(name_, target_name, attempt);
            Cause cause = take(name_);
            named_ = !cause;
            if (cause.error != EEXIST)
                return cause;
        }
        return Cause{EEXIST};
    }

    // Between the creation and the lock, another write's sweep may find the
    // file unlocked and remove it; then the name is given up like a taken one.
    Cause create_named(const char *name)
    {
        fd_.reset(
            openat(dir_fd_, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_));
        if (fd_.get() < 0)
            return errno_cause();
        struct stat created;
        bool locked = lock_now(fd_.get());
        if (locked && fstat(fd_.get(), &created) == 0 && name_holds(dir_fd_, name, created))
            return {};
        fd_.reset();
        return Cause{EEXIST};
    }

    Cause link_as(const char *name)
    {
        if (linkat(fd_.get(), "", dir_fd_, name, AT_EMPTY_PATH) == 0)
            return {};
        if (errno == EEXIST)
            return errno_cause();
        // Older kernels want CAP_DAC_READ_SEARCH for AT_EMPTY_PATH; the link
        // through /proc needs no privilege.
        char proc_path[32];
        snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_.get());
        if (linkat(AT_FDCWD, proc_path, dir_fd_, name, AT_SYMLINK_FOLLOW) != 0)
            return errno_cause();
        return {};
    }

    int dir_fd_;
    FileDescriptor fd_;
    mode_t mode_ = 0;
    bool named_ = false;
    char name_[NAME_MAX + 1] = {};
};

// ---- Writing

// A FIFO or a device has a reader behind its name: it is written through,
// never replaced, and only when no other user can have planted it there
// (EACCES). A FIFO that nobody reads fails at once.
Cause write_through(int dir_fd, const char *name, const struct stat &seen, const char *text)
{
    struct stat directory;
    if (fstat(dir_fd, &directory) != 0)
        return errno_cause();
    if (!entry_trusted(directory, seen))
        return Cause{EACCES};
    FileDescriptor fd;
    if (Cause cause = open_for_writing(dir_fd, name, O_WRONLY, seen, fd))
        return cause;
    return write_all(fd.get(), text);
}

// A file that is a mount of its own (a bind-mounted file) cannot be renamed
// over. Kernels that report mount ids tell so before a copy is made, so none
// is left beside the file should its removal fail; elsewhere the rename's
// EBUSY tells.
bool is_mount_of_its_own(int dir_fd, int file_fd)
{
#ifdef STATX_MNT_ID
    struct statx dir = {}, file = {};
    return statx(dir_fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &dir) == 0 &&
           statx(file_fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &file) == 0 &&
           (dir.stx_mask & file.stx_mask & STATX_MNT_ID) && dir.stx_mnt_id != file.stx_mnt_id;
#else
    (void)dir_fd;
    (void)file_fd;
    return false;
#endif
}

// The regular file, missing file, FIFO or device `filename` leads to,
// replaced or written through.
Cause replace_named(const char *filename, const char *text)
{
    Target target;
    if (Cause cause = locate_target(filename, target))
        return cause;
    FileDescriptor dir;
    if (Cause cause = open_directory(target, dir))
        return cause;
    FileDescriptor new_file;  // closed here: only a held file is kept
    struct stat seen;
    if (fstatat(dir.get(), target.name, &seen, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return errno_cause();
        return replace_regular(dir.get(), target.name, nullptr, NameCheck::NONE, text, new_file);
    }
    // Links were resolved above: one here now was put in since, and what
    // opening it without following would say is said.
    if (S_ISLNK(seen.st_mode))
        return Cause{ELOOP};
    if (!S_ISREG(seen.st_mode))
        return write_through(dir.get(), target.name, seen, text);
    HeldInode held{-1, {}};
    FileDescriptor file;
    if (Cause cause = open_regular(dir.get(), target.name, O_NOFOLLOW, file, held.status))
        return cause;
    held.fd = file.get();
    return replace_regular(dir.get(), target.name, &held, NameCheck::NONE, text, new_file);
}

}  // namespace

namespace jsontree::detail {

// Renamed over, the target shows readers the old file or the new one, and
// on failure keeps its bytes and its inode. Written in place, it may hold a
// part of the new text until the store ends or the next access settles its
// journal, both putting the old text back unless the store succeeded.
Cause replace_regular(int dir_fd, const char *name, const HeldInode *held, NameCheck check,
                      const char *text, FileDescriptor &new_file)
{
    // ESTALE tells a caller that the name no longer holds the file it read.
    auto still_held = [&] {
        bool holds = check == NameCheck::NONE || name_holds(dir_fd, name, held->status);
        return holds ? Cause{} : Cause{ESTALE};
    };
    if (held && is_mount_of_its_own(dir_fd, held->fd)) {
        if (Cause cause = still_held())
            return cause;
        return overwrite_in_place(dir_fd, name, *held, text, new_file);
    }
    remove_strays(dir_fd, name);
    TemporaryFile temporary(dir_fd);
    if (Cause cause = temporary.create(name, held))
        return cause;
    if (held) {
        if (Cause cause = take_properties(*held, temporary.fd(), 07777))
            return cause;
    }
    if (Cause cause = write_all(temporary.fd(), text))
        return cause;
    // A failed fsync is not retried: the kernel may have dropped the pages.
    if (fsync(temporary.fd()) != 0)
        return errno_cause();
    if (Cause cause = temporary.take_own_name(name))
        return cause;
    // Checked last: a name swapped after this is replaced, not followed.
    if (Cause cause = still_held())
        return cause;
    if (Cause cause = temporary.rename_over(name)) {
        // A target that is itself a mount point (a bind-mounted file) cannot
        // be renamed over; writing into it is the last resort.
        if (cause.error != EBUSY || !held)
            return cause;
        temporary.discard();
        return overwrite_in_place(dir_fd, name, *held, text, new_file);
    }
    new_file.reset(temporary.release());
    // The rename lasts only once the directory is on disk.
    return sync_directory(dir_fd);
}

bool replace_file(const char *filename, const char *text)
{
    return filename && text && succeeded(replace_named(filename, text));
}

}  // namespace jsontree::detail
