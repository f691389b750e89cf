/*
 * Preloaded into the tool to make one kind of file system call fail, as a
 * failing disk would, without touching the disk.
 *
 *   JSONTREE_FAIL_CALL   comma-separated names among write, fsync, fdatasync,
 *                        rename, renameat, renameat2, linkat, fsetxattr
 *   JSONTREE_FAIL_PATH   only calls on a descriptor or path whose name
 *                        contains this text count (standard error never does)
 *   JSONTREE_FAIL_SKIP   how many counted calls pass before the first fails
 *   JSONTREE_FAIL_TIMES  how many counted calls fail with EIO (default 1)
 *   JSONTREE_CALL_LOG    file that gets one line per counted call
 *   JSONTREE_SWAP_FILE   with JSONTREE_SWAP_LINK: instead of failing, a call
 *   JSONTREE_SWAP_LINK   replaces this file by a symbolic link to that target
 *                        and then goes ahead, as another user might do at
 *                        that very moment
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/xattr.h>
#include <unistd.h>

static long failures_done;

static void *real_function(const char *name)
{
    void *function = dlsym(RTLD_NEXT, name);
    if (!function)
        abort();
    return function;
}

static int listed(const char *call)
{
    const char *list = getenv("JSONTREE_FAIL_CALL");
    size_t length = strlen(call);
    while (list && *list) {
        const char *comma = strchr(list, ',');
        size_t item = comma ? (size_t)(comma - list) : strlen(list);
        if (item == length && strncmp(list, call, length) == 0)
            return 1;
        list = comma ? comma + 1 : NULL;
    }
    return 0;
}

static int name_matches(const char *name)
{
    const char *wanted = getenv("JSONTREE_FAIL_PATH");
    return wanted && *wanted && strstr(name, wanted) != NULL;
}

static int descriptor_matches(int fd)
{
    char link[64], name[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, name, sizeof name - 1);
    if (length < 0)
        return 0;
    name[length] = '\0';
    return name_matches(name);
}

/* A relative path is matched together with the name of its directory. */
static int path_matches(int dir_fd, const char *path)
{
    if (!path)
        return 0;
    if (name_matches(path))
        return 1;
    return path[0] != '/' && dir_fd != AT_FDCWD && descriptor_matches(dir_fd);
}

static void log_call(const char *call)
{
    static ssize_t (*real_write)(int, const void *, size_t);
    const char *log = getenv("JSONTREE_CALL_LOG");
    if (!log)
        return;
    if (!real_write)
        real_write = (ssize_t(*)(int, const void *, size_t))real_function("write");
    int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char line[32];
    int length = snprintf(line, sizeof line, "%s\n", call);
    if (real_write(fd, line, (size_t)length) < 0)
        abort();
    close(fd);
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
    if (unlink(file) != 0 || symlink(link, file) != 0)
        abort();
    return 1;
}

/* Counts a matching call of a listed function; true when it is to fail. */
static int should_fail(const char *call, int matches)
{
    static long calls_counted;
    if (!matches || !listed(call))
        return 0;
    log_call(call);
    if (calls_counted++ < number_from("JSONTREE_FAIL_SKIP", 0) ||
        failures_done >= number_from("JSONTREE_FAIL_TIMES", 1))
        return 0;
    failures_done++;
    if (swapped())
        return 0;
    errno = EIO;
    return 1;
}

ssize_t write(int fd, const void *buf, size_t count)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t))real_function("write");
    return should_fail("write", descriptor_matches(fd)) ? -1 : real(fd, buf, count);
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))real_function("fsync");
    return should_fail("fsync", descriptor_matches(fd)) ? -1 : real(fd);
}

int fdatasync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))real_function("fdatasync");
    return should_fail("fdatasync", descriptor_matches(fd)) ? -1 : real(fd);
}

int rename(const char *old_path, const char *new_path)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))real_function("rename");
    int matches = path_matches(AT_FDCWD, old_path) || path_matches(AT_FDCWD, new_path);
    return should_fail("rename", matches) ? -1 : real(old_path, new_path);
}

int renameat(int old_dir, const char *old_path, int new_dir, const char *new_path)
{
    static int (*real)(int, const char *, int, const char *);
    if (!real)
        real = (int (*)(int, const char *, int, const char *))real_function("renameat");
    int matches = path_matches(old_dir, old_path) || path_matches(new_dir, new_path);
    return should_fail("renameat", matches) ? -1 : real(old_dir, old_path, new_dir, new_path);
}

int renameat2(int old_dir, const char *old_path, int new_dir, const char *new_path,
              unsigned int flags)
{
    static int (*real)(int, const char *, int, const char *, unsigned int);
    if (!real)
        real =
            (int (*)(int, const char *, int, const char *, unsigned int))real_function("renameat2");
    int matches = path_matches(old_dir, old_path) || path_matches(new_dir, new_path);
    return should_fail("renameat2", matches) ? -1
                                             : real(old_dir, old_path, new_dir, new_path, flags);
}

int linkat(int old_dir, const char *old_path, int new_dir, const char *new_path, int flags)
{
    static int (*real)(int, const char *, int, const char *, int);
    if (!real)
        real = (int (*)(int, const char *, int, const char *, int))real_function("linkat");
    int matches =
        path_matches(new_dir, new_path) ||
        ((flags & AT_EMPTY_PATH) ? descriptor_matches(old_dir) : path_matches(old_dir, old_path));
    return should_fail("linkat", matches) ? -1 : real(old_dir, old_path, new_dir, new_path, flags);
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    static int (*real)(int, const char *, const void *, size_t, int);
    if (!real)
        real = (int (*)(int, const char *, const void *, size_t, int))real_function("fsetxattr");
    return should_fail("fsetxattr", descriptor_matches(fd)) ? -1
                                                            : real(fd, name, value, size, flags);
}
