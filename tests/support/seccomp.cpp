#include "seccomp.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>

const DeniedCall NO_UNNAMED_TEMPORARY_FILES = {"O_TMPFILE", SYS_openat, 2,
                                               uint32_t(O_TMPFILE & ~O_DIRECTORY), EOPNOTSUPP};
const DeniedCall NO_LINK_BY_DESCRIPTOR = {"AT_EMPTY_PATH", SYS_linkat, 4, AT_EMPTY_PATH, ENOENT};

namespace {

#if defined(__x86_64__)
constexpr uint32_t NATIVE_AUDIT_ARCH = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t NATIVE_AUDIT_ARCH = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
constexpr uint32_t NATIVE_AUDIT_ARCH = AUDIT_ARCH_ARM;
#elif defined(__i386__)
constexpr uint32_t NATIVE_AUDIT_ARCH = AUDIT_ARCH_I386;
#else
constexpr uint32_t NATIVE_AUDIT_ARCH = 0;
#endif

// Makes system call `number` fail with `error` whenever its argument `arg`
// has a bit of `flags` set, in this process from now on.
bool deny_call_with_flags(uint32_t number, unsigned arg, uint32_t flags, int error)
{
    // The low half of the 64-bit argument slot.
    uint32_t arg_offset = offsetof(seccomp_data, args) + arg * sizeof(uint64_t) +
                          (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_AUDIT_ARCH, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg_offset),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, flags, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (uint32_t(error) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    return NATIVE_AUDIT_ARCH != 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

}  // namespace

bool deny_call(const DeniedCall &denied)
{
    return deny_call_with_flags(denied.number, denied.arg, denied.flags, denied.error);
}
