#!/usr/bin/env bash
# Installs a build tree into a temporary prefix, moves the installed tree once
# (an installed package must not depend on where it was first put), then builds
# and runs the consumer programs of this directory against it.
#
#   run.sh pkg-config|find-package BUILD_DIR VERSION [CMAKE [CC [CXX]]]
#
# Exit status 0 when both consumers build and run, 77 (skipped) when the
# pkg-config check is asked for on a machine without pkg-config, 1 otherwise.
set -euo pipefail

mode=$1 build=$2 version=$3
cmake=${4:-cmake} cc=${5:-cc} cxx=${6:-c++}
here=$(cd "$(dirname "$0")" && pwd)

if [ "$mode" = pkg-config ] && ! command -v pkg-config >/dev/null 2>&1; then
  echo "SKIPPED: pkg-config is not installed; install it (apt-get install pkg-config) to run this check"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keltools-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/staged" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log" >&2; fail "cmake --install"; }
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

for f in bin/varnock lib/libkeltools.a include/keltools.h share/man/man1/varnock.1 \
         lib/pkgconfig/keltools.pc lib/cmake/keltools/keltoolsConfig.cmake \
         lib/cmake/keltools/keltoolsConfigVersion.cmake; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/varnock" ] || fail "bin/varnock is not executable"

# The installed program runs on its own and names its version in the report
# footer: one bought trade in a trade file of one table row.
mkdir "$work/run"
printf '%s' '<table><tr><td>05.03.2013 10:07:31</td><td>1</td><td>7</td><td>GAZP</td>' \
  '<td>Gazprom</td><td></td><td>' $'\xca\xf3\xef\xeb\xff' '</td><td></td><td>150.25</td>' \
  '<td>6010</td><td>1</td><td>0</td><td>0</td><td>0</td><td>0</td><td></td></tr></table>' \
  >"$work/run/sdelki.xls"
(cd "$work/run" && "$prefix/bin/varnock" </dev/null 2>"$work/varnock.err") \
  || { cat "$work/varnock.err" >&2; fail "the installed varnock failed"; }
[ "$(tail -n 1 "$work/varnock.err")" = success ] || fail "the installed varnock did not end with success"
grep -q "Varnock $version</p>" "$work/run/report.html" || fail "the report footer does not name Varnock $version"

case $mode in
  pkg-config)
    export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
    got=$(pkg-config --modversion keltools) || fail "pkg-config does not find keltools"
    [ "$got" = "$version" ] || fail "pkg-config reports version $got, expected $version"
    read -r -a cflags <<<"$(pkg-config --cflags keltools)"
    read -r -a libs <<<"$(pkg-config --libs keltools)"
    "$cc" -std=c11 -Wall -Wextra -Werror -o "$work/consumer_c" "$here/consumer.c" "${cflags[@]}" "${libs[@]}" \
      || fail "the C consumer does not build with pkg-config"
    "$cxx" -std=c++20 -Wall -Wextra -Werror -o "$work/consumer_cpp" "$here/consumer.cpp" "${cflags[@]}" "${libs[@]}" \
      || fail "the C++ consumer does not build with pkg-config"
    bin=$work
    ;;
  find-package)
    "$cmake" -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" -DEXPECTED_VERSION="$version" \
      -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
      -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >"$work/configure.log" 2>&1 \
      || { cat "$work/configure.log" >&2; fail "find_package(keltools) does not configure"; }
    "$cmake" --build "$work/build" >"$work/build.log" 2>&1 \
      || { cat "$work/build.log" >&2; fail "the consumers do not build with find_package"; }
    bin=$work/build
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac

"$bin/consumer_c" || fail "the C consumer failed"
"$bin/consumer_cpp" || fail "the C++ consumer failed"
echo "consumer built and run through $mode against $prefix"
