#!/usr/bin/env bash
# The Windows stage: cross-builds with mingw-w64, checks that varnock.exe needs
# only system DLLs, runs the test suite under wine, runs varnock.exe on a copy
# of examples/ and compares its outputs with the Linux build's (line ends, the
# order of the import files' rows and the pages' time stamp aside), and packs
# the release zip.
#   WIN_BUILD_DIR  the Windows build directory (build-win)
#   BUILD_DIR      the Linux build whose varnock is the reference (build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
win=$root/${WIN_BUILD_DIR:-build-win}
linux=$root/${BUILD_DIR:-build}
jobs=$(nproc)

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null 2>&1 || need+=(wine wine64)
command -v unzip >/dev/null 2>&1 || need+=(unzip)
command -v xvfb-run >/dev/null 2>&1 || need+=(xvfb xauth)
command -v locale-gen >/dev/null 2>&1 || need+=(locales)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update </dev/null
  apt-get install -y "${need[@]}" </dev/null
fi

# A Russian system for the console test: Windows-1251 as the ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf-\?8$'; then
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ru_RU.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi

# wine: quiet, with a prefix of its own, made once.
export WINEDEBUG=-all WINEPREFIX=$win/wineprefix WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$win"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1 || true
  wineserver -w
fi

toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo)

# GoogleTest for the target, from Debian's sources.
if [ ! -f "$win/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$win/googletest" "${toolchain[@]}" -DBUILD_GMOCK=OFF \
    -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$win/gtest" >/dev/null
  cmake --build "$win/googletest" -j"$jobs" >/dev/null
  cmake --install "$win/googletest" >/dev/null
fi

# The tests are asked for explicitly: a build folder configured by hand with
# KELTOOLS_TESTS=OFF keeps that in its cache otherwise.
cmake -S . -B "$win" "${toolchain[@]}" -DKELTOOLS_TESTS=ON -DGTest_DIR="$win/gtest/lib/cmake/GTest" >/dev/null
cmake --build "$win" -j"$jobs"

# varnock.exe runs from a bare folder: it may import system DLLs only.
dlls=$(x86_64-w64-mingw32-objdump -p "$win/varnock.exe" | awk '/DLL Name:/ {print $3}' | sort -u)
for dll in $dlls; do
  case "${dll,,}" in
    kernel32.dll|msvcrt.dll) ;;
    *) echo "varnock.exe imports $dll" >&2; exit 1 ;;
  esac
done

# A program that failed runs once more: wine's server can drop a program as it
# starts ("recvmsg: Connection reset by peer"); a real failure fails twice.
ctest --test-dir "$win" --output-on-failure --no-tests=error -j"$jobs" </dev/null ||
  ctest --test-dir "$win" --output-on-failure --no-tests=error --rerun-failed </dev/null

# The double-clicked program in a console window of its own, Cyrillic names
# on a code page 866 console and the key that closes the window: under a
# display and a Russian locale, where the test must not skip.
LANG=ru_RU.UTF-8 KT_REQUIRE_CONSOLE=1 xvfb-run -a \
  ctest --test-dir "$win" --output-on-failure -R '^windows_console_test$' </dev/null

# The Linux program to compare with.
if [ ! -x "$linux/varnock" ]; then
  echo "building the Linux varnock in $linux to compare with" >&2
  cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$linux" -j"$jobs" --target varnock >/dev/null
fi
# The same runs on Linux and on Windows: the sample files, and trades whose
# price, amount or fees make inf and nan.
runs=$win/examples-run
rm -rf "$runs"
for folder in examples tests/data/price-zero; do
  run=$runs/$(basename "$folder")
  mkdir -p "$run"
  cp -r "$folder" "$run/linux"
  cp -r "$folder" "$run/windows"
  (cd "$run/linux" && "$linux/varnock" </dev/null 2>"$run/linux.console")
  (cd "$run/windows" && wine "$win/varnock.exe" </dev/null 2>"$run/windows.console")
  bash scripts/compare_outputs.sh "$run/linux" "$run/windows" "$run/linux.console" "$run/windows.console"
done

rm -f "$win"/*.zip
(cd "$win" && cpack -G ZIP >/dev/null)
version=$(sed -n 's/^project(varnock VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
trader=$win/varnock-$version-win64.zip devkit=$win/keltools-$version-win64-devkit.zip
# The trader's zip holds the program, the guide and the license, nothing else.
contents=$(unzip -Z1 "$trader" | LC_ALL=C sort | tr '\n' ' ')
[ "$contents" = "LICENSE varnock.exe ПРОЧТИ.txt " ] || { echo "$trader holds: $contents" >&2; exit 1; }
unzip -Z1 "$devkit" | grep -qx 'include/keltools.h' || { echo "$devkit has no keltools.h" >&2; exit 1; }
ls "$trader" "$devkit"
