# Cross-compiling for the device: 32-bit ARM, hard float, GNU C library.
# Tests run under user-mode QEMU with the cross toolchain's sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(JSONTREE_ARM_SYSROOT /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH ${JSONTREE_ARM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot's loader is run by hand rather than named with -L: under -L
# QEMU takes every absolute name that also exists in the sysroot for the one
# there, so "/" itself would be the sysroot, and a program that walks names
# from the root directory (as the library does) would find nothing.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm ${JSONTREE_ARM_SYSROOT}/lib/ld-linux-armhf.so.3
    --library-path ${JSONTREE_ARM_SYSROOT}/lib)
