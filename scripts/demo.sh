#!/bin/sh
# The main job: builds postrine and runs it once.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTRINE_TESTS=OFF >/dev/null
ninja -C build postrine
./build/postrine "$@"
echo "exit status: $?"
