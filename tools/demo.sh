#!/usr/bin/env bash
# Builds Quillgate, lays out a demo bundle and runs the launcher in it twice:
# once as if the bundle had just been copied to a new place (the settings are
# rewritten), once more in the same place (nothing is touched). It shows what
# changed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/tools/install-deps.sh"
cmake --preset release -S "$here" >/dev/null
cmake --build --preset release --target quillgate
exe="$here/build/release/launcher/quillgate"

bundle=$(mktemp -d "${TMPDIR:-/tmp}/quillgate demo.XXXXXX")
mkdir -p "$bundle/server/notepad" "$bundle/server/modules/php/PHP-5.6-5.7" "$bundle/server/domains/mysite.local"
cp "$here/tools/demo/php.ini" "$bundle/server/modules/php/PHP-5.6-5.7/php.ini"
cp "$here/tools/demo/config.xml" "$bundle/server/notepad/config.xml"
# A stand-in for the editor: it notes how it was started and exits at once.
cat > "$bundle/server/notepad/notepad++.exe" <<'SH'
#!/bin/sh
echo "editor started as: $0 $*  (in $(pwd))"
SH
chmod +x "$bundle/server/notepad/notepad++.exe"
before=$(mktemp -d)
cp -r "$bundle/server" "$before/"

echo "== demo bundle: $bundle"
echo "== first run (the bundle is new here)"
(cd "$bundle" && "$exe")
echo "== what the launcher changed (php.ini is written back in its normalised form:"
echo "   CR LF line ends, no blank lines, key = value; config.xml keeps its layout):"
diff -ru "$before/server" "$bundle/server" || true
echo "== state.txt now holds: $(cat "$bundle/server/notepad/state.txt")"
cp -r "$bundle/server" "$before/second"
echo "== second run (same place: nothing to update)"
(cd "$bundle" && "$exe")
if diff -r "$before/second" "$bundle/server" >/dev/null; then echo "== no file changed"; else echo "== files changed!"; exit 1; fi
rm -rf "$before" "$bundle"
