#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) and runs each for a
# share of SECONDS (default 60), seeded from its committed corpus in
# fuzz/corpus/TARGET (fuzz/corpus/README.md describes the files). A seed
# folder that is missing or empty is an error. The working corpora grow in
# build/fuzz-corpus; crashes land in build/fuzz-crashes. Exit status 0 only
# when every target ran its time without a finding.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
total=${1:-60}
targets=(ini_round_trip xml_round_trip read_line)

for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  if [[ ! -d $seeds ]] || [[ -z $(find "$seeds" -type f -size +0 -print -quit) ]]; then
    echo "fuzz.sh: no seeds for $t: $seeds is missing or holds no non-empty file" >&2
    exit 1
  fi
done

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" || exit 1

each=$((total / ${#targets[@]}))
((each < 5)) && each=5
mkdir -p build/fuzz-crashes
failed=()
for t in "${targets[@]}"; do
  corpus=build/fuzz-corpus/$t
  mkdir -p "$corpus"
  find "fuzz/corpus/$t" -type f -size +0 -exec cp -n {} "$corpus/" \;
  echo "== $t: ${each}s"
  log=build/fuzz-crashes/$t.log
  "build/fuzz/fuzz/${t}_fuzz" "$corpus" -max_total_time="$each" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix="build/fuzz-crashes/$t-" -print_final_stats=1 >"$log" 2>&1
  status=$?
  tail -n 12 "$log"
  if ((status != 0)); then
    echo "== $t: the fuzzer ended with status $status (log: $log)"
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then
  echo "fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
