#!/usr/bin/env bash
# Builds libexpat as a static library for a cross build (Windows with the
# MinGW-w64 toolchain of this repository, or 32-bit x86 Linux) and installs it
# into PREFIX, from the source package of the machine's own Debian release.
#
#   tools/build-expat.sh ARCH PREFIX      (ARCH: i686 or x86_64, or i386)
#
# The source's licence goes in too, as share/doc/expat/COPYING: the release
# package ships it. Cached: when PREFIX already holds the installed CMake
# package and the licence, nothing is done; with the package alone, only the
# licence is fetched. Needs root when the machine has no deb-src entries yet
# (they are derived from its own apt sources) and for apt-get update.
set -euo pipefail

source "$(dirname "$0")/cross-target.sh"

licence=$prefix/share/doc/expat/COPYING
installed=$(compgen -G "$prefix/lib/cmake/expat-*/expat-config.cmake" || true)
if [ -n "$installed" ] && [ -f "$licence" ]; then
  echo "expat for $arch already installed in $prefix"
  exit 0
fi

have_sources() { apt-cache showsrc expat 2> /dev/null | grep -q '^Version:'; }

if ! have_sources; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "apt has no source entries for expat (run as root to add them from the binary ones)" >&2
    exit 1
  fi
  # Source entries mirroring the binary ones: deb822 stanzas get their Types
  # line replaced, one-line entries their leading "deb ".
  src_list=/etc/apt/sources.list.d/quillgate-deb-src
  if compgen -G "/etc/apt/sources.list.d/*.sources" > /dev/null; then
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*[[:space:]]deb([[:space:]]|$)/ {
           sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
      /etc/apt/sources.list.d/*.sources > "$src_list.sources"
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list > "$src_list.list"
  fi
  apt-get update -qq
fi
if ! have_sources; then
  apt-get update -qq
fi
command -v dpkg-source > /dev/null || apt-get install -y -qq --no-install-recommends dpkg-dev

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The versions the sources offer, newest first; the first that downloads wins.
mapfile -t versions < <(apt-cache showsrc expat | sed -n 's/^Version: //p' | sort -u -r -V)
fetched=
for version in "${versions[@]}"; do
  if apt-get source -qq "expat=$version" > /dev/null 2>&1; then
    fetched=$version
    break
  fi
done
if [ -z "$fetched" ]; then
  echo "no version of the expat source package could be fetched" >&2
  exit 1
fi
source_dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'expat-*' | head -n 1)
# The CMake project sits in expat/ in some releases, at the top in others.
if [ -f "$source_dir/expat/CMakeLists.txt" ]; then
  source_dir=$source_dir/expat
fi
if [ -n "$installed" ]; then
  # The licence of the very version that was built, or none.
  built=$(basename "$(dirname "$installed")")
  upstream=${fetched#*:}
  upstream=${upstream%%-*}
  if [ "$built" != "expat-$upstream" ]; then
    echo "$prefix holds $built but the sources offer expat $fetched: remove $prefix to rebuild" >&2
    exit 1
  fi
  install -D -m 644 "$source_dir/COPYING" "$licence"
  echo "licence of $built added to $prefix"
  exit 0
fi
echo "building expat $fetched for $arch"

# Some releases test "#if XML_DTD == 1" while their config template defines
# XML_DTD without a value.
config_template=$source_dir/expat_config.h.cmake
if grep -q '^#cmakedefine XML_DTD$' "$config_template"; then
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$config_template"
fi

# Built for size, with sections the program's link can drop, and with the C
# runtime's own printf: the parser's few fprintf calls would otherwise link
# MinGW's portable printf (some 25 KB) into the launcher.
cmake -S "$source_dir" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_C_FLAGS="-ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DEXPAT_SHARED_LIBS=OFF \
  -DEXPAT_BUILD_TOOLS=OFF \
  -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF \
  -DEXPAT_BUILD_DOCS=OFF \
  -DEXPAT_BUILD_FUZZERS=OFF \
  -DEXPAT_BUILD_PKGCONFIG=OFF > "$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j 2 > "$work/build.log" || { cat "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" > /dev/null
install -D -m 644 "$source_dir/COPYING" "$licence"
echo "expat $fetched for $arch installed in $prefix"
