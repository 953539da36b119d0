# Cross build for Windows with MinGW-w64 (QG_MINGW_ARCH: i686 or x86_64), the
# POSIX thread flavour (std::thread and std::mutex need it). Every program is
# linked statically, so it needs no runtime DLL beside the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QG_MINGW_ARCH})

set(QG_MINGW_TRIPLE ${QG_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${QG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QG_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Packages built for this target (libexpat, GoogleTest) are installed in the
# prefixes of CMAKE_PREFIX_PATH; they count as roots, so that they are found
# and the build machine's own packages are not.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

# No link time in the PE header either, so the same sources give the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
