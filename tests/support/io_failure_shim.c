/*
 * Preloaded into a program to make its file system calls fail, as a failing
 * disk would, without touching the disk. Every call below that reaches the
 * chosen directory is counted, so a test can first count the calls of a
 * store and then fail each of them in a run of its own.
 *
 *   JSONTREE_FAIL_PATH   only calls on this directory or on a name in it
 *                        count (standard error never does)
 *   JSONTREE_FAIL_CALL   when set, only these calls count (comma-separated
 *                        names, as in the call log)
 *   JSONTREE_FAIL_SKIP   how many counted calls pass before the first fails
 *   JSONTREE_FAIL_TIMES  how many counted calls fail (default 1; 0 counts only)
 *   JSONTREE_CALL_LOG    file that gets the name of each counted call, a line
 *                        each
 *   JSONTREE_SWAP_FILE   with JSONTREE_SWAP_LINK: instead of failing, a call
 *   JSONTREE_SWAP_LINK   replaces this file by a symbolic link to that target
 *                        and then goes ahead, as another user might do at
 *                        that very moment
 *
 * A failed call reports what the kernel reports for a failing disk (EIO), a
 * full one (ENOSPC on writes, allocations and new attributes), no descriptor
 * left (EMFILE on opens), no kernel memory (ENOMEM on status queries), no
 * lock table (ENOLCK) or an unknown command (EINVAL on fcntl). A failed close has still released the descriptor, as
 * Linux always does.
 */
#define _GNU_SOURCE
/* The plain and the 64-bit names are wrapped each on its own; the build's
 * 64-bit offsets would make the plain names mere aliases. */
#undef _FILE_OFFSET_BITS
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

/* The definition a wrapper hides, with the wrapper's type. The shim's own
 * file work goes through these too, so it is never counted. */
#define NEXT(function) ((__typeof__(&function))next_definition(#function))

static void *next_definition(const char *name)
{
    void *function = dlsym(RTLD_NEXT, name);
    if (!function)
        abort();
    return function;
}

static int listed(const char *call)
{
    const char *list = getenv("JSONTREE_FAIL_CALL");
    if (!list)
        return 1;
    size_t length = strlen(call);
    while (*list) {
        const char *comma = strchr(list, ',');
        size_t item = comma ? (size_t)(comma - list) : strlen(list);
        if (item == length && strncmp(list, call, length) == 0)
            return 1;
        if (!comma)
            break;
        list = comma + 1;
    }
    return 0;
}

/* The directory itself or a name in it. */
static int name_matches(const char *name)
{
    const char *wanted = getenv("JSONTREE_FAIL_PATH");
    if (!wanted || !*wanted)
        return 0;
    size_t length = strlen(wanted);
    return strncmp(name, wanted, length) == 0 && (name[length] == '\0' || name[length] == '/');
}

/* The name the kernel has for `fd`, or for the working directory. */
static int descriptor_name(int fd, char (*name)[PATH_MAX])
{
    int saved_errno = errno;
    char link[64];
    if (fd == AT_FDCWD)
        snprintf(link, sizeof link, "/proc/self/cwd");
    else
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = NEXT(readlink)(link, *name, sizeof *name - 1);
    errno = saved_errno;
    if (length < 0)
        return 0;
    (*name)[length] = '\0';
    return 1;
}

static int descriptor_matches(int fd)
{
    char name[PATH_MAX];
    return fd >= 0 && fd != STDERR_FILENO && descriptor_name(fd, &name) && name_matches(name);
}

/* A relative path counts from its directory; an empty one (AT_EMPTY_PATH)
 * names the descriptor itself. */
static int path_matches(int dir_fd, const char *path)
{
    if (!path)
        return 0;
    if (path[0] == '/')
        return name_matches(path);
    char dir[PATH_MAX], joined[2 * PATH_MAX];
    if (!descriptor_name(dir_fd, &dir))
        return 0;
    snprintf(joined, sizeof joined, "%s/%s", dir, path);
    return name_matches(joined);
}

