// Mounts for tests that need a real full disk, a read-only file system or a
// bind-mounted file. Tests run as root; where mounting is refused they skip.
#ifndef TESTS_MOUNT_H
#define TESTS_MOUNT_H

#include <string>

// A mount undone when this goes out of scope, on every path.
class ScopedMount {
public:
    ScopedMount(const char *source, const std::string &target, const char *type,
                unsigned long flags, const char *data);
    ~ScopedMount();
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;

    bool mounted() const { return mounted_; }
    // Why the mount was refused.
    std::string error() const;
    // Makes the mounted file system (or the bind) read-only for everyone.
    bool remount_read_only() const;

private:
    std::string target_;
    unsigned long flags_;
    bool mounted_;
    int error_;
};

// Whether this process may bind-mount a file over another.
bool bind_mounts_permitted();

#endif
