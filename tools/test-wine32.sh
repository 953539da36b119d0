#!/usr/bin/env bash
# The shipped program itself under Wine: the 32-bit quillgate.exe taken from
# the release zip, run through the end-to-end cases of tests/wine/launcher_e2e.py
# beside the stand-in programs of the Windows test build.
#
#   tools/test-wine32.sh --probe   exits with 0 when this machine's kernel runs
#                                  32-bit x86 programs itself; otherwise says
#                                  why on standard output and exits with 1
#   tools/test-wine32.sh [--junit FILE] [CASE...]
#                                  installs 32-bit Wine (tools/install-deps.sh
#                                  wine32, as root), makes the release zip when
#                                  it is not there, and runs the cases (all
#                                  without arguments; the ones about real
#                                  editor files skip without the corpus folder
#                                  QG_CORPUS names), with --junit writing their
#                                  results to FILE too
#
# 32-bit Wine runs 32-bit programs as the kernel's own 32-bit processes: an
# emulator such as qemu-i386 cannot stand in for it, so a kernel without
# 32-bit support leaves this stage out.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

# A 96-byte static i386 ELF program that only exits with code 42 (the system
# call exit through int 0x80), made here so that the probe needs no 32-bit
# compiler or library.
probe() {
  local dir
  dir=$(mktemp -d)
  local program=$dir/probe-i386
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' > "$program"
  # ELF header: executable, Intel 80386, entry 0x08048054, one program header at 52.
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >> "$program"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >> "$program"
  # Program header: the whole file loaded at 0x08048000, readable and executable.
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >> "$program"
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >> "$program"
  # mov eax, 1; mov ebx, 42; int 0x80
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >> "$program"
  chmod +x "$program"
  local output status=0
  output=$("$program" 2>&1) || status=$?
  rm -rf "$dir"
  if ((status != 42)); then
    output=${output##*: }
    echo "this kernel does not run 32-bit x86 programs (${output:-exit status $status})"
    return 1
  fi
  # Started through a binfmt_misc handler (for 32-bit little-endian ELF
  # files of machine 3), it ran in an emulator, not natively.
  local handler
  for handler in /proc/sys/fs/binfmt_misc/*; do
    [[ -f $handler ]] && grep -qx enabled "$handler" 2> /dev/null || continue
    if grep -q '^magic 7f454c460101.*0300' "$handler"; then
      echo "32-bit x86 programs run here only through" \
        "$(sed -n 's/^interpreter //p' "$handler"), not natively"
      return 1
    fi
  done
  return 0
}

if [[ "${1:-}" == --probe ]]; then
  probe
  exit
fi
if ! reason=$(probe); then
  echo "$reason" >&2
  exit 1
fi

bash tools/install-deps.sh wine32

zip=$(ls build/win-release/quillgate-*-win32.zip 2> /dev/null | head -n 1 || true)
if [[ -z "$zip" ]]; then
  cmake --preset windows-release > /dev/null
  cmake --build --preset windows-release --target package
  zip=$(ls build/win-release/quillgate-*-win32.zip | head -n 1)
fi
if [[ ! -f build/win-test/tests/wine/standins/harness.exe ]]; then
  echo "build the windows-test preset first: its stand-in programs are needed" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$here/$zip")
exe=$(find "$work" -name quillgate.exe | head -n 1)
# The PE header's machine field: 0x014c, Intel 386.
pe=$(od -An -tu4 -j60 -N4 --endian=little "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 --endian=little "$exe" | tr -d ' ')
if [[ "$machine" != 014c ]]; then
  echo "$exe from $zip is not a 32-bit x86 program (machine $machine)" >&2
  exit 1
fi
echo "running $zip's quillgate.exe ($(stat -c %s "$exe") bytes) under 32-bit Wine"
# A Wine prefix template of its own: one booted with 32-bit Wine installed.
python3 tests/wine/launcher_e2e.py --build build/win-test --launcher "$exe" \
  --template build/win-wine-template-wine32 "$@"
