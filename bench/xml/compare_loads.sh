#!/usr/bin/env bash
# compare_loads.sh BASE_BENCH OURS_BENCH ROUNDS FILE...
#
# Load times of two builds of xml_bench against the bare-expat floor of the
# same run, in alternating rounds (BASE, OURS, BASE, OURS, ...), one line per
# build, round and file: "base|ours ROUND FILE floor MS load MS RATIO".
set -eu
base=$1 ours=$2 rounds=$3
shift 3
for ((round = 1; round <= rounds; round++)); do
  for who in base ours; do
    bench=$base
    [[ $who == ours ]] && bench=$ours
    "$bench" "$@" | awk -v who="$who" -v round="$round" '
      / KiB, best of / { file = $1; sub(/.*\//, "", file) }
      /^  load/ { ratio = $10; gsub(/[()]/, "", ratio); printf "%s %d %s floor %s load %s %s\n", who, round, file, $4, $8, ratio }'
  done
done
