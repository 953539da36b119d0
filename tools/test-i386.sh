#!/usr/bin/env bash
# Builds the native suites and the launcher as 32-bit x86 Linux programs (gcc
# -m32, statically linked, in build/i386) against libexpat and GoogleTest built
# for i386 from the machine's own Debian sources, and runs every test with
# CTest. Where this machine cannot run i386 programs itself, every test program
# runs through qemu-i386-static (the build's emulator); QG_I386_EMULATE=1 uses
# the emulator even where they could run natively.
#   tools/test-i386.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash tools/install-deps.sh i386
started=$(date +%s)
jobs=$(nproc 2>/dev/null || echo 2)

bash tools/build-expat.sh i386 build/expat-i386
bash tools/build-gtest.sh i386 build/gtest-i386

# The toolchain file decides, by running a small i386 program, whether the
# tests need the emulator; forced here, or decided anew.
if [[ "${QG_I386_EMULATE:-0}" == 1 ]]; then
  emulator=(-DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v qemu-i386-static)")
else
  emulator=(-UCMAKE_CROSSCOMPILING_EMULATOR)
fi
cmake --preset i386 "${emulator[@]}" > /dev/null
cmake --build --preset i386 -j "$jobs"
echo "emulator: $(sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p' build/i386/CMakeCache.txt)"

# Every program of the build is an i386 ELF file: class 1 (32-bit) at byte 4,
# machine 3 (Intel 80386) at bytes 18-19.
mapfile -t programs < <(find build/i386/launcher build/i386/tests -maxdepth 2 -type f -perm -u+x \
                          \( -name quillgate -o -name '*_test' \))
if ((${#programs[@]} == 0)); then
  echo "no test program was built" >&2
  exit 1
fi
for program in "${programs[@]}"; do
  class=$(od -An -tu1 -j4 -N1 "$program" | tr -d ' ')
  machine=$(od -An -tu2 -j18 -N2 --endian=little "$program" | tr -d ' ')
  if [[ "$class" != 1 || "$machine" != 3 ]]; then
    echo "$program is not a 32-bit x86 program (ELF class $class, machine $machine)" >&2
    exit 1
  fi
done
echo "${#programs[@]} programs, all 32-bit x86: ${programs[*]#build/i386/}"

status=0
# The JUnit file gives the test driver its counts (build/junit-i386.xml).
ctest --preset i386 -j "$jobs" --output-junit "$here/build/junit-i386.xml" || status=$?

# Tests skipped where they cannot hold, with the reason each gave.
awk '/^[0-9]+\/[0-9]+ Testing: / { test = $3 }
     /: Skipped$/ { getline reason; print "skipped: " test ": " reason }' \
  build/i386/Testing/Temporary/LastTest.log
echo "i386 stage: $(($(date +%s) - started)) s"
exit "$status"
