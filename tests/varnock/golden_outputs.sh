#!/usr/bin/env bash
# Runs varnock on a copy of examples/ and compares every output with the ones
# kept in tests/data/golden-examples/, byte for byte, except the pages' time of
# writing.  imported.txt, garbage.txt and the "reading" lines follow the order
# in which the system lists the folder, so those are compared as sorted lines.
#
#   golden_outputs.sh VARNOCK SOURCE_ROOT
set -euo pipefail
varnock=$1 root=$2
golden=$root/tests/data/golden-examples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/sdelki*.xls "$work"/
(cd "$work" && "$varnock" </dev/null 2>console.txt) || { echo "varnock failed" >&2; cat "$work/console.txt" >&2; exit 1; }

undated() { LC_ALL=C sed -E 's|[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}<br( /)?>|TIME<br>|' "$1"; }
status=0
for file in "$golden"/*; do
  name=$(basename "$file")
  case $name in
    imported.txt|garbage.txt) cmp -s <(LC_ALL=C sort "$file") <(LC_ALL=C sort "$work/$name") ;;
    console.txt) cmp -s <(grep -v '^reading ' "$file") <(grep -v '^reading ' "$work/$name") &&
                 cmp -s <(grep '^reading ' "$file" | LC_ALL=C sort) <(grep '^reading ' "$work/$name" | LC_ALL=C sort) ;;
    *) cmp -s <(undated "$file") <(undated "$work/$name") ;;
  esac || { echo "$name differs from the kept output" >&2; diff <(undated "$file") <(undated "$work/$name") | head -20 >&2 || true; status=1; }
done
[ "$(cd "$work" && ls | grep -v '^sdelki' | LC_ALL=C sort)" = "$(ls "$golden" | LC_ALL=C sort)" ] ||
  { echo "the run wrote other files than the kept ones" >&2; status=1; }
exit $status
