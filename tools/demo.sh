#!/usr/bin/env bash
# Builds Quillgate, lays out a demo bundle and runs the launcher in it twice:
# once as if the bundle had just been copied to a new place (the settings are
# rewritten), once more in the same place (nothing is touched). It shows what
# changed. The temporary folder goes, and whatever the demo started is
# ended, also when it is interrupted.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/tools/install-deps.sh"
cmake --preset release -S "$here" >/dev/null
cmake --build --preset release --target quillgate
exe="$here/build/release/launcher/quillgate"

work=$(cd "$(mktemp -d "${TMPDIR:-/tmp}/quillgate demo.XXXXXX")" && pwd -P)
bundle="$work/bundle"
before="$work/before"
launcher=""
# Ends, by their ids, the launcher while it runs and any stand-in editor
# still running from this bundle, then removes the folder.
cleanup() {
  set +e
  if [[ -n $launcher ]]; then
    kill -KILL "$launcher" 2>/dev/null
    wait "$launcher" 2>/dev/null
  fi
  if [[ -f "$work/editor-pids" ]]; then
    while read -r pid; do
      # Only while that id still is our editor, not a process that got it later.
      if tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | grep -qxF "$bundle/server/notepad/notepad++.exe"; then
        kill -KILL "$pid" 2>/dev/null
      fi
    done <"$work/editor-pids"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "== interrupted"; exit 130' INT TERM
# Runs the launcher in the bundle and waits for it.
run_launcher() {
  (cd "$bundle" && exec "$exe") &
  launcher=$!
  wait "$launcher"
  launcher=""
}

mkdir -p "$bundle/server/notepad" "$bundle/server/modules/php/PHP-5.6-5.7" "$bundle/server/domains/mysite.local"
# The project's own bundle files (tests/fixtures/bundle), from where the
# bundle was before it was copied here: {ROOT} becomes that old root, and the
# rest of such a value takes "/" for each backslash.
fill() {
  sed -e ':a' -e 's/\({ROOT}[^"\\]*\)\\/\1\//' -e 'ta' -e 's|{ROOT}|/old/place/bundle/|g' \
    "$here/tests/fixtures/bundle/$1" >"$2/$1"
}
fill php.ini "$bundle/server/modules/php/PHP-5.6-5.7"
fill config.xml "$bundle/server/notepad"
fill session.xml "$bundle/server/notepad"
printf '%s' /old/place/bundle/ > "$bundle/server/notepad/state.txt"
# A stand-in for the editor: it notes how it was started and exits at once.
# Its id goes to the demo's folder, three levels up, for the clean-up.
cat > "$bundle/server/notepad/notepad++.exe" <<'SH'
#!/bin/sh
echo $$ >> "${0%/*}/../../../editor-pids"
echo "editor started as: $0 $*  (in $(pwd))"
SH
chmod +x "$bundle/server/notepad/notepad++.exe"
mkdir "$before"
cp -r "$bundle/server" "$before/"

echo "== demo bundle: $bundle"
echo "== first run (the bundle was copied here from /old/place/bundle/)"
run_launcher
echo "== what the launcher changed (php.ini is written back in its normalised form:"
echo "   no blank lines, key = value; config.xml and session.xml keep their layout"
echo "   but for the blank before \"/>\", left out below, and the editor's paths"
echo "   inside the old place now name the same places here):"
diff -ruw "$before/server" "$bundle/server" || true
echo "== state.txt now holds: $(cat "$bundle/server/notepad/state.txt")"
echo "== the run's record, server/notepad/quillgate.log:"
cat "$bundle/server/notepad/quillgate.log"
cp -r "$bundle/server" "$before/second"
echo "== second run (same place: nothing to update)"
run_launcher
if diff -r "$before/second" "$bundle/server" >/dev/null; then echo "== no file changed"; else echo "== files changed!"; exit 1; fi
