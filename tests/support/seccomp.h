// Kernels and file systems that lack a feature, imitated by a seccomp filter
// that makes the system call asking for it fail.
#ifndef TESTS_SECCOMP_H
#define TESTS_SECCOMP_H

#include <cstdint>

struct DeniedCall {
    const char *what;
    uint32_t number;  // system call
    unsigned arg;     // argument whose flags are looked at
    uint32_t flags;   // any of them set makes the call fail
    int error;        // with this errno
};

// Old kernels and file systems without unnamed temporary files.
extern const DeniedCall NO_UNNAMED_TEMPORARY_FILES;
// Kernels that let only privileged processes link a descriptor in.
extern const DeniedCall NO_LINK_BY_DESCRIPTOR;

// Makes `denied` fail in this process and every child and program it starts
// from now on; false where no filter can be installed.
bool deny_call(const DeniedCall &denied);

#endif
