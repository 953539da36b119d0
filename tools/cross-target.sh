# Sourced by the scripts that build a dependency for a cross build: reads
# their ARCH PREFIX arguments and sets `arch`, `toolchain` (this repository's
# toolchain file for ARCH: MinGW for i686 and x86_64, 32-bit Linux for i386)
# and `prefix` (made absolute).
if [ $# -ne 2 ]; then
  echo "usage: $0 ARCH PREFIX   (ARCH: i686 or x86_64 for Windows, i386 for Linux)" >&2
  exit 2
fi
arch=$1
toolchains=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/toolchains
case "$arch" in
  i686 | x86_64) toolchain=$toolchains/mingw-$arch.cmake ;;
  i386) toolchain=$toolchains/linux-i386.cmake ;;
  *) echo "unknown ARCH '$arch': i686 or x86_64 (Windows), i386 (Linux)" >&2; exit 2 ;;
esac
mkdir -p "$2"
prefix=$(cd "$2" && pwd)
