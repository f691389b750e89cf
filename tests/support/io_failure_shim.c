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
 *   JSONTREE_TRACE_LOG   file that gets what each counted call that went
 *                        through changed, for a model of what a power cut
 *                        can leave: a line each, "CALL INODE NUMBER LENGTH
 *                        [PATH [NEW_PATH]]", LENGTH bytes written after it;
 *                        CALL is write (NUMBER its offset), size or sync
 *                        (NUMBER the size after it), link, rename or unlink
 *   JSONTREE_SWAP_FILE   with JSONTREE_SWAP_LINK: instead of failing, a call
 *   JSONTREE_SWAP_LINK   replaces this file by a symbolic link to that target
 *                        and then goes ahead, as another user might do at
 *                        that very moment
 *   JSONTREE_STALE_TEXT  only opens that create a named file count; instead
 *                        of failing, one finds this text at its name first,
 *                        as a killed writer may have left it, and goes ahead
 *
 * A failed call reports what the kernel reports for a failing disk (EIO), a
 * full one (ENOSPC on writes, allocations and new attributes), no descriptor
 * left (EMFILE on opens), no kernel memory (ENOMEM on status queries), no
 * lock table (ENOLCK) or an unknown command (EINVAL on fcntl). A failed close
 * has still released the descriptor, as Linux always does.
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
static int full_path(int dir_fd, const char *path, char (*joined)[2 * PATH_MAX])
{
    char dir[PATH_MAX];
    if (!path || (path[0] != '/' && !descriptor_name(dir_fd, &dir)))
        return 0;
    if (path[0] == '/')
        snprintf(*joined, sizeof *joined, "%s", path);
    else
        snprintf(*joined, sizeof *joined, "%s/%s", dir, path);
    return 1;
}

