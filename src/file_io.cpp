// File input and output: reading a whole file and replacing one safely.
// Every file-system call of the library lives here.
#include "internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// ---- Reading

struct FileCloser {
    void operator()(FILE *file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Only a regular file has a meaningful size: a directory opens fine but
// reports a seek end far beyond any text, which would become an absurd
// allocation request.
bool regular_file_size(FILE *file, size_t *size)
{
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0)
        return false;
    if (static_cast<unsigned long long>(status.st_size) >= SIZE_MAX)
        return false;
    *size = static_cast<size_t>(status.st_size);
    return true;
}

}  // namespace

// The whole file as NUL-terminated text, read with a single fread. A file
// that shrank after it was measured ends at the bytes actually read.
char *read_file(const char *filename)
{
    if (!filename)
        return nullptr;
    FilePtr file(fopen(filename, "r"));
    size_t size = 0;
    if (!file || !regular_file_size(file.get(), &size))
        return nullptr;
    TextPtr text(static_cast<char *>(jsontree_malloc(size + 1)));
    if (!text)
        return nullptr;
    size_t bytes_read = fread(text.get(), 1, size, file.get());
    if (bytes_read < size && ferror(file.get()))
        return nullptr;
    text.get()[bytes_read] = '\0';
    return text.release();
}

