#!/usr/bin/env bash
# Builds everything (library, tests, examples, benchmarks) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset default
