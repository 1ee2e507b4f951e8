#!/bin/sh
# The whole test suite, the quickest verdict first:
#   1. the POSIX build: unit tests, then end-to-end tests against a real SMTP
#      server on loopback;
#   2. one clang build with AddressSanitizer and UndefinedBehaviorSanitizer
#      for the unit tests and the fuzz targets, each fuzzed for a while;
#   3. the Windows builds, x86_64 and i686 (mingw-w64), each with its unit and
#      end-to-end tests under wine (the i686 tests where wine32 can run).
# Test runs that mostly wait (for programs to start, for time-outs) go on
# while the next build keeps the processors busy; the output of each is
# shown whole when it has ended. The script ends with the summary line of
# the last ctest run.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)
TEST_JOBS=$((JOBS * 2))

scripts/install-deps.sh test

# Compiler output is kept by ccache between runs, for any clone: paths
# under this directory count as relative, so a second clone or a second
# run compiles only what changed.
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=true
step() { printf '\n==== %s\n' "$*"; }
configure() {
  dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DPOSTRINE_TESTS=ON \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
}

# background NAME COMMAND...: runs the command with its output kept in
# build-logs/NAME. finished NAME: waits for it; collect NAME: also shows
# that output, and the script stops there when the command failed. Jobs
# still running when the script stops early are ended.
mkdir -p build-logs
running=""
background() {
  name=$1
  shift
  "$@" >"build-logs/$name" 2>&1 &
  eval "pid_$name=$!"
  running="$running $!"
}
finished() {
  eval "pid=\$pid_$1"
  running=$(echo " $running " | sed "s/ $pid / /")
  wait "$pid"
}
collect() {
  if finished "$1"; then
    cat "build-logs/$1"
  else
    cat "build-logs/$1"
    exit 1
  fi
}
server=""
finish() {
  for pid in $running; do kill "$pid" 2>/dev/null || true; done
  [ -z "$server" ] || wineserver -k 2>/dev/null || true
}
trap finish EXIT
trap 'exit 130' INT TERM

step "POSIX build: unit tests, then end-to-end tests"
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C build
ctest --test-dir build -j "$TEST_JOBS" --output-on-failure -L unit
background posix_e2e ctest --test-dir build -j "$TEST_JOBS" --output-on-failure -L e2e

step "Unit tests and fuzz targets under AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
CC=clang CXX=clang++ configure build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPOSTRINE_SANITIZE=ON -DPOSTRINE_FUZZ=ON
ninja -C build-sanitize unit_tests fuzz_targets

step "POSIX end-to-end tests"
collect posix_e2e

step "Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize -j "$TEST_JOBS" --output-on-failure -L unit

# Each target runs on its seeds for FUZZ_SECONDS, two at a time (each keeps
# a processor busy). What a run finds stays in build-sanitize/fuzz-found/,
# never in the working tree.
step "Fuzz targets (libFuzzer): a short run of each on its seeds"
fuzz() {
  target=$1
  found="build-sanitize/fuzz-found/$target"
  rm -rf "$found"
  mkdir -p "$found/corpus"
  if build-sanitize/fuzz/$target -max_total_time="${FUZZ_SECONDS:-10}" -max_len=4096 \
      -artifact_prefix="$found/" "$found/corpus" "fuzz/corpus/$target" >"$found/log" 2>&1; then
    echo "$target: $(grep DONE "$found/log")"
  else
    tail -40 "$found/log"
    echo "$target found a fault; the input is in $ROOT/$found/"
    return 1
  fi
}
for pair in "fuzz_text2array fuzz_profile" "fuzz_reply fuzz_compose"; do
  set -- $pair
  background "$1" fuzz "$1"
  fuzz "$2"
  collect "$1"
done
background fuzz_token_answer fuzz fuzz_token_answer
fuzz fuzz_html_text
collect fuzz_token_answer
fuzz fuzz_graph_answer

export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$HOME/.wine-postrine"
  own_prefix=yes
fi
wine32=""
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  wine32=yes
fi
# A prefix that cannot run both builds' tests is made anew (or, when it is
# the caller's own, refused): a 32-bit one (WINEARCH=win32) runs no x86_64
# program, and a 64-bit one made before wine32 was installed has no 32-bit
# system, so that with wine32's loader in front no program starts in it.
# The registry's "#arch=" line tells the two apart.
reason=""
case $(sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg" 2>/dev/null | head -n 1) in
  win32) reason="it is a 32-bit prefix and the x86_64 tests need a 64-bit one" ;;
  win64)
    if [ -n "$wine32" ] && [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      reason="it was made before wine32 was installed"
    fi ;;
esac
if [ -n "$reason" ]; then
  if [ -z "${own_prefix:-}" ]; then
    echo "$WINEPREFIX cannot be used: $reason; remove it or choose another WINEPREFIX" >&2
    exit 1
  fi
  echo "making $WINEPREFIX anew: $reason"
  rm -rf "$WINEPREFIX"
fi
# One wine server for the whole run, so that each program starts in a
# fraction of a second; stopped at the end unless it was running before.
# A new prefix takes some seconds to make: that happens during the build.
if wineserver -p 2>/dev/null; then
  server=started
fi
background wineboot wineboot -i

step "Windows x86_64 build (mingw-w64)"
configure build-win64 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake"
ninja -C build-win64
finished wineboot || true
background win64_tests ctest --test-dir build-win64 -j "$TEST_JOBS" --output-on-failure

step "Windows i686 build (mingw-w64), tests under 32-bit wine"
configure build-win32 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake"
if [ -n "$wine32" ]; then
  ninja -C build-win32
  ctest --test-dir build-win32 -j "$TEST_JOBS" --output-on-failure
else
  # Tests that cannot run here are not built: the program itself is.
  ninja -C build-win32 postrine postrine_fastpause postrine_fault postrine_fault_locked
  echo "i686 tests not run: wine32:i386 is not installed (this machine cannot run 32-bit programs)"
fi

step "Windows x86_64 tests under wine"
collect win64_tests
