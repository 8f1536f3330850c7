#!/usr/bin/env bash
# Compares the outputs of a Linux run with those of a Windows run of the same
# trade files:  compare_outputs.sh LINUX_DIR WINDOWS_DIR LINUX_CONSOLE WINDOWS_CONSOLE
# Every line the Windows run wrote must end in CR LF; with those turned into LF
# the files must be the Linux bytes (the CSV files, CR LF on both, unchanged), except that the pages' "made on" time may
# differ and the rows of imported.txt and garbage.txt may come in another file
# order (each system lists the directory in its own order).
set -euo pipefail
linux=$1 windows=$2 linux_console=$3 windows_console=$4
status=0

crlf_only() {  # every LF of $1 preceded by CR
  if LC_ALL=C grep -q $'[^\r]$' "$1" || LC_ALL=C grep -qx '' "$1"; then
    echo "$1: a line ends without CR" >&2
    return 1
  fi
}

lf() { LC_ALL=C sed 's/\r$//' "$1"; }
undated() { LC_ALL=C sed -E 's|[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}<br( /)?>|TIME<br>|'; }

outputs='imported.txt garbage.txt orders.txt report*.html profit.html *.csv'
names=$(cd "$linux" && ls $outputs)
[ "$names" = "$(cd "$windows" && ls $outputs)" ] || {
  echo "the two runs wrote different files" >&2
  exit 1
}
for name in $names; do
  crlf_only "$windows/$name" || status=1
  case $name in
    imported.txt|garbage.txt)
      cmp -s <(LC_ALL=C sort "$linux/$name") <(lf "$windows/$name" | LC_ALL=C sort) ;;
    *.csv)  # CR LF on every platform: the very same bytes
      cmp -s "$linux/$name" "$windows/$name" ;;
    *)
      cmp -s <(undated <"$linux/$name") <(lf "$windows/$name" | undated) ;;
  esac || { echo "$name differs" >&2; status=1; }
done

# The console: the same lines apart from the order of "reading" lines.
crlf_only "$windows_console" || status=1
cmp -s <(LC_ALL=C sort "$linux_console") <(lf "$windows_console" | LC_ALL=C sort) ||
  { echo "the console lines differ" >&2; status=1; }

[ $status -eq 0 ] && echo "Windows outputs match the Linux ones: $names"
exit $status
