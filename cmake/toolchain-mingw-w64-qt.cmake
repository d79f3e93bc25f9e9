# The toolchain Qt for Windows is built with (scripts/qt-windows.sh) and that
# its qt.toolchain.cmake loads by default: Debian's mingw-w64 with posix
# threads, shared run-time (Qt's DLLs take libstdc++, libgcc and winpthread
# as DLLs). The project's own programs chain-load cmake/toolchain-mingw-w64.cmake
# instead. Copied into the Qt prefix as lib/cmake/mingw64-toolchain.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR /usr/bin/${_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${_triple}-ranlib CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
