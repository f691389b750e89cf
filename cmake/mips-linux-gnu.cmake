# Cross-compiling for big-endian 32-bit MIPS gateways (ath79 and the like),
# GNU C library. Tests run under user-mode QEMU with the cross toolchain's
# sysroot.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(JSONTREE_CROSS_TRIPLET mips-linux-gnu)
set(JSONTREE_CROSS_LOADER ld.so.1)
set(JSONTREE_CROSS_QEMU qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
