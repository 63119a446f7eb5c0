#!/usr/bin/env bash
# Puts the packaging tool's table of the skin's pictures
# (`mkinstaller --skin-table`) into docs/skin.md between its two markers, so
# the guide says what the code does. Needs a build that tools/mkinstaller
# finds (see its header). The test_tools test fails while the two differ.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
doc=$root/docs/skin.md
table=$(mktemp)
trap 'rm -f "$table" "$doc.new"' EXIT
"$root/tools/mkinstaller" --skin-table > "$table"
awk -v table="$table" '
  $0 == "<!-- skin-table: begin -->" { print; while ((getline line < table) > 0) print line; skip = 1; next }
  $0 == "<!-- skin-table: end -->" { skip = 0 }
  !skip { print }' "$doc" > "$doc.new"
grep -qx -- '<!-- skin-table: end -->' "$doc.new" || { echo "update-skin-table: $doc lacks its markers" >&2; exit 1; }
mv "$doc.new" "$doc"
echo "updated $doc"
