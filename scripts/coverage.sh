#!/usr/bin/env bash
# Builds everything with line coverage, runs the whole suite and prints the line coverage
# of every source folder (tests, benchmarks and fuzz targets not counted), then the total.
# A report, not a gate: failing tests are named, and what ran is still counted.
#
#   bash scripts/coverage.sh      # build folder: $BUILD (default build-coverage)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-build-coverage}
# gcov finds the sources by the paths the compiler was given: a compiler cache that
# rewrites them relative to a base folder would leave every file unresolved.
unset CCACHE_BASEDIR
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DZELVO_COVERAGE=ON -DZELVO_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j2
find "$BUILD" -name '*.gcda' -delete

export QT_QPA_PLATFORM=offscreen
if ! ctest --test-dir "$BUILD" -j2 --timeout 600 >"$BUILD/coverage-tests.log" 2>&1; then
  echo "coverage: some tests failed (figures still count what ran):"
  sed -n '/tests failed out of/,$p' "$BUILD/coverage-tests.log"
fi
tail -n 3 "$BUILD/coverage-tests.log" | head -n 1

gcovr --root "$ROOT" --object-directory "$ROOT/$BUILD" \
  --exclude '(.*/)?tests/' --exclude '(.*/)?bench/' --exclude 'fuzz/' --exclude 'build[^/]*/' \
  --exclude-unreachable-branches --gcov-ignore-parse-errors --csv --output "$BUILD/coverage.csv" "$ROOT/$BUILD"

# filename,line_total,line_covered,... per file: add the lines up per folder.
printf '%-22s %8s %8s %7s\n' folder lines covered cover
awk -F, 'NR > 1 {
    dir = $1; sub(/\/[^\/]*$/, "", dir)
    total[dir] += $2; covered[dir] += $3
  }
  END {
    for (d in total)
      printf "%-22s %8d %8d %6.1f%%\n", d, total[d], covered[d], total[d] ? 100 * covered[d] / total[d] : 0
  }' "$BUILD/coverage.csv" | sort
awk -F, 'NR > 1 { all += $2; hit += $3 }
  END { printf "%-22s %8d %8d %6.1f%%\n", "TOTAL", all, hit, all ? 100 * hit / all : 0 }' "$BUILD/coverage.csv"
