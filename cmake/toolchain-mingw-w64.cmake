# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads
# variant: std::thread and std::mutex need it).
#
#   cmake -S . -B build-windows -G Ninja \
#         --toolchain cmake/toolchain-mingw-w64.cmake \
#         -DKRONEX_BUILD_GUI=OFF -DKRONEX_HOST_RELEASE_EMBED=<host build>/catalog/kronex-release-embed
#
# The project links its programs against libgcc, libstdc++ and winpthread
# statically (CMakeLists.txt), so a built .exe runs on a bare Windows (or
# under wine) without any of MinGW's DLLs; the window alone takes them as the
# DLLs Qt's own DLLs use.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_triple}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_triple}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_triple}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and test discovery run the .exe through wine when it is installed.
find_program(KRONEX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KRONEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KRONEX_WINE})
endif()
