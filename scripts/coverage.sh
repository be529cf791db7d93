#!/usr/bin/env bash
# Line and branch coverage of the library's own sources (vorn/) by the test
# suites, measured with gcov through the "coverage" preset (build/coverage).
#
#   scripts/coverage.sh            build, run every suite, print the summary
#
# Per-file figures go to build/coverage/coverage.txt. Branches on exception
# paths the compiler adds (throw/unwind) and unreachable ones are left out:
# they are not choices in the library's code. Threaded suites update the
# counters without atomics, so gcov may print a few negative branch counts:
# those lines are skipped rather than failing the report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if ! command -v gcovr >/dev/null 2>&1; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends gcovr
fi

cmake --preset coverage >/dev/null
cmake --build --preset coverage -j2
find build/coverage -name '*.gcda' -delete
ctest --preset coverage

gcovr -r . --object-directory build/coverage --filter 'vorn/' --gcov-ignore-parse-errors \
  --exclude-unreachable-branches --exclude-throw-branches \
  --txt build/coverage/coverage.txt --print-summary
