# SPDX-License-Identifier: GPL-2.0-or-later
# Cross build for 64-bit Windows with the mingw-w64 compilers of Debian.
# The "-posix" variant has the C++ threads of the standard library; the C++
# runtime, libgcc and winpthread are linked into each program, so a .exe
# runs on its own without DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FWTOOL_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${FWTOOL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FWTOOL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FWTOOL_MINGW_TRIPLE}-windres)

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${FWTOOL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
