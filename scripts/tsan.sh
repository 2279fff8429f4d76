#!/usr/bin/env bash
# Builds the tests labelled "threads" (dispatcher, triggers, port, protocol engines on
# pseudo-terminals, the user-interface bridge) with ThreadSanitizer and runs them. A data
# race, a lock-order inversion or any other report fails the run. A test joins by adding
# LABELS threads to its zelvo_add_gtest() call.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-tsan}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVO_TSAN=ON -DZELVO_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j2 --target tests_threads
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$PWD/scripts/tsan.supp:halt_on_error=1:second_deadlock_stack=1:print_suppressions=0}
RUN=()
# ThreadSanitizer of this compiler generation cannot map its shadow memory when the
# kernel randomises more than 28 bits of the address space; without randomisation it can.
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)" -gt 28 ]; then
  echo "tsan: vm.mmap_rnd_bits is above 28: running the tests without address randomisation"
  RUN=(setarch "$(uname -m)" -R)
fi
"${RUN[@]}" ctest --test-dir "$BUILD" -L threads --output-on-failure -j2 --timeout 600 --no-tests=error
