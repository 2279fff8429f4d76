#!/usr/bin/env bash
# Builds every fuzz target with clang and runs each for SECONDS (default 300) from its
# seed inputs (fuzz/<folder>/corpus/<target>/) and the inputs kept from earlier findings
# (fuzz/<folder>/regressions/<target>/). Every executable fuzz_* that the fuzz build
# makes is run; there is no list to keep. Any crash, leak, time-out or sanitizer report
# fails the run and prints the input that caused it.
#
#   bash scripts/fuzz.sh [SECONDS]
#
# Environment: BUILD (build folder, default build-fuzz), FUZZ_JOBS (targets run at the
# same time, default 2), FUZZ_ONLY (a pattern: run only the targets whose name matches).
# New inputs that a run finds stay in $BUILD/fuzz-runs/<target>/corpus; a failing input
# is kept by copying it into the target's regressions folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_PER_TARGET=${1:-300}
BUILD=${BUILD:-build-fuzz}
JOBS=${FUZZ_JOBS:-2}
case $SECONDS_PER_TARGET in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

CC=${FUZZ_CC:-clang} CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELVO_FUZZ=ON -DZELVO_GUI=OFF -DZELVO_TESTS=OFF -DZELVO_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j2

RUNS=$ROOT/$BUILD/fuzz-runs
rm -rf "$RUNS"
mkdir -p "$RUNS"

mapfile -t TARGETS < <(find "$BUILD/bin" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x -printf '%f\n' | sort)
if [ ${#TARGETS[@]} -eq 0 ]; then
  echo "fuzz: the build made no fuzz_* executable" >&2
  exit 1
fi

status=0

# Input folders without a target are a renamed or lost target: say so and fail.
while IFS= read -r dir; do
  name=$(basename "$dir")
  if [ ! -x "$BUILD/bin/$name" ]; then
    echo "fuzz: $dir has no fuzz target $name in the fuzz build" >&2
    status=1
  fi
done < <(find fuzz -mindepth 3 -maxdepth 3 -type d \( -path 'fuzz/*/corpus/*' -o -path 'fuzz/*/regressions/*' \) | sort)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
  local name=$1 work=$RUNS/$1
  mkdir -p "$work/corpus" "$work/artifacts"
  local inputs=() dict=() dir
  for dir in fuzz/*/corpus/"$name" fuzz/*/regressions/"$name"; do
    [ -d "$dir" ] && inputs+=("$ROOT/$dir")
  done
  for dir in fuzz/*/"$name".dict; do
    [ -f "$dir" ] && dict=("-dict=$ROOT/$dir")
  done
  local rc=0
  {
    echo "inputs: ${inputs[*]:-none}"
    # New inputs go to the first folder (the run's own); the others are only read.
    "$ROOT/$BUILD/bin/$name" -max_total_time="$SECONDS_PER_TARGET" -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${dict[@]}" \
      "$work/corpus" "${inputs[@]}"
  } >"$work/log" 2>&1 || rc=$?
  echo $rc >"$work/status"
}

report() {
  local name=$1 work=$RUNS/$1 rc
  rc=$(cat "$work/status" 2>/dev/null || echo 99)
  local seeds=""
  if ! compgen -G "fuzz/*/corpus/$name" >/dev/null; then
    seeds=" (no seed inputs: add some in fuzz/<folder>/corpus/$name/)"
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  if [ "$rc" = 0 ] && ! compgen -G "$work/artifacts/*" >/dev/null; then
    echo "fuzz: $name passed, ${runs:-?} inputs in ${SECONDS_PER_TARGET}s$seeds"
    return 0
  fi
  echo "fuzz: $name FAILED (exit status $rc)$seeds"
  echo "---- $name: report (progress lines left out)"
  grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED|RELOAD)' "$work/log" | tail -n 150
  local artifact
  for artifact in "$work"/artifacts/*; do
    [ -f "$artifact" ] || continue
    echo "---- $name: failing input $(basename "$artifact"), $(stat -c %s "$artifact") bytes"
    echo "hex (first 4096 bytes):"
    head -c 4096 "$artifact" | od -A x -t x1z -v
    if [ "$(stat -c %s "$artifact")" -le 65536 ]; then
      echo "base64 (whole input; keep it with: base64 -d > fuzz/<folder>/regressions/$name/crash-NAME):"
      base64 -w 76 "$artifact"
    fi
  done
  echo "---- reproduce: $BUILD/bin/$name FILE"
  return 1
}

echo "fuzz: ${#TARGETS[@]} targets, ${SECONDS_PER_TARGET}s each, $JOBS at a time"
running=0
for name in "${TARGETS[@]}"; do
  if [ -n "${FUZZ_ONLY:-}" ] && ! [[ $name =~ $FUZZ_ONLY ]]; then
    echo "fuzz: $name not run (FUZZ_ONLY=$FUZZ_ONLY)"
    continue
  fi
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

for name in "${TARGETS[@]}"; do
  [ -d "$RUNS/$name" ] || continue
  report "$name" || status=1
done
exit $status
