// Reading whole files, and finding the file a name stands for.
#include "file_system.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace jsontree::detail;

namespace {

// Only a regular file has a meaningful size: a directory opens fine but
// reports a seek end far beyond any text, which would become an absurd
// allocation request.
bool regular_file_size(int fd, struct stat &status, size_t &size)
{
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0)
        return false;
    if (static_cast<unsigned long long>(status.st_size) >= SIZE_MAX)
        return false;
    size = static_cast<size_t>(status.st_size);
    return true;
}

constexpr int MAX_LINK_HOPS = 40;

// Symbolic links are followed here and only here, so a link stays a link and
// the file it points to is the one written. A link that points nowhere yet
// leads to the name it points to; a name that is not there yet is taken as
// given.
bool resolve_links(const char *filename, char (&resolved)[PATH_MAX])
{
    char current[PATH_MAX];
    size_t length = strlen(filename);
    if (length >= PATH_MAX)
        return false;
    memcpy(current, filename, length + 1);
    for (int hop = 0; hop < MAX_LINK_HOPS; hop++) {
        if (realpath(current, resolved))
            return true;
        if (errno != ENOENT)
            return false;
        char link[PATH_MAX];
        ssize_t link_length = readlink(current, link, sizeof link - 1);
        if (link_length < 0) {
            if (errno != EINVAL && errno != ENOENT)
                return false;
            memcpy(resolved, current, strlen(current) + 1);
            return true;
        }
        link[link_length] = '\0';
        // A relative link counts from the directory that holds it.
        const char *slash = strrchr(current, '/');
        size_t kept = link[0] == '/' || !slash ? 0 : size_t(slash - current) + 1;
        if (kept + size_t(link_length) >= PATH_MAX)
            return false;
        memcpy(current + kept, link, size_t(link_length) + 1);
    }
    errno = ELOOP;
    return false;
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

char *read_text(int fd, size_t size, size_t *length)
{
    TextPtr text(static_cast<char *>(jsontree_malloc(size + 1)));
    if (!text)
        return nullptr;
    size_t done = 0;
    while (done < size) {
        ssize_t got = read(fd, text.get() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return nullptr;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    text.get()[done] = '\0';
    if (length)
        *length = done;
    return text.release();
}

int open_regular(int dir_fd, const char *name, int follow, struct stat &status)
{
    FileDescriptor fd(openat(dir_fd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | follow));
    if (fd.get() < 0)
        return -1;
    size_t size = 0;
    if (!regular_file_size(fd.get(), status, size)) {
        errno = EINVAL;
        return -1;
    }
    return fd.release();
}

bool locate_target(const char *filename, Target &target)
{
    if (!resolve_links(filename, target.path))
        return false;
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
    return *target.name != '\0' && strlen(target.name) <= NAME_MAX;
}

int open_directory(const Target &target)
{
    return open(target.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

char *read_file(const char *filename)
{
    if (!filename)
        return nullptr;
    struct stat status;
    FileDescriptor fd(open_regular(AT_FDCWD, filename, 0, status));
    return fd.get() < 0 ? nullptr : read_settled(filename, fd.get(), status);
}

}  // namespace jsontree::detail
