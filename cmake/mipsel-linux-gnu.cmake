# Cross-compiling for little-endian 32-bit MIPS gateways (ramips MT7628 and
# the like), GNU C library. Tests run under user-mode QEMU with the cross
# toolchain's sysroot.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(JSONTREE_CROSS_TRIPLET mipsel-linux-gnu)
set(JSONTREE_CROSS_LOADER ld.so.1)
set(JSONTREE_CROSS_QEMU qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
