#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs each of them; every figure is a
# "name: value unit" line.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-bench}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZELVO_TESTS=OFF -DZELVO_BENCH=ON
cmake --build "$BUILD" -j2
export QT_QPA_PLATFORM=offscreen
for b in "$BUILD"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || echo "$(basename "$b") failed with status $?"
done
# The xterm emulation on its UTF-8 stream, beside libvterm.
echo "== bench_terminal_throughput --emulation xterm"
"$BUILD"/bin/bench_terminal_throughput --emulation xterm || echo "xterm throughput failed with status $?"
