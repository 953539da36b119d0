#!/usr/bin/env bash
# Release check of the Windows program: it must be a 32-bit PE that imports
# only the system's known DLLs, keeps ASLR and DEP on, has no link time in its
# header, and carries its version information and manifest. Prints its size in
# bytes.
#
#   tests/wine/check-release-exe.sh EXE
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 EXE" >&2
  exit 2
fi
exe=$1
objdump=i686-w64-mingw32-objdump
status=0

headers=$("$objdump" -p "$exe" 2>&1 || true)
if ! grep -q 'file format pei-i386' <<< "$headers"; then
  echo "FAIL: $exe is not a 32-bit Windows program" >&2
  status=1
fi

# Only DLLs on the system's known-DLL list, which Windows always takes from its
# own folder. Any other (winmm.dll, libstdc++-6.dll, libwinpthread-1.dll, ...)
# is looked for beside the program first, where whoever copied the bundle can
# put a file of that name.
allowed='^(kernel32|user32|shell32|msvcrt)\.dll$'
while read -r dll; do
  if ! grep -qiE "$allowed" <<< "$dll"; then
    echo "FAIL: $exe imports $dll" >&2
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers")

for flag in DYNAMIC_BASE NX_COMPAT; do
  if ! grep -qE "^[[:space:]]+$flag\$" <<< "$headers"; then
    echo "FAIL: $exe lacks $flag" >&2
    status=1
  fi
done
if ! grep -qE '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970$' <<< "$headers"; then
  echo "FAIL: $exe has a link time in its header" >&2
  status=1
fi

wide_texts=$(strings -el "$exe")
texts=$(strings "$exe")
if ! grep -qx 'Quillgate' <<< "$wide_texts"; then
  echo "FAIL: $exe has no version information naming Quillgate" >&2
  status=1
fi
if ! grep -q 'requestedExecutionLevel level="asInvoker"' <<< "$texts"; then
  echo "FAIL: $exe has no manifest asking to run as the invoker" >&2
  status=1
fi

echo "$exe: $(stat -c %s "$exe") bytes; imports: $(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers" | tr '\n' ' ')"
exit $status
