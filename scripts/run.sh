#!/usr/bin/env bash
# Builds the program (optimised) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVO_TESTS=OFF -DZELVO_BENCH=OFF
cmake --build "$BUILD" -j2
exec "$BUILD/bin/zelvo32" "$@"