static int path_matches(int dir_fd, const char *path)
{
    char joined[2 * PATH_MAX];
    return full_path(dir_fd, path, &joined) && name_matches(joined);
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

/* ---- The trace of changes */

static const char *trace_log(void)
{
    return getenv("JSONTREE_TRACE_LOG");
}

/* Appends `line` to the trace, then the `size` bytes written. */
static void trace(const char *line, const void *bytes, size_t size)
{
    int fd = NEXT(open)(trace_log(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 || NEXT(write)(fd, line, strlen(line)) != (ssize_t)strlen(line) ||
        NEXT(write)(fd, bytes, size) != (ssize_t)size)
        abort();
    NEXT(close)(fd);
}

/* A change of the file `fd`: `written` bytes at `offset` when `bytes` are
 * given, else its size afterwards. */
static void trace_file(const char *call, int fd, off64_t offset, const void *bytes, ssize_t written)
{
    struct stat64 status;
    char line[128];
    if (!trace_log() || (bytes && written <= 0))
        return;
    int saved_errno = errno;
    if (NEXT(fstat64)(fd, &status) != 0)
        abort();
    snprintf(line, sizeof line, "%s %llu %lld %zd\n", call, (unsigned long long)status.st_ino,
             bytes ? (long long)offset : (long long)status.st_size, bytes ? written : 0);
    trace(line, bytes, bytes ? (size_t)written : 0);
    errno = saved_errno;
}

/* A change of names: `path` in `dir_fd` linked to its file, unlinked, or
 * renamed to `new_path` in `new_dir`. */
static void trace_names(const char *call, int dir_fd, const char *path, int new_dir,
                        const char *new_path)
{
    char name[2 * PATH_MAX], new_name[2 * PATH_MAX] = "", line[5 * PATH_MAX];
    struct stat64 status = {0};
    if (!trace_log())
        return;
    int saved_errno = errno;
    if (!full_path(dir_fd, path, &name) || (new_path && !full_path(new_dir, new_path, &new_name)))
        abort();
    NEXT(lstat64)(name, &status);
    snprintf(line, sizeof line, "%s %llu 0 0 %s %s\n", call, (unsigned long long)status.st_ino,
             name, new_name);
    trace(line, NULL, 0);
    errno = saved_errno;
}

/* ---- Calls of fixed arguments */

/* `function`, which takes `parameters` and hands `arguments` on to the
 * definition it hides: when the call `matches` and is the one chosen, it
 * returns `failed` with errno `error` instead. */
#define WRAP(type, function, parameters, arguments, matches, error, failed)          \
    type function parameters                                                         \
    {                                                                                \
        return fails(#function, matches, error) ? failed : NEXT(function) arguments; \
    }
/* As WRAP, and a call that matched and `succeeded` then leaves its `record`
 * in the trace, which sees what it returned as `result`. */
#define TRACED(type, function, parameters, arguments, matches, error, failed, succeeded, record) \
    type function parameters                                                                     \
    {                                                                                            \
        int matched = (matches);                                                                 \
        if (fails(#function, matched, error))                                                    \
            return failed;                                                                       \
        type result = NEXT(function) arguments;                                                  \
        if (matched && (succeeded))                                                              \
            record;                                                                              \
        return result;                                                                           \
    }
#define TRACED_ON_FD(type, function, error, parameters, arguments, record)                        \
    TRACED(type, function, parameters, arguments, descriptor_matches(fd), error, -1, result >= 0, \
           record)
/* Calls on the descriptor `fd`, on the name `path`, and on the name `path`
 * in the directory `dir_fd`, which fail returning -1. */
#define ON_FD(type, function, error, parameters, arguments) \
    WRAP(type, function, parameters, arguments, descriptor_matches(fd), error, -1)
#define ON_PATH(type, function, error, parameters, arguments) \
    WRAP(type, function, parameters, arguments, path_matches(AT_FDCWD, path), error, -1)
#define ON_PATH_AT(type, function, error, parameters, arguments) \
    WRAP(type, function, parameters, arguments, path_matches(dir_fd, path), error, -1)

int close(int fd)
{
    int matches = descriptor_matches(fd);
    int closed = NEXT(close)(fd);
    return fails("close", matches, EIO) ? -1 : closed;
}

/* Reading and writing */
ON_FD(ssize_t, read, EIO, (int fd, void *buffer, size_t count), (fd, buffer, count))
ON_FD(ssize_t, pread, EIO, (int fd, void *buffer, size_t count, off_t offset),
      (fd, buffer, count, offset))
ON_FD(ssize_t, pread64, EIO, (int fd, void *buffer, size_t count, off64_t offset),
      (fd, buffer, count, offset))
ssize_t write(int fd, const void *buffer, size_t count)
{
    int matched = descriptor_matches(fd);
    if (fails("write", matched, ENOSPC))
        return -1;
    /* Where the write lands, asked before it is made. */
    off64_t offset = matched && trace_log() ? lseek64(fd, 0, SEEK_CUR) : 0;
    ssize_t written = NEXT(write)(fd, buffer, count);
    if (matched)
        trace_file("write", fd, offset, buffer, written);
    return written;
}
TRACED_ON_FD(ssize_t, pwrite, ENOSPC, (int fd, const void *buffer, size_t count, off_t offset),
             (fd, buffer, count, offset), trace_file("write", fd, offset, buffer, result))
TRACED_ON_FD(ssize_t, pwrite64, ENOSPC, (int fd, const void *buffer, size_t count, off64_t offset),
             (fd, buffer, count, offset), trace_file("write", fd, offset, buffer, result))
TRACED_ON_FD(int, fsync, EIO, (int fd), (fd), trace_file("sync", fd, 0, NULL, 0))
TRACED_ON_FD(int, fdatasync, EIO, (int fd), (fd), trace_file("sync", fd, 0, NULL, 0))

/* Names: a rename or a link counts when either of its names is on the
 * directory. */
TRACED(int, rename, (const char *old_path, const char *new_path), (old_path, new_path),
       path_matches(AT_FDCWD, old_path) || path_matches(AT_FDCWD, new_path), EIO, -1, result == 0,
       trace_names("rename", AT_FDCWD, old_path, AT_FDCWD, new_path))
TRACED(int, renameat, (int old_dir, const char *old_path, int new_dir, const char *new_path),
       (old_dir, old_path, new_dir, new_path),
       path_matches(old_dir, old_path) || path_matches(new_dir, new_path), EIO, -1, result == 0,
       trace_names("rename", old_dir, old_path, new_dir, new_path))
TRACED(int, renameat2,
       (int old_dir, const char *old_path, int new_dir, const char *new_path, unsigned int flags),
       (old_dir, old_path, new_dir, new_path, flags),
       path_matches(old_dir, old_path) || path_matches(new_dir, new_path), EIO, -1, result == 0,
       trace_names("rename", old_dir, old_path, new_dir, new_path))
TRACED(int, linkat,
       (int old_dir, const char *old_path, int new_dir, const char *new_path, int flags),
       (old_dir, old_path, new_dir, new_path, flags),
       path_matches(new_dir, new_path) ||
           ((flags & AT_EMPTY_PATH) ? descriptor_matches(old_dir)
                                    : path_matches(old_dir, old_path)),
       EIO, -1, result == 0, trace_names("link", new_dir, new_path, AT_FDCWD, NULL))
TRACED(int, unlinkat, (int dir_fd, const char *path, int flags), (dir_fd, path, flags),
       path_matches(dir_fd, path), EIO, -1, result == 0,
       trace_names("unlink", dir_fd, path, AT_FDCWD, NULL))
WRAP(char *, realpath, (const char *path, char *resolved), (path, resolved),
     path_matches(AT_FDCWD, path), EIO, NULL)
ON_PATH(ssize_t, readlink, EIO, (const char *path, char *buffer, size_t size), (path, buffer, size))
ON_PATH_AT(ssize_t, readlinkat, EIO, (int dir_fd, const char *path, char *buffer, size_t size),
           (dir_fd, path, buffer, size))

/* Status */
ON_PATH(int, stat, ENOMEM, (const char *path, struct stat *status), (path, status))
ON_PATH(int, stat64, ENOMEM, (const char *path, struct stat64 *status), (path, status))
ON_PATH(int, lstat, ENOMEM, (const char *path, struct stat *status), (path, status))
ON_PATH(int, lstat64, ENOMEM, (const char *path, struct stat64 *status), (path, status))
ON_FD(int, fstat, ENOMEM, (int fd, struct stat *status), (fd, status))
ON_FD(int, fstat64, ENOMEM, (int fd, struct stat64 *status), (fd, status))
ON_PATH_AT(int, fstatat, ENOMEM, (int dir_fd, const char *path, struct stat *status, int flags),
           (dir_fd, path, status, flags))
ON_PATH_AT(int, fstatat64, ENOMEM, (int dir_fd, const char *path, struct stat64 *status, int flags),
           (dir_fd, path, status, flags))
ON_PATH_AT(int, statx, ENOMEM,
           (int dir_fd, const char *path, int flags, unsigned int mask, struct statx *status),
           (dir_fd, path, flags, mask, status))

/* Owner, mode, locks, size. posix_fallocate returns its error instead of
 * setting errno. */
ON_FD(int, fchown, EIO, (int fd, uid_t owner, gid_t group), (fd, owner, group))
ON_FD(int, fchmod, EIO, (int fd, mode_t mode), (fd, mode))
ON_FD(int, flock, ENOLCK, (int fd, int operation), (fd, operation))
TRACED(int, posix_fallocate, (int fd, off_t offset, off_t length), (fd, offset, length),
       descriptor_matches(fd), ENOSPC, ENOSPC, result == 0, trace_file("size", fd, 0, NULL, 0))
TRACED(int, posix_fallocate64, (int fd, off64_t offset, off64_t length), (fd, offset, length),
       descriptor_matches(fd), ENOSPC, ENOSPC, result == 0, trace_file("size", fd, 0, NULL, 0))
TRACED_ON_FD(int, fallocate, ENOSPC, (int fd, int mode, off_t offset, off_t length),
             (fd, mode, offset, length), trace_file("size", fd, 0, NULL, 0))
TRACED_ON_FD(int, fallocate64, ENOSPC, (int fd, int mode, off64_t offset, off64_t length),
             (fd, mode, offset, length), trace_file("size", fd, 0, NULL, 0))
TRACED_ON_FD(int, ftruncate, EIO, (int fd, off_t length), (fd, length),
             trace_file("size", fd, 0, NULL, 0))
TRACED_ON_FD(int, ftruncate64, EIO, (int fd, off64_t length), (fd, length),
             trace_file("size", fd, 0, NULL, 0))

/* Directories and extended attributes */
ON_FD(ssize_t, getdents64, EIO, (int fd, void *buffer, size_t size), (fd, buffer, size))
ON_FD(ssize_t, flistxattr, EIO, (int fd, char *names, size_t size), (fd, names, size))
ON_FD(ssize_t, fgetxattr, EIO, (int fd, const char *name, void *value, size_t size),
      (fd, name, value, size))
ON_FD(int, fsetxattr, ENOSPC, (int fd, const char *name, const void *value, size_t size, int flags),
      (fd, name, value, size, flags))

/* ---- Calls whose arguments vary */

/* Opening: the mode argument is there only when the flags create a file. */
static int creates(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

static mode_t mode_argument(int flags, va_list arguments)
{
    return creates(flags) ? va_arg(arguments, mode_t) : 0;
}

/* Writes JSONTREE_STALE_TEXT at the name an open is about to create; false
 * when that text is not asked for. */
static int planted_stale_text(int dir_fd, const char *path)
{
    const char *text = getenv("JSONTREE_STALE_TEXT");
    if (!text)
        return 0;
    int saved_errno = errno;
    int fd = NEXT(openat)(dir_fd, path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || NEXT(write)(fd, text, strlen(text)) != (ssize_t)strlen(text))
        abort();
    NEXT(close)(fd);
    errno = saved_errno;
    return 1;
}

/* With JSONTREE_STALE_TEXT only opens that create a named file count. */
static int counts(int dir_fd, const char *path, int flags)
{
    return path_matches(dir_fd, path) && (!getenv("JSONTREE_STALE_TEXT") || (flags & O_CREAT));
}

/* An open that may create the name is traced as a link: linking a name to
 * the file it already names changes nothing. */
#define WRAP_OPEN(function, parameters, arguments, dir_fd)           \
    int function parameters                                          \
    {                                                                \
        va_list variadic;                                            \
        va_start(variadic, flags);                                   \
        mode_t mode = mode_argument(flags, variadic);                \
        va_end(variadic);                                            \
        if (fails(#function, counts(dir_fd, path, flags), EMFILE) && \
            !planted_stale_text(dir_fd, path))                       \
            return -1;                                               \
        int fd = NEXT(function) arguments;                           \
        if (fd >= 0 && path_matches(dir_fd, path)) {                 \
            if (flags & O_CREAT)                                     \
                trace_names("link", dir_fd, path, AT_FDCWD, NULL);   \
            if (flags & O_TRUNC)                                     \
                trace_file("size", fd, 0, NULL, 0);                  \
        }                                                            \
        return fd;                                                   \
    }
WRAP_OPEN(open, (const char *path, int flags, ...), (path, flags, mode), AT_FDCWD)
WRAP_OPEN(open64, (const char *path, int flags, ...), (path, flags, mode), AT_FDCWD)
WRAP_OPEN(openat, (int dir_fd, const char *path, int flags, ...), (dir_fd, path, flags, mode),
          dir_fd)
WRAP_OPEN(openat64, (int dir_fd, const char *path, int flags, ...), (dir_fd, path, flags, mode),
          dir_fd)

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

#define WRAP_FCNTL(function)                                             \
    int function(int fd, int command, ...)                               \
    {                                                                    \
        va_list arguments;                                               \
        va_start(arguments, command);                                    \
        int result = forwarded_fcntl(#function, fd, command, arguments); \
        va_end(arguments);                                               \
        return result;                                                   \
    }
WRAP_FCNTL(fcntl)
WRAP_FCNTL(fcntl64)

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
