# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64):
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-threads variant of the compiler provides std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VEK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
