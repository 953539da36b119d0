#!/usr/bin/env bash
# Builds GoogleTest as static libraries for a cross build (Windows with the
# MinGW-w64 toolchain of this repository, or 32-bit x86 Linux) and installs it
# into PREFIX, from the sources Debian's googletest package puts in
# /usr/src/googletest.
#
#   tools/build-gtest.sh ARCH PREFIX      (ARCH: i686 or x86_64, or i386)
#
# Cached: when PREFIX already holds the installed CMake package, nothing is
# done.
set -euo pipefail

source "$(dirname "$0")/cross-target.sh"

if compgen -G "$prefix/lib/cmake/GTest/GTestConfig.cmake" > /dev/null; then
  echo "GoogleTest for $arch already installed in $prefix"
  exit 0
fi
source_dir=/usr/src/googletest
if [ ! -f "$source_dir/CMakeLists.txt" ]; then
  apt-get install -y -qq --no-install-recommends googletest
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$source_dir" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF \
  -DBUILD_GMOCK=ON \
  -Dgtest_disable_pthreads=OFF > "$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j 2 > "$work/build.log" || { cat "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" > /dev/null
echo "GoogleTest for $arch installed in $prefix"
