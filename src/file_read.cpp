// Reading whole files, and finding the file a name stands for.
#include "file_system.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace jsontree::detail;

namespace {

constexpr int MAX_LINK_HOPS = 40;
constexpr int DIRECTORY_PATH = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The directory a walk stands in, held open, and, when `path` is given, its
// canonical absolute name there.
struct Place {
    FileDescriptor fd;
    struct stat status {};
    char *path = nullptr;  // PATH_MAX bytes
    size_t length = 0;
};

bool enter(Place &place, const char *name)
{
    FileDescriptor fd(openat(place.fd.get(), name, DIRECTORY_PATH));
    if (fd.get() < 0 || fstat(fd.get(), &place.status) != 0)
        return false;
    place.fd.reset(fd.release());
    return true;
}

// At the root for an absolute name, else at the working directory.
bool start(Place &place, bool absolute)
{
    FileDescriptor fd(open(absolute ? "/" : ".", DIRECTORY_PATH));
    if (fd.get() < 0 || fstat(fd.get(), &place.status) != 0)
        return false;
    place.fd.reset(fd.release());
    if (!place.path)
        return true;
    if (absolute)
        memcpy(place.path, "/", 2);
    else if (!getcwd(place.path, PATH_MAX))
        return false;
    place.length = strlen(place.path);
    return true;
}

bool append(Place &place, const char *name)
{
    if (!place.path || *name == '\0')
        return true;
    size_t separator = place.length > 1 ? 1 : 0;
    size_t length = strlen(name);
    if (place.length + separator + length >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (separator)
        place.path[place.length] = '/';
    memcpy(place.path + place.length + separator, name, length + 1);
    place.length += separator + length;
    return true;
}

void go_up(Place &place)
{
    if (!place.path)
        return;
    char *slash = strrchr(place.path, '/');
    place.length = slash && slash != place.path ? size_t(slash - place.path) : 1;
    place.path[place.length] = '\0';
}

// The link `name` in the walk's directory, put in front of `rest`: what is
// left of the name to walk, in `pending`.
bool splice_link(const Place &place, const char *name, char (&pending)[PATH_MAX], const char *&rest)
{
    char link[PATH_MAX];
    ssize_t link_length = readlinkat(place.fd.get(), name, link, sizeof link);
    if (link_length < 0)
        return false;
    size_t rest_length = strlen(rest);
    if (size_t(link_length) + rest_length >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (link_length == 0) {
        errno = ENOENT;
        return false;
    }
    memmove(pending + link_length, rest, rest_length + 1);
    memcpy(pending, link, size_t(link_length));
    rest = pending;
    return true;
}

// Walks `filename` one name at a time, each looked at without following it,
// from the directory held open at the step before: a directory another user
// swaps for a link meanwhile makes the walk fail (ENOTDIR), never lead
// through the link. A symbolic link is followed only where entry_trusted
// allows, judged by the directory that holds it, else the walk fails with
// EACCES; more than MAX_LINK_HOPS links fail with ELOOP, as in the kernel.
// On success `place` holds the directory of the last entry and `name` that
// entry, empty when the name ends in a directory (a final slash, "." or
// ".."). A last entry that does not exist is taken as given when
// `missing_allowed`; a link that points nowhere leads to the name it points
// to, a relative one counting from the directory that holds it.
bool walk(const char *filename, bool missing_allowed, Place &place, char (&name)[NAME_MAX + 1])
{
    char pending[PATH_MAX];
    size_t length = strlen(filename);
    if (length == 0 || length >= PATH_MAX) {
        errno = length == 0 ? ENOENT : ENAMETOOLONG;
        return false;
    }
    memcpy(pending, filename, length + 1);
    if (!start(place, pending[0] == '/'))
        return false;
    const char *rest = pending;
    int hops = 0;
    for (;;) {
        while (*rest == '/')
            rest++;
        size_t component = strcspn(rest, "/");
        if (component > NAME_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        memcpy(name, rest, component);
        name[component] = '\0';
        rest += component;
        if (component == 0)
            return true;
        if (strcmp(name, ".") == 0)
            continue;
        if (strcmp(name, "..") == 0) {
            if (!enter(place, ".."))
                return false;
            go_up(place);
            continue;
        }
        struct stat entry;
        if (fstatat(place.fd.get(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT && missing_allowed && *rest == '\0';
        if (S_ISLNK(entry.st_mode)) {
            if (!entry_trusted(place.status, entry)) {
                errno = EACCES;
                return false;
            }
            if (++hops > MAX_LINK_HOPS) {
                errno = ELOOP;
                return false;
            }
            if (!splice_link(place, name, pending, rest) || (*rest == '/' && !start(place, true)))
                return false;
            continue;
        }
        if (*rest == '\0')
            return true;
        if (!S_ISDIR(entry.st_mode)) {
            errno = ENOTDIR;
            return false;
        }
        if (!enter(place, name) || !append(place, name))
            return false;
    }
}

}  // namespace

namespace jsontree::detail {

bool locate_target(const char *filename, Target &target)
{
    Place place;
    if (!walk(filename, true, place, target.name))
        return false;
    if (target.name[0] == '\0') {
        errno = EISDIR;
        return false;
    }
    target.dir.reset(place.fd.release());
    return true;
}

char *read_file(const char *filename)
{
    if (!filename)
        return nullptr;
    Target target;
    if (!locate_target(filename, target))
        return nullptr;
    struct stat status;
    FileDescriptor fd(open_regular(target.dir.get(), target.name, O_NOFOLLOW, status));
    return fd.get() < 0
               ? nullptr
               : read_settled(target.dir.get(), target.name, fd.get(), status, false, nullptr);
}

}  // namespace jsontree::detail

JSON_Status json_canonical_filename(const char *filename, char *buffer, size_t size)
{
    char path[PATH_MAX];
    Place place;
    place.path = path;
    char name[NAME_MAX + 1];
    if (!filename || !buffer) {
        errno = EINVAL;
        return JSONFailure;
    }
    if (!walk(filename, false, place, name) || !append(place, name))
        return JSONFailure;
    if (place.length >= size) {
        errno = ERANGE;
        return JSONFailure;
    }
    memcpy(buffer, path, place.length + 1);
    return JSONSuccess;
}
