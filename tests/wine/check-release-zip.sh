#!/usr/bin/env bash
# Release check of the zip users download. Makes it with the package target of
# the windows-release preset and checks what it holds: the program (passing
# check-release-exe.sh), README.txt, LICENSE, THIRD-PARTY-NOTICES.txt with the
# licence of every library linked in, and SHA256SUMS, which must verify and
# cover every other file. Then makes it again in a fresh build folder: the
# program must come out the same, byte for byte, and hold no path of this
# checkout or of either build folder.
#
#   tests/wine/check-release-zip.sh
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
jobs=$(nproc 2> /dev/null || echo 2)
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Makes the package in build folder $1 and unpacks it into $2; sets `version`
# and `top` (the zip's one folder, unpacked).
make_package() {
  local build=$1 into=$2
  cmake --preset windows-release -B "$build" > /dev/null
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  local zip=$build/quillgate-$version-win32.zip
  rm -f "$zip"
  if ! cmake --build "$build" -j "$jobs" --target package > "$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    echo "FAIL: the package target failed in $build" >&2
    exit 1
  fi
  if [ ! -f "$zip" ]; then
    echo "FAIL: the package target made no $zip" >&2
    exit 1
  fi
  mkdir -p "$into"
  (cd "$into" && cmake -E tar xf "$here/$zip")
  top=$into/quillgate-$version-win32
  echo "$zip: $(stat -c %s "$zip") bytes"
}

make_package build/win-release "$work/first"
first=$top

expected=$(printf '%s\n' LICENSE README.txt SHA256SUMS THIRD-PARTY-NOTICES.txt quillgate.exe)
held=$(cd "$work/first" && find . -type f | sed 's|^\./quillgate-'"$version"'-win32/||' | LC_ALL=C sort)
if [ "$held" != "$expected" ]; then
  fail "the zip should hold quillgate-$version-win32/ with exactly: $(tr '\n' ' ' <<< "$expected"); it holds: $(tr '\n' ' ' <<< "$held")"
fi

# SHA256SUMS: verifies, and names every other file.
if ! (cd "$first" && sha256sum --quiet --strict -c SHA256SUMS); then
  fail "SHA256SUMS does not verify"
fi
summed=$(sed -E 's/^[0-9a-f]{64}  //' "$first/SHA256SUMS" | LC_ALL=C sort)
if [ "$summed" != "$(grep -vx SHA256SUMS <<< "$expected")" ]; then
  fail "SHA256SUMS covers $(tr '\n' ' ' <<< "$summed")"
fi

bash tests/wine/check-release-exe.sh "$first/quillgate.exe" || status=1
cmp -s build/win-release/launcher/quillgate.exe "$first/quillgate.exe" ||
  fail "the zip's quillgate.exe is not the one the build folder holds"

cmp -s LICENSE "$first/LICENSE" || fail "LICENSE in the zip is not the repository's"
grep -qx 'SPDX-License-Identifier: MIT' "$first/LICENSE" || fail "LICENSE has no SPDX identifier"
grep -qE '^Copyright \(c\) [0-9]{4}(-[0-9]{4})? The Quillgate authors$' "$first/LICENSE" ||
  fail "LICENSE has no copyright line of the Quillgate authors"

# What the notices must carry, one line per library: a text its licence file
# holds. The program links all of these in.
notices=$first/THIRD-PARTY-NOTICES.txt
while IFS='|' read -r library text; do
  grep -qiF -- "$text" "$notices" || fail "THIRD-PARTY-NOTICES.txt lacks $library ($text)"
done << 'EOF'
libexpat|Expat maintainers
libexpat|Permission is hereby granted, free of charge
MinGW-w64 runtime|the mingw-w64 project
winpthreads|mingw-w64-libraries/winpthreads
GCC runtime|GCC Runtime Library Exception
GCC runtime|GNU General Public License
EOF

readme=$first/README.txt
grep -qF "Quillgate $version" "$readme" || fail "README.txt does not name version $version"
grep -qF 'server\notepad\quillgate.log' "$readme" || fail "README.txt does not say where the log is"

# The same sources in a fresh folder of another name give the same program.
twin=build/win-release-twin
rm -rf "$twin"
make_package "$twin" "$work/second"
second=$top
if cmp "$first/quillgate.exe" "$second/quillgate.exe"; then
  echo "quillgate.exe built twice: the same $(stat -c %s "$first/quillgate.exe") bytes"
else
  fail "two builds of the same sources give different programs"
fi
cmp -s "$first/SHA256SUMS" "$second/SHA256SUMS" || fail "two builds give different SHA256SUMS"
for path in "$here" "$here/build/win-release" "$here/$twin"; do
  if grep -qaF "$path" "$first/quillgate.exe"; then
    fail "quillgate.exe holds the path $path"
  fi
done
((status)) || rm -rf "$twin"

exit $status
