#!/usr/bin/env bash
# Renders a manual page as man(1) would and fails on any formatter warning or
# when a section that every page of ours carries is missing from the output.
set -euo pipefail
page=$1
if ! command -v groff >/dev/null 2>&1; then
  echo "SKIPPED: groff is not installed; install it (apt-get install groff-base) to check the manual page"
  exit 77
fi
warnings=$(groff -man -t -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "$warnings"
  exit 1
fi
text=$(groff -man -t -Tascii -P-cbou "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION FILES "EXIT STATUS" EXAMPLE; do
  grep -qx "$section" <<<"$text" || { echo "section $section is missing"; exit 1; }
done
echo "$page renders cleanly"
