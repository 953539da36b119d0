# Sourced by the scripts that build a dependency for a Windows cross build:
# reads their ARCH PREFIX arguments and sets `arch`, `toolchain` (this
# repository's MinGW toolchain file for ARCH) and `prefix` (made absolute).
if [ $# -ne 2 ]; then
  echo "usage: $0 ARCH PREFIX   (ARCH: i686 or x86_64)" >&2
  exit 2
fi
arch=$1
case "$arch" in
  i686 | x86_64) ;;
  *) echo "unknown ARCH '$arch': i686 or x86_64" >&2; exit 2 ;;
esac
toolchain=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/toolchains/mingw-$arch.cmake
mkdir -p "$2"
prefix=$(cd "$2" && pwd)
