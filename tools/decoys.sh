#!/usr/bin/env bash
# decoys.sh COMMAND [ARGS...]
#
# Runs COMMAND (a test suite) while programs named like the bundle's own run
# elsewhere on the machine: copies of sleep called php.exe, ConEmu.exe,
# ConEmu64.exe and notepad++.exe in a temporary folder. The tests must
# neither see nor stop them. Afterwards every decoy must still be running;
# then they are ended by their ids and the folder is removed.
# Exit status: COMMAND's, or 1 when a decoy did not survive it.
set -u
if (($# == 0)); then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

folder=$(mktemp -d "${TMPDIR:-/tmp}/quillgate-decoys.XXXXXX")
pids=()
names=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

sleeper=$(command -v sleep)
for name in php.exe ConEmu.exe ConEmu64.exe notepad++.exe; do
  cp "$sleeper" "$folder/$name"
  (cd "$folder" && exec "./$name" infinity) &
  pids+=($!)
  names+=("$name")
done
# Each must have become its program before the suite looks.
for i in "${!pids[@]}"; do
  for _ in $(seq 100); do
    [[ $(readlink "/proc/${pids[i]}/exe" 2>/dev/null) == "$folder/${names[i]}" ]] && break
    sleep 0.05
  done
done
echo "== decoys running: $(for i in "${!pids[@]}"; do printf '%s (%s) ' "${names[i]}" "${pids[i]}"; done)"

"$@"
status=$?

lost=0
for i in "${!pids[@]}"; do
  state=$(awk '{print $3}' "/proc/${pids[i]}/stat" 2>/dev/null)
  if [[ -z $state || $state == Z || $(readlink "/proc/${pids[i]}/exe" 2>/dev/null) != "$folder/${names[i]}" ]]; then
    echo "decoy ${names[i]} (${pids[i]}) did not survive the run" >&2
    lost=1
  fi
done
((lost)) && exit 1
echo "== every decoy survived"
exit "$status"
