#!/usr/bin/env bash
# Installs, as root on Debian, what building and testing Quillgate needs.
#   tools/install-deps.sh          the native build and its tests
#   tools/install-deps.sh windows  also the MinGW cross compilers and Wine
#   tools/install-deps.sh i386     also the 32-bit x86 compilers and qemu-i386-static
#   tools/install-deps.sh wine32   also 32-bit Wine (Debian's wine32 for the i386
#                                  architecture, which it adds to dpkg when missing)
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-dev pkg-config googletest libgtest-dev
          libbenchmark-dev libexpat1-dev libxml2-utils php8.2-cli libinih-dev libtinyxml2-dev
          libpugixml-dev libxml2-dev)
if [[ "${1:-}" == i386 ]]; then
  packages+=(gcc-multilib g++-multilib qemu-user-static dpkg-dev)
fi
if [[ "${1:-}" == windows ]]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth dpkg-dev binutils-mingw-w64-i686 python3
            locales)
fi

if [[ "${1:-}" == wine32 ]]; then
  packages+=(wine wine64 xvfb xauth python3 locales wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [[ $(id -u) -ne 0 ]]; then
      echo "the i386 architecture is not enabled (run as root to add it)" >&2
      exit 1
    fi
    dpkg --add-architecture i386
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
