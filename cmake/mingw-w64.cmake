# SPDX-License-Identifier: MIT
# Cross-compiles the Windows programs on Linux with MinGW-w64 (64-bit).
# The win32 thread model needs no threading library at run time; the
# programs are linked statically so that they run on a bare Windows machine
# without the compiler's DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(EBRILO_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${EBRILO_MINGW_TRIPLET}-g++-win32 ${EBRILO_MINGW_TRIPLET}-g++
             REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${EBRILO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
