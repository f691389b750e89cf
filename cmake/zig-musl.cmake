# Cross-compiling with zig for a musl target (OpenWrt's C library): zig's
# clang, its musl and its LLVM libc++, static executables. The target comes in
# as JSONTREE_ZIG_TARGET (mips-linux-musl, mipsel-linux-musl,
# arm-linux-musleabihf, x86_64-linux-musl, ...), the processor as
# JSONTREE_ZIG_CPU where the target's default does not fit (ath79's 24Kc
# without a floating-point unit: mips32r2+soft_float), the zig program as
# JSONTREE_ZIG. Tests run under user-mode QEMU unless the target is the host.
# CMake keeps the compiler it found first: another target or processor needs
# a new build directory.
set(JSONTREE_ZIG zig CACHE FILEPATH "The zig program")
set(JSONTREE_ZIG_TARGET "" CACHE STRING "zig's target triple, e.g. mips-linux-musl")
set(JSONTREE_ZIG_CPU "" CACHE STRING "zig's -mcpu value; empty for the target's default")
# The scratch projects of CMake's checks read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES JSONTREE_ZIG JSONTREE_ZIG_TARGET JSONTREE_ZIG_CPU)
if(NOT JSONTREE_ZIG_TARGET)
  message(FATAL_ERROR "cmake/zig-musl.cmake needs JSONTREE_ZIG_TARGET, e.g. mips-linux-musl")
endif()

string(REGEX REPLACE "-.*" "" jsontree_zig_arch "${JSONTREE_ZIG_TARGET}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${jsontree_zig_arch})

set(jsontree_zig_flags -target ${JSONTREE_ZIG_TARGET})
if(JSONTREE_ZIG_CPU)
  list(APPEND jsontree_zig_flags -mcpu=${JSONTREE_ZIG_CPU})
endif()
set(CMAKE_C_COMPILER ${JSONTREE_ZIG} cc ${jsontree_zig_flags})
set(CMAKE_CXX_COMPILER ${JSONTREE_ZIG} c++ ${jsontree_zig_flags})
# zig's own archiver knows every target's object format.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "${JSONTREE_ZIG} ar qc <TARGET> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "${JSONTREE_ZIG} ar q <TARGET> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "${JSONTREE_ZIG} ranlib <TARGET>")
endforeach()
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# CMake's checks compile without linking: a first link for a target builds
# its C library (and for C++, libc++) from source, which only the programs
# that need them should wait for.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# zig 0.11 cannot write a precompiled header.
set(CMAKE_DISABLE_PRECOMPILE_HEADERS ON)

# Nothing of the host's (its glibc GoogleTest above all) may be linked in:
# zig brings the target's C library and headers itself.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_BINARY_DIR}/no-host-libraries)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT jsontree_zig_arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${jsontree_zig_arch})
endif()
