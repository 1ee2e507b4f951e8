#!/bin/sh
# The whole test suite: the Windows build and its tests under wine, the i686
# compile, the POSIX unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the POSIX build with its unit and
# end-to-end tests, whose ctest summary is the last thing printed.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-postrine}"
# Keep one wineserver alive for the whole run: each test then starts fast.
wineboot -i >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 || true

step() { printf '\n==== %s\n' "$*"; }

step "Windows x86_64 build (mingw-w64), tests under wine"
cmake -S . -B build-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
ninja -C build-win64
ctest --test-dir build-win64 -j "$JOBS" --output-on-failure

step "Windows i686 build (compile only)"
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOSTRINE_TESTS=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake" >/dev/null
ninja -C build-win32

step "POSIX unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPOSTRINE_SANITIZE=ON >/dev/null
ninja -C build-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$JOBS" --output-on-failure -LE e2e

step "Fuzz targets (clang, libFuzzer): a short run of each on its seeds"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPOSTRINE_FUZZ=ON -DPOSTRINE_TESTS=OFF >/dev/null
ninja -C build-fuzz fuzz_text2array fuzz_profile fuzz_reply fuzz_compose
for target in fuzz_text2array fuzz_profile fuzz_reply fuzz_compose; do
  found=$(mktemp -d)
  if build-fuzz/fuzz/$target -max_total_time="${FUZZ_SECONDS:-10}" -max_len=4096 "$found" \
      "fuzz/corpus/$target" >"$found.log" 2>&1; then
    echo "$target: $(grep DONE "$found.log")"
  else
    tail -40 "$found.log"
    echo "$target found a fault; the input is in $(pwd)"
    exit 1
  fi
  rm -rf "$found" "$found.log"
done

step "POSIX build: unit and end-to-end tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build
ctest --test-dir build -j "$JOBS" --output-on-failure
