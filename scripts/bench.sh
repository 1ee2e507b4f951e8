#!/bin/sh
# The benchmarks: postrine side by side with curl and msmtp on loopback
# (bench/run.py), then the micro-benchmarks of the parsers and encoders.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOSTRINE_TESTS=OFF -DPOSTRINE_BENCH=ON >/dev/null
ninja -C build-bench postrine postrine_micro
/usr/bin/python3 bench/run.py build-bench/postrine "${RUNS:-5}"
build-bench/bench/postrine_micro
