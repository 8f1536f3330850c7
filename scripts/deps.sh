#!/usr/bin/env bash
# Installs the build tools a fresh Debian machine lacks (cmake, g++, GoogleTest,
# pkg-config and groff for the install and manual-page tests, xmllint for the
# check that profit.html is well-formed XML).
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
command -v groff >/dev/null 2>&1 || need+=(groff-base)
command -v xmllint >/dev/null 2>&1 || need+=(libxml2-utils)
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "missing: ${need[*]} (install them, e.g. apt-get install -y ${need[*]})" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update </dev/null
apt-get install -y "${need[@]}" </dev/null
