# Cross-compiling for the device: 32-bit ARM, hard float, GNU C library.
# Tests run under user-mode QEMU with the cross toolchain's sysroot.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(JSONTREE_CROSS_TRIPLET arm-linux-gnueabihf)
set(JSONTREE_CROSS_LOADER ld-linux-armhf.so.3)
set(JSONTREE_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