namespace {

// ---- Replacing a file

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

bool write_all(int fd, const char *text, size_t length)
{
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// For targets that a rename cannot replace: the text goes through the name.
JSON_Status write_in_place(const char *filename, const char *text)
{
    FILE *file = fopen(filename, "w");
    if (!file)
        return JSONFailure;
    bool written = fputs(text, file) != EOF;
    bool closed = fclose(file) != EOF;
    return written && closed ? JSONSuccess : JSONFailure;
}

// Owner and group where this process may give the file away (EPERM, or
// EINVAL for an owner its user namespace cannot map, leave its own), then
// the permission bits, which a change of owner may have cleared.
bool take_owner_and_mode(int fd, const struct stat &replaced)
{
    if (fchown(fd, replaced.st_uid, replaced.st_gid) != 0 && errno != EPERM && errno != EINVAL)
        return false;
    return fchmod(fd, replaced.st_mode & 07777) == 0;
}

constexpr unsigned NAME_ATTEMPTS = 100;

// ".<target name>.XXXXXX", the six letters varying with time, process and
// attempt. Exclusive creation settles any collision.
void make_temporary_name(char (&name)[NAME_MAX + 1], const char *target_name, unsigned attempt)
{
    static constexpr char LETTERS[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Multiplying by this odd constant spreads the few changing input bits
    // over the whole word.
    constexpr uint64_t SPREAD = 0x9E3779B97F4A7C15u;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 32) ^
                    attempt;
    int prefix = snprintf(name, sizeof name, ".%.*s.", NAME_MAX - 8, target_name);
    for (int i = 0; i < 6; i++) {
        seed *= SPREAD;
        name[prefix + i] = LETTERS[(seed >> 40) % 62];
    }
    name[prefix + 6] = '\0';
}

// The new file while it is written, in the target's directory. It is removed
// again unless it was renamed over the target; an unnamed (O_TMPFILE) file
// vanishes by itself, even when the process is killed.
class TemporaryFile {
public:
    explicit TemporaryFile(int dir_fd) : dir_fd_(dir_fd) {}
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return fd_; }

    // A file that replaces another starts private and takes the other's
    // owner and mode before any byte goes in; a new one gets 0666 less the
    // umask.
    bool create(const char *target_name, const struct stat *replaced)
    {
        mode_t mode = replaced ? S_IRUSR | S_IWUSR : 0666;
        fd_ = openat(dir_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd_ < 0) {
            // Kernels and file systems without O_TMPFILE get a named file.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return false;
            bool opened = claim_name(target_name, [&](const char *name) {
                fd_ = openat(dir_fd_, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             mode);
                return fd_ >= 0;
            });
            if (!opened)
                return false;
        }
        return !replaced || take_owner_and_mode(fd_, *replaced);
    }

    // Puts the file under the target's name in one step; errno tells why not.
    bool rename_over(const char *target_name)
    {
        if (!named_ && !link_under_reserved_name(target_name))
            return false;
        if (renameat(dir_fd_, name_, dir_fd_, target_name) != 0)
            return false;
        named_ = false;
        return true;
    }

    void discard()
    {
        if (named_)
            unlinkat(dir_fd_, name_, 0);
        named_ = false;
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    // Tries fresh names until `take(name)` succeeds or fails for a reason
    // other than the name being taken.
    template <typename Take>
    bool claim_name(const char *target_name, Take take)
    {
        for (unsigned attempt = 0; attempt < NAME_ATTEMPTS; attempt++) {
            make_temporary_name(name_, target_name, attempt);
            if (take(name_)) {
                named_ = true;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // No call links an unnamed file over an existing name, so it gets a name
    // of its own just before the rename. That name is the same for every
    // write of the target: a copy left by a write killed between link and
    // rename is replaced by the next write, and such copies never pile up.
    bool link_under_reserved_name(const char *target_name)
    {
        snprintf(name_, sizeof name_, ".%.*s.replacing", NAME_MAX - 11, target_name);
        if (!link_as(name_)) {
            if (errno != EEXIST || unlinkat(dir_fd_, name_, 0) != 0 || !link_as(name_))
                return false;
        }
        named_ = true;
        return true;
    }

    bool link_as(const char *name)
    {
        if (linkat(fd_, "", dir_fd_, name, AT_EMPTY_PATH) == 0)
            return true;
        if (errno == EEXIST)
            return false;
        // Older kernels want CAP_DAC_READ_SEARCH for AT_EMPTY_PATH; the link
        // through /proc needs no privilege.
        char proc_path[32];
        snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_);
        return linkat(AT_FDCWD, proc_path, dir_fd_, name, AT_SYMLINK_FOLLOW) == 0;
    }

    int dir_fd_;
    int fd_ = -1;
    bool named_ = false;
    char name_[NAME_MAX + 1] = {};
};

// The file to write: its directory and its name in that directory, both
// kept in `path`.
struct Target {
    char path[PATH_MAX];
    const char *dir;
    const char *name;
};

// Symbolic links are resolved, so a link stays a link and the file it points
// to is replaced. A name that is not there yet is taken as given.
bool locate_target(const char *filename, Target &target)
{
    if (!realpath(filename, target.path)) {
        size_t length = strlen(filename);
        if (errno != ENOENT || length >= PATH_MAX)
            return false;
        memcpy(target.path, filename, length + 1);
    }
    char *slash = strrchr(target.path, '/');
    if (!slash) {
        target.dir = ".";
        target.name = target.path;
    } else if (slash == target.path) {
        target.dir = "/";
        target.name = slash + 1;
    } else {
        *slash = '\0';
        target.dir = target.path;
        target.name = slash + 1;
    }
    return *target.name != '\0';
}

}  // namespace

// Readers see the old file or the new one, never a part: the text goes into
// a new file beside the target, reaches the disk, and is renamed over it.
// On failure the target keeps its bytes and its inode.
JSON_Status replace_file(const char *filename, const char *text)
{
    Target target;
    if (!locate_target(filename, target))
        return JSONFailure;
    FileDescriptor dir(open(target.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return JSONFailure;
    struct stat replaced;
    bool exists = fstatat(dir.get(), target.name, &replaced, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return JSONFailure;
    // A FIFO or a device has a reader behind its name, and a link that points
    // nowhere yet gets its file made: these are written through the name.
    if (exists && !S_ISREG(replaced.st_mode))
        return write_in_place(filename, text);

    TemporaryFile temporary(dir.get());
    // A failed fsync is not retried: the kernel may have dropped the pages.
    if (!temporary.create(target.name, exists ? &replaced : nullptr) ||
        !write_all(temporary.fd(), text, strlen(text)) || fsync(temporary.fd()) != 0)
        return JSONFailure;
    if (!temporary.rename_over(target.name)) {
        // A target that is itself a mount point (a bind-mounted file) cannot
        // be renamed over; writing through it is the last resort.
        if (errno != EBUSY)
            return JSONFailure;
        temporary.discard();
        return write_in_place(filename, text);
    }
    // The rename lasts only once the directory is on disk. File systems that
    // cannot sync a directory report EINVAL: nothing more can be done there.
    return fsync(dir.get()) == 0 || errno == EINVAL ? JSONSuccess : JSONFailure;
}
