#include "mount.h"

#include "process.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

ScopedMount::ScopedMount(const char *source, const std::string &target, const char *type,
                         unsigned long flags, const char *data)
    : target_(target), flags_(flags)
{
    mounted_ = mount(source, target.c_str(), type, flags, data) == 0;
    error_ = mounted_ ? 0 : errno;
}

ScopedMount::~ScopedMount()
{
    if (mounted_ && umount2(target_.c_str(), 0) != 0)
        umount2(target_.c_str(), MNT_DETACH);
}

std::string ScopedMount::error() const
{
    return strerror(error_);
}

bool ScopedMount::remount_read_only() const
{
    unsigned long bind = flags_ & MS_BIND;
    return mount(nullptr, target_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | bind, nullptr) == 0;
}

bool bind_mounts_permitted()
{
    TempDir dir;
    ScopedMount bind(dir.write("source", "").c_str(), dir.write("target", ""), nullptr, MS_BIND,
                     nullptr);
    return bind.mounted();
}
