#!/usr/bin/env bash
# Line and branch coverage of the library's own sources (vorn/) and of the
# orvelnode host (apps/) by the test suites, measured with gcov through the
# "coverage" preset.
#
#   scripts/coverage.sh [BUILD_DIR]   build, run every suite, print the summaries
#
# BUILD_DIR defaults to the preset's build/coverage; another one is
# configured like it. Per-file figures go to BUILD_DIR/coverage.txt. The host
# counts what its in-process suites run and what the orvelnode processes of
# the other suites run (a process writes its counts when it exits cleanly).
# Branches on exception paths the compiler adds (throw/unwind) and
# unreachable ones are left out: they are not choices in the code. Threaded
# suites update the counters without atomics, so gcov may print a few
# negative branch counts: those lines are skipped rather than failing the
# report.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/coverage}
bash scripts/install-deps.sh
if ! command -v gcovr >/dev/null 2>&1; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends gcovr
fi

cmake --preset coverage -B "$build" >/dev/null
cmake --build "$build" -j2
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j2 --output-on-failure

gcovr -r . --object-directory "$build" --filter 'vorn/' --filter 'apps/' --gcov-ignore-parse-errors \
  --exclude-unreachable-branches --exclude-throw-branches \
  --txt "$build/coverage.txt" --print-summary
# The same lines by folder, from the per-file table.
awk '$1 ~ /^(vorn|apps)\// && $2 ~ /^[0-9]+$/ { split($1, p, "/"); n[p[1]] += $2; e[p[1]] += $3 }
     END { for (f in n) printf "%s/: lines %.1f%% (%d of %d)\n", f, 100 * e[f] / n[f], e[f], n[f] }' "$build/coverage.txt"
