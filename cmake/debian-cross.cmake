# Cross-compiling with one of Debian's cross toolchains (g++-TRIPLET), GNU C
# library. The including toolchain file names the processor, the triplet
# (JSONTREE_CROSS_TRIPLET), the sysroot's loader (JSONTREE_CROSS_LOADER) and
# the user-mode QEMU that runs the tests (JSONTREE_CROSS_QEMU).
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${JSONTREE_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${JSONTREE_CROSS_TRIPLET}-g++)

set(JSONTREE_CROSS_SYSROOT /usr/${JSONTREE_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${JSONTREE_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot's loader is run by hand rather than named with -L: under -L
# QEMU takes every absolute name that also exists in the sysroot for the one
# there, so "/" itself would be the sysroot, and a program that walks names
# from the root directory (as the library does) would find nothing.
set(CMAKE_CROSSCOMPILING_EMULATOR ${JSONTREE_CROSS_QEMU}
    ${JSONTREE_CROSS_SYSROOT}/lib/${JSONTREE_CROSS_LOADER}
    --library-path ${JSONTREE_CROSS_SYSROOT}/lib)
