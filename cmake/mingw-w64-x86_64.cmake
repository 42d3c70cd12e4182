# Cross-compiles Kiru for 64-bit Windows with the MinGW-w64 toolchain
# (POSIX threading model, so that std::thread and std::mutex are available).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Test executables run under Wine through the cross-compiling emulator that
# the top-level CMakeLists.txt sets up.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KIRU_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KIRU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIRU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIRU_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot only. Header-only CMake
# packages (CLI11) are architecture-independent, so the host's are searched too.
set(CMAKE_FIND_ROOT_PATH /usr/${KIRU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
