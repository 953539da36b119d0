#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) and runs each for a
# share of SECONDS (default 60), seeded from the project's own test files.
# The corpora grow in build/fuzz-corpus; crashes land in build/fuzz-crashes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
total=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"

targets=(ini_round_trip xml_round_trip read_line)
each=$((total / ${#targets[@]}))
((each < 5)) && each=5
mkdir -p build/fuzz-crashes
for t in "${targets[@]}"; do
  corpus=build/fuzz-corpus/$t
  mkdir -p "$corpus"
  # Seeds: the demo bundle's files and the test data of the suites.
  case $t in
    ini_round_trip) seeds=(tools/demo/php.ini tests/prefs/data) ;;
    xml_round_trip) seeds=(tools/demo/config.xml tests/xml/data) ;;
    read_line) seeds=(tools/demo) ;;
  esac
  for s in "${seeds[@]}"; do
    [[ -e $s ]] && find "$s" -type f -size -64k -exec cp -n {} "$corpus/" \; 2>/dev/null
  done
  echo "== $t: ${each}s"
  "build/fuzz/fuzz/${t}_fuzz" "$corpus" -max_total_time="$each" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix="build/fuzz-crashes/$t-" -print_final_stats=1 2>&1 | tail -n 12
done
