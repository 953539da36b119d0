#!/usr/bin/env bash
# count_loads.sh BENCH FILE...
#
# Instructions of one load of each FILE and of one bare parse of it (the
# floor), counted by callgrind: "FILE load N parse N RATIO". Each is the
# count of two runs in one process less that of one, so that what only the
# first call of a process pays (binding library symbols, first touches) is
# left out, as it is from the timed rounds of xml_bench.
set -eu
bench=$1
shift
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    --toggle-collect='*LoadXmlDocument*' --toggle-collect='*BareParse*' \
    "$bench" --once "$@" 2>&1 | awk '/Collected/ { print $4 }'
}
for file in "$@"; do
  load=$(($(count load "$file" "$file") - $(count load "$file")))
  parse=$(($(count parse "$file" "$file") - $(count parse "$file")))
  awk -v f="${file##*/}" -v l="$load" -v p="$parse" \
    'BEGIN { printf "%s load %d parse %d %.3fx\n", f, l, p, l / p }'
done
