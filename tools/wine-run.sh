#!/usr/bin/env bash
# Runs one Windows program under Wine, in a Wine prefix of its own that is
# shut down and removed afterwards, on a virtual display when there is none.
# The cross builds name it as their CMAKE_CROSSCOMPILING_EMULATOR, so CTest
# runs the Windows test executables through it.
#
#   tools/wine-run.sh [--template=DIR] [--timeout=SECONDS] [--drive=X:DIR]...
#                     [--share=SERVER/SHARE:DIR]... PROGRAM [ARGS...]
#
# --template=DIR: a booted prefix kept in DIR (made on first use, remade when
#   the Wine version changes) is copied for each run instead of booting a new
#   prefix every time (some 12 s saved per run).
# --timeout=SECONDS: the bound on the program's run (default 600); a program
#   still running then is ended and the result is 124.
# --drive=X:DIR: the folder DIR becomes the root of drive X: in the prefix.
# --share=SERVER/SHARE:DIR: the folder DIR becomes the network share
#   \\SERVER\SHARE in the prefix.
# The result is the program's exit code.
set -euo pipefail

template=
limit=600
drives=()
shares=()
while [ $# -gt 0 ]; do
  case "$1" in
    --template=*) template=${1#--template=}; shift ;;
    --timeout=*) limit=${1#--timeout=}; shift ;;
    --drive=?:*) drives+=("${1#--drive=}"); shift ;;
    --share=*/*:*) shares+=("${1#--share=}"); shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ]; then
  echo "usage: $0 [--template=DIR] [--timeout=SECONDS] [--drive=X:DIR]..." \
    "[--share=SERVER/SHARE:DIR]... PROGRAM [ARGS...]" >&2
  exit 2
fi

if [ -z "${DISPLAY:-}" ]; then
  forwarded=("--timeout=$limit")
  [ -n "$template" ] && forwarded+=("--template=$template")
  for drive in "${drives[@]}"; do forwarded+=("--drive=$drive"); done
  for share in "${shares[@]}"; do forwarded+=("--share=$share"); done
  exec xvfb-run -a "$0" "${forwarded[@]}" -- "$@"
fi

export WINEDEBUG=-all
# No downloads or install prompts for Mono and Gecko; nothing here needs them.
# The caller's own overrides follow.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Boots a new prefix in $1 and waits until its server has ended.
boot_prefix() {
  WINEPREFIX=$1 timeout 180 wineboot -i > /dev/null 2>&1 || true
  WINEPREFIX=$1 timeout 60 wineserver -w || true
}

prefix=$(mktemp -d "${TMPDIR:-/tmp}/qg-wine.XXXXXX")
cleanup() {
  WINEPREFIX=$prefix timeout 30 wineserver -k > /dev/null 2>&1 || true
  WINEPREFIX=$prefix timeout 30 wineserver -w > /dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT

if [ -n "$template" ]; then
  mkdir -p "$template"
  template=$(cd "$template" && pwd)
  # A prefix booted without 32-bit Wine does not serve once it is installed
  # (nor the other way round): its presence is part of the version.
  version="$(wine --version 2> /dev/null || echo unknown) wine32:$(
    dpkg-query -W -f='${Status} ${Version}' wine32:i386 2> /dev/null || echo none)"
  (
    flock 9
    if [ "$(cat "$template/.qg-wine-version" 2> /dev/null)" != "$version" ]; then
      find "$template" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
      boot_prefix "$template"
      echo "$version" > "$template/.qg-wine-version"
    fi
    cp -a "$template/." "$prefix/"
  ) 9> "$template.lock"
else
  boot_prefix "$prefix"
fi

for drive in "${drives[@]}"; do
  letter=$(printf '%s' "${drive%%:*}" | tr 'A-Z' 'a-z')
  ln -sfn "$(cd "${drive#?:}" && pwd)" "$prefix/dosdevices/$letter:"
done
# Wine serves \\SERVER\SHARE\... from dosdevices/unc/SERVER/SHARE.
for share in "${shares[@]}"; do
  name=${share%%:*}
  mkdir -p "$prefix/dosdevices/unc/${name%%/*}"
  ln -sfn "$(cd "${share#*:}" && pwd)" "$prefix/dosdevices/unc/$name"
done

export WINEPREFIX=$prefix
set +e
timeout --kill-after=10 "$limit" wine "$@"
result=$?
set -e
exit "$result"
