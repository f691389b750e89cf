// Finding the file a name stands for, and reading it whole.
#include "file_system.h"

#include <fcntl.h>
#include <sys/vfs.h>

#include <cstring>

using namespace jsontree::detail;

namespace {

constexpr int MAX_LINK_HOPS = 40;
constexpr int DIRECTORY_PATH = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr long PROC_FILE_SYSTEM = 0x9fa0;  // statfs's f_type for /proc

// Once the walk has passed through a directory or link of a user other than
// root and the caller, that user may have swapped anything below it for a
// link or a directory of his own: from then on the walk goes only into what
// that same user owns (EACCES otherwise), so no other user's file is reached
// through it.
class OwnerTransitions {
public:
    Cause enter(const struct stat &entry)
    {
        if (foreign_ && entry.st_uid != owner_)
            return Cause{EACCES};
        if (!foreign_ && entry.st_uid != 0 && entry.st_uid != geteuid()) {
            foreign_ = true;
            owner_ = entry.st_uid;
        }
        return {};
    }

private:
    bool foreign_ = false;
    uid_t owner_ = 0;
};

// The directory a walk stands in, held open, and, when `path` is given, its
// canonical absolute name there.
struct Place {
    FileDescriptor fd;
    struct stat status {};
    char *path = nullptr;  // PATH_MAX bytes
    size_t length = 0;
};

// Moves the walk into the directory `name` of `from`; `follow` is 0 to go
// through a link, as the kernel does, else O_NOFOLLOW.
Cause enter(Place &place, int from, const char *name, int follow = O_NOFOLLOW)
{
    FileDescriptor fd(openat(from, name, (DIRECTORY_PATH & ~O_NOFOLLOW) | follow));
    if (fd.get() < 0 || fstat(fd.get(), &place.status) != 0)
        return errno_cause();
    place.fd.reset(fd.release());
    return {};
}

bool on_proc(int dir_fd)
{
    struct statfs file_system;
    return fstatfs(dir_fd, &file_system) == 0 && file_system.f_type == PROC_FILE_SYSTEM;
}

// At the root for an absolute name, else at the working directory.
Cause start(Place &place, bool absolute)
{
    if (Cause cause = enter(place, AT_FDCWD, absolute ? "/" : "."))
        return cause;
    if (!place.path)
        return {};
    if (absolute)
        memcpy(place.path, "/", 2);
    else if (!getcwd(place.path, PATH_MAX))
        return errno_cause();
    place.length = strlen(place.path);
    return {};
}

Cause append(Place &place, const char *name)
{
    if (!place.path || *name == '\0')
        return {};
    size_t separator = place.length > 1 ? 1 : 0;
    size_t length = strlen(name);
    if (place.length + separator + length >= PATH_MAX)
        return Cause{ENAMETOOLONG};
    if (separator)
        place.path[place.length] = '/';
    memcpy(place.path + place.length + separator, name, length + 1);
    place.length += separator + length;
    return {};
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
Cause splice_link(const Place &place, const char *name, char (&pending)[PATH_MAX],
                  const char *&rest)
{
    char link[PATH_MAX];
    ssize_t link_length = readlinkat(place.fd.get(), name, link, sizeof link);
    if (link_length < 0)
        return errno_cause();
    size_t rest_length = strlen(rest);
    if (size_t(link_length) + rest_length >= PATH_MAX)
        return Cause{ENAMETOOLONG};
    if (link_length == 0)
        return Cause{ENOENT};
    memmove(pending + link_length, rest, rest_length + 1);
    memcpy(pending, link, size_t(link_length));
    rest = pending;
    return {};
}

// A link on /proc (/proc/PID/root, /proc/self/fd/N) stands for what the
// kernel finds through it, which its text may not name: a root of another
// mount namespace, a file since removed. It is followed only through the
// kernel, into a directory that keeps the link's name in the walk's path;
// one that leads to anything else, or a ".." above such a directory, is
// refused with this cause.
constexpr Cause PROC_LINK_REFUSED{EOPNOTSUPP};

// Walks `filename` one name at a time, each looked at without following it,
// from the directory held open at the step before: a directory another user
// swaps for a link meanwhile makes the walk fail (ENOTDIR), never lead
// through the link. A symbolic link is followed only where entry_trusted
// allows, judged by the directory that holds it, and OwnerTransitions too,
// else the walk fails with EACCES; more than MAX_LINK_HOPS links fail with
// ELOOP, as in the kernel. On success `place` holds the directory of the
// last entry and `name` that entry, empty when the name ends in a directory
// (a final slash, "." or ".."). A last entry that does not exist is taken as
// given when `missing_allowed`; a link that points nowhere leads to the name
// it points to, a relative one counting from the directory that holds it.
Cause walk(const char *filename, bool missing_allowed, Place &place, char (&name)[NAME_MAX + 1])
{
    char pending[PATH_MAX];
    size_t length = strlen(filename);
    if (length == 0 || length >= PATH_MAX)
        return Cause{length == 0 ? ENOENT : ENAMETOOLONG};
    memcpy(pending, filename, length + 1);
    OwnerTransitions transitions;
    if (Cause cause = start(place, pending[0] == '/'))
        return cause;
    if (Cause cause = transitions.enter(place.status))
        return cause;
    const char *rest = pending;
    int hops = 0;
    int below_proc_link = -1;  // directories entered below one a /proc link led to
    for (;;) {
        while (*rest == '/')
            rest++;
        size_t component = strcspn(rest, "/");
        if (component > NAME_MAX)
            return Cause{ENAMETOOLONG};
        memcpy(name, rest, component);
        name[component] = '\0';
        rest += component;
        if (component == 0)
            return {};
        if (strcmp(name, ".") == 0)
            continue;
        if (strcmp(name, "..") == 0) {
            if (below_proc_link == 0)
                return PROC_LINK_REFUSED;
            below_proc_link -= below_proc_link > 0;
            if (Cause cause = enter(place, place.fd.get(), ".."))
                return cause;
            if (Cause cause = transitions.enter(place.status))
                return cause;
            go_up(place);
            continue;
        }
        struct stat entry;
        if (fstatat(place.fd.get(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            bool missing_last = errno == ENOENT && missing_allowed && *rest == '\0';
            return missing_last ? Cause{} : errno_cause();
        }
        if (Cause cause = transitions.enter(entry))
            return cause;
        if (S_ISLNK(entry.st_mode)) {
            if (!entry_trusted(place.status, entry))
                return Cause{EACCES};
            if (++hops > MAX_LINK_HOPS)
                return Cause{ELOOP};
            if (on_proc(place.fd.get())) {
                Cause cause = enter(place, place.fd.get(), name, 0);
                if (cause)
                    return cause.error == ENOTDIR ? PROC_LINK_REFUSED : cause;
                if (Cause cause = transitions.enter(place.status))
                    return cause;
                if (Cause cause = append(place, name))
                    return cause;
                below_proc_link = 0;
                continue;
            }
            if (Cause cause = splice_link(place, name, pending, rest))
                return cause;
            if (*rest == '/') {
                if (Cause cause = start(place, true))
                    return cause;
                if (Cause cause = transitions.enter(place.status))
                    return cause;
                below_proc_link = -1;
            }
            continue;
        }
        if (*rest == '\0')
            return {};
        if (!S_ISDIR(entry.st_mode))
            return Cause{ENOTDIR};
        // Judged again as entered: the name may hold another directory by now.
        if (Cause cause = enter(place, place.fd.get(), name))
            return cause;
        if (Cause cause = transitions.enter(place.status))
            return cause;
        below_proc_link += below_proc_link >= 0;
        if (Cause cause = append(place, name))
            return cause;
    }
}

// The text of the regular file `filename` leads to, settled.
Cause read_named(const char *filename, FileText &text)
{
    Target target;
    if (Cause cause = locate_target(filename, target))
        return cause;
    FileDescriptor fd;
    struct stat status;
    if (Cause cause = open_regular(target.dir.get(), target.name, O_NOFOLLOW, fd, status))
        return cause;
    return read_settled(target.dir.get(), target.name, fd.get(), status, false, text);
}

Cause write_canonical_name(const char *filename, char *buffer, size_t size)
{
    if (!filename || !buffer)
        return Cause{EINVAL};
    char path[PATH_MAX];
    Place place;
    place.path = path;
    char name[NAME_MAX + 1];
    if (Cause cause = walk(filename, false, place, name))
        return cause;
    if (Cause cause = append(place, name))
        return cause;
    if (place.length >= size)
        return Cause{ERANGE};
    memcpy(buffer, path, place.length + 1);
    return {};
}

}  // namespace

namespace jsontree::detail {

Cause locate_target(const char *filename, Target &target)
{
    Place place;
    if (Cause cause = walk(filename, true, place, target.name))
        return cause;
    if (target.name[0] == '\0')
        return Cause{EISDIR};
    target.dir.reset(place.fd.release());
    return {};
}

char *read_file(const char *filename, size_t &length)
{
    FileText text;
    if (!filename || !succeeded(read_named(filename, text)))
        return nullptr;
    length = text.length;
    return text.bytes.release();
}

char *read_file(const char *filename)
{
    size_t length = 0;
    return read_file(filename, length);
}

}  // namespace jsontree::detail

JSON_Status json_canonical_filename(const char *filename, char *buffer, size_t size)
{
    return succeeded(write_canonical_name(filename, buffer, size)) ? JSONSuccess : JSONFailure;
}
