#!/usr/bin/env bash
# The main job: builds the library and runs the examples.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
for example in build/default/examples/vorn_example_*; do
  [ -x "$example" ] || continue
  echo "== $(basename "$example")"
  "$example"
done