static void log_call(const char *call)
{
    const char *log = getenv("JSONTREE_CALL_LOG");
    if (!log)
        return;
    int fd = NEXT(open)(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        abort();
    char line[32];
    int length = snprintf(line, sizeof line, "%s\n", call);
    if (NEXT(write)(fd, line, (size_t)length) != length)
        abort();
    NEXT(close)(fd);
}

static long number_from(const char *variable, long fallback)
{
    const char *text = getenv(variable);
    return text ? strtol(text, NULL, 10) : fallback;
}

/* Swaps the file for a link; true when that is what the shim is told to do. */
static int swapped(void)
{
    const char *file = getenv("JSONTREE_SWAP_FILE");
    const char *link = getenv("JSONTREE_SWAP_LINK");
    if (!file || !link)
        return 0;
    if (NEXT(unlink)(file) != 0 || symlink(link, file) != 0)
        abort();
    return 1;
}

/* Counts a matching call; true, with errno set to `error`, when it is to
 * fail. Any other call leaves errno as it was. */
static int fails(const char *call, int matches, int error)
{
    static long calls_counted, failures_done;
    if (!matches || !listed(call))
        return 0;
    int saved_errno = errno;
    log_call(call);
    errno = saved_errno;
    if (calls_counted++ < number_from("JSONTREE_FAIL_SKIP", 0) ||
        failures_done >= number_from("JSONTREE_FAIL_TIMES", 1))
        return 0;
    failures_done++;
    if (swapped()) {
        errno = saved_errno;
        return 0;
    }
    errno = error;
    return 1;
}

/* ---- Opening, reading and writing */

static int creates(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

/* The mode argument is there only when the flags create a file. */
static mode_t mode_argument(int flags, va_list arguments)
{
    return creates(flags) ? va_arg(arguments, mode_t) : 0;
}

/* The plain and the 64-bit names of open and openat alike. */
#define WRAP_OPEN(function)                                           \
    int function(const char *path, int flags, ...)                    \
    {                                                                 \
        va_list arguments;                                            \
        va_start(arguments, flags);                                   \
        mode_t mode = mode_argument(flags, arguments);                \
        va_end(arguments);                                            \
        return fails(#function, path_matches(AT_FDCWD, path), EMFILE) \
                   ? -1                                               \
                   : NEXT(function)(path, flags, mode);               \
    }
#define WRAP_OPENAT(function)                                       \
    int function(int dir_fd, const char *path, int flags, ...)      \
    {                                                               \
        va_list arguments;                                          \
        va_start(arguments, flags);                                 \
        mode_t mode = mode_argument(flags, arguments);              \
        va_end(arguments);                                          \
        return fails(#function, path_matches(dir_fd, path), EMFILE) \
                   ? -1                                             \
                   : NEXT(function)(dir_fd, path, flags, mode);     \
    }
WRAP_OPEN(open)
WRAP_OPEN(open64)
WRAP_OPENAT(openat)
WRAP_OPENAT(openat64)

int close(int fd)
{
    int matches = descriptor_matches(fd);
    int closed = NEXT(close)(fd);
    return fails("close", matches, EIO) ? -1 : closed;
}

ssize_t read(int fd, void *buffer, size_t count)
{
    return fails("read", descriptor_matches(fd), EIO) ? -1 : NEXT(read)(fd, buffer, count);
}

ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    return fails("pread", descriptor_matches(fd), EIO) ? -1
                                                       : NEXT(pread)(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset)
{
    return fails("pread64", descriptor_matches(fd), EIO) ? -1
                                                         : NEXT(pread64)(fd, buffer, count, offset);
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    return fails("write", descriptor_matches(fd), ENOSPC) ? -1 : NEXT(write)(fd, buffer, count);
}

ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset)
{
    return fails("pwrite", descriptor_matches(fd), ENOSPC)
               ? -1
               : NEXT(pwrite)(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off64_t offset)
{
    return fails("pwrite64", descriptor_matches(fd), ENOSPC)
               ? -1
               : NEXT(pwrite64)(fd, buffer, count, offset);
}

int fsync(int fd)
{
    return fails("fsync", descriptor_matches(fd), EIO) ? -1 : NEXT(fsync)(fd);
}

int fdatasync(int fd)
{
    return fails("fdatasync", descriptor_matches(fd), EIO) ? -1 : NEXT(fdatasync)(fd);
}

/* ---- Names */

int rename(const char *old_path, const char *new_path)
{
    int matches = path_matches(AT_FDCWD, old_path) || path_matches(AT_FDCWD, new_path);
    return fails("rename", matches, EIO) ? -1 : NEXT(rename)(old_path, new_path);
}

int renameat(int old_dir, const char *old_path, int new_dir, const char *new_path)
{
    int matches = path_matches(old_dir, old_path) || path_matches(new_dir, new_path);
    return fails("renameat", matches, EIO) ? -1
                                           : NEXT(renameat)(old_dir, old_path, new_dir, new_path);
}

int renameat2(int old_dir, const char *old_path, int new_dir, const char *new_path,
              unsigned int flags)
{
    int matches = path_matches(old_dir, old_path) || path_matches(new_dir, new_path);
    return fails("renameat2", matches, EIO)
               ? -1
               : NEXT(renameat2)(old_dir, old_path, new_dir, new_path, flags);
}

int linkat(int old_dir, const char *old_path, int new_dir, const char *new_path, int flags)
{
    int matches =
        path_matches(new_dir, new_path) ||
        ((flags & AT_EMPTY_PATH) ? descriptor_matches(old_dir) : path_matches(old_dir, old_path));
    return fails("linkat", matches, EIO)
               ? -1
               : NEXT(linkat)(old_dir, old_path, new_dir, new_path, flags);
}

int unlinkat(int dir_fd, const char *path, int flags)
{
    return fails("unlinkat", path_matches(dir_fd, path), EIO) ? -1
                                                              : NEXT(unlinkat)(dir_fd, path, flags);
}

char *realpath(const char *path, char *resolved)
{
    return fails("realpath", path_matches(AT_FDCWD, path), EIO) ? NULL
                                                                : NEXT(realpath)(path, resolved);
}

ssize_t readlink(const char *path, char *buffer, size_t size)
{
    return fails("readlink", path_matches(AT_FDCWD, path), EIO)
               ? -1
               : NEXT(readlink)(path, buffer, size);
}

ssize_t readlinkat(int dir_fd, const char *path, char *buffer, size_t size)
{
    return fails("readlinkat", path_matches(dir_fd, path), EIO)
               ? -1
               : NEXT(readlinkat)(dir_fd, path, buffer, size);
}

/* ---- Status */

int stat(const char *path, struct stat *status)
{
    return fails("stat", path_matches(AT_FDCWD, path), ENOMEM) ? -1 : NEXT(stat)(path, status);
}

int stat64(const char *path, struct stat64 *status)
{
    return fails("stat64", path_matches(AT_FDCWD, path), ENOMEM) ? -1 : NEXT(stat64)(path, status);
}

int lstat(const char *path, struct stat *status)
{
    return fails("lstat", path_matches(AT_FDCWD, path), ENOMEM) ? -1 : NEXT(lstat)(path, status);
}

int lstat64(const char *path, struct stat64 *status)
{
    return fails("lstat64", path_matches(AT_FDCWD, path), ENOMEM) ? -1
                                                                  : NEXT(lstat64)(path, status);
}

int fstat(int fd, struct stat *status)
{
    return fails("fstat", descriptor_matches(fd), ENOMEM) ? -1 : NEXT(fstat)(fd, status);
}

int fstat64(int fd, struct stat64 *status)
{
    return fails("fstat64", descriptor_matches(fd), ENOMEM) ? -1 : NEXT(fstat64)(fd, status);
}

int fstatat(int dir_fd, const char *path, struct stat *status, int flags)
{
    return fails("fstatat", path_matches(dir_fd, path), ENOMEM)
               ? -1
               : NEXT(fstatat)(dir_fd, path, status, flags);
}

int fstatat64(int dir_fd, const char *path, struct stat64 *status, int flags)
{
    return fails("fstatat64", path_matches(dir_fd, path), ENOMEM)
               ? -1
               : NEXT(fstatat64)(dir_fd, path, status, flags);
}

int statx(int dir_fd, const char *path, int flags, unsigned int mask, struct statx *status)
{
    return fails("statx", path_matches(dir_fd, path), ENOMEM)
               ? -1
               : NEXT(statx)(dir_fd, path, flags, mask, status);
}

/* ---- Owner, mode, locks, size */

int fchown(int fd, uid_t owner, gid_t group)
{
    return fails("fchown", descriptor_matches(fd), EIO) ? -1 : NEXT(fchown)(fd, owner, group);
}

int fchmod(int fd, mode_t mode)
{
    return fails("fchmod", descriptor_matches(fd), EIO) ? -1 : NEXT(fchmod)(fd, mode);
}

int flock(int fd, int operation)
{
    return fails("flock", descriptor_matches(fd), ENOLCK) ? -1 : NEXT(flock)(fd, operation);
}

/* Returns its error instead of setting errno. */
int posix_fallocate(int fd, off_t offset, off_t length)
{
    return fails("posix_fallocate", descriptor_matches(fd), ENOSPC)
               ? ENOSPC
               : NEXT(posix_fallocate)(fd, offset, length);
}

int posix_fallocate64(int fd, off64_t offset, off64_t length)
{
    return fails("posix_fallocate64", descriptor_matches(fd), ENOSPC)
               ? ENOSPC
               : NEXT(posix_fallocate64)(fd, offset, length);
}

int fallocate(int fd, int mode, off_t offset, off_t length)
{
    return fails("fallocate", descriptor_matches(fd), ENOSPC)
               ? -1
               : NEXT(fallocate)(fd, mode, offset, length);
}

int fallocate64(int fd, int mode, off64_t offset, off64_t length)
{
    return fails("fallocate64", descriptor_matches(fd), ENOSPC)
               ? -1
               : NEXT(fallocate64)(fd, mode, offset, length);
}

int ftruncate(int fd, off_t length)
{
    return fails("ftruncate", descriptor_matches(fd), EIO) ? -1 : NEXT(ftruncate)(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    return fails("ftruncate64", descriptor_matches(fd), EIO) ? -1 : NEXT(ftruncate64)(fd, length);
}

/* The third argument is absent, an int or a pointer, by command. */
static int takes_no_argument(int command)
{
    return command == F_GETFD || command == F_GETFL || command == F_GETOWN || command == F_GETSIG ||
           command == F_GETLEASE || command == F_GETPIPE_SZ || command == F_GET_SEALS;
}

static int takes_pointer(int command)
{
    return command == F_GETLK || command == F_SETLK || command == F_SETLKW ||
           command == F_GETLK64 || command == F_SETLK64 || command == F_SETLKW64 ||
           command == F_OFD_GETLK || command == F_OFD_SETLK || command == F_OFD_SETLKW ||
           command == F_GETOWN_EX || command == F_SETOWN_EX || command == F_GET_RW_HINT ||
           command == F_SET_RW_HINT || command == F_GET_FILE_RW_HINT ||
           command == F_SET_FILE_RW_HINT;
}

static int forwarded_fcntl(const char *call, int fd, int command, va_list arguments)
{
    if (fails(call, descriptor_matches(fd), EINVAL))
        return -1;
    __typeof__(&fcntl) next = (__typeof__(&fcntl))next_definition(call);
    if (takes_no_argument(command))
        return next(fd, command);
    return takes_pointer(command) ? next(fd, command, va_arg(arguments, void *))
                                  : next(fd, command, va_arg(arguments, int));
}

int fcntl(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    int result = forwarded_fcntl("fcntl", fd, command, arguments);
    va_end(arguments);
    return result;
}

int fcntl64(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    int result = forwarded_fcntl("fcntl64", fd, command, arguments);
    va_end(arguments);
    return result;
}

/* ---- Directories and extended attributes */

ssize_t getdents64(int fd, void *buffer, size_t size)
{
    return fails("getdents64", descriptor_matches(fd), EIO) ? -1
                                                            : NEXT(getdents64)(fd, buffer, size);
}

/* Directory listings are also read through syscall(SYS_getdents64), past
 * every named function: those count as getdents64; other numbers pass.
 * Every system call takes at most six words, and the C library's own
 * syscall reads all six whatever the number. */
long syscall(long number, ...)
{
    enum {
        SYSCALL_WORDS = 6
    };
    long words[SYSCALL_WORDS];
    va_list arguments;
    va_start(arguments, number);
    for (int i = 0; i < SYSCALL_WORDS; i++)
        words[i] = va_arg(arguments, long);
    va_end(arguments);
    if (number == SYS_getdents64 && fails("getdents64", descriptor_matches((int)words[0]), EIO))
        return -1;
    return NEXT(syscall)(number, words[0], words[1], words[2], words[3], words[4], words[5]);
}

ssize_t flistxattr(int fd, char *names, size_t size)
{
    return fails("flistxattr", descriptor_matches(fd), EIO) ? -1
                                                            : NEXT(flistxattr)(fd, names, size);
}

ssize_t fgetxattr(int fd, const char *name, void *value, size_t size)
{
    return fails("fgetxattr", descriptor_matches(fd), EIO) ? -1
                                                           : NEXT(fgetxattr)(fd, name, value, size);
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    return fails("fsetxattr", descriptor_matches(fd), ENOSPC)
               ? -1
               : NEXT(fsetxattr)(fd, name, value, size, flags);
}
