#!/usr/bin/env bash
# Builds every fuzz target (fuzz/<name>_fuzz.cpp) with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, against the library compiled with the same flags.
# The binaries go to FUZZ_BUILD_DIR (default: build-fuzz/ at the top of the tree).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
cxx=${FUZZ_CXX:-clang++}
mkdir -p "$out/obj"

flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -D_FILE_OFFSET_BITS=64 -D_GNU_SOURCE -I"$root/keltools/include")
header="$root/keltools/include/keltools.h"

# The library: one object per module, rebuilt when its source or the header changed.
objects=()
for src in "$root"/keltools/src/*.cpp; do
  obj="$out/obj/$(basename "${src%.cpp}").o"
  if [ ! "$obj" -nt "$src" ] || [ ! "$obj" -nt "$header" ]; then
    "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
  objects+=("$obj")
done
rm -f "$out/libkeltools-fuzz.a"
ar rcs "$out/libkeltools-fuzz.a" "${objects[@]}"

# The targets; the import and pipeline targets also pull in the analyzer's
# source, which takes its version from the build, as CMake gives it.
version=$(sed -n 's/^project(varnock VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
flags+=("-DVARNOCK_VERSION=\"${version:-0}\"")
for target in "$root"/fuzz/*_fuzz.cpp; do
  name=$(basename "${target%.cpp}")
  bin="$out/$name"
  if [ ! "$bin" -nt "$target" ] || [ ! "$bin" -nt "$out/libkeltools-fuzz.a" ] ||
     [ ! "$bin" -nt "$root/varnock/varnock.cpp" ] || [ ! "$bin" -nt "$root/CMakeLists.txt" ]; then
    "$cxx" "${flags[@]}" -fsanitize=fuzzer "$target" "$out/libkeltools-fuzz.a" -o "$bin"
  fi
done
echo "fuzz targets built in $out"
