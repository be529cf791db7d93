#!/usr/bin/env bash
# The main job: builds the library, the orvelnode host and its plug-ins, runs
# the small examples, then a scripted client session against orvelnode with
# the sample manifest (requests, responses and notifications printed).
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
echo "== orvelnode with examples/sample/manifest.json and examples/sample/session.jsonl"
build/default/apps/orvelnode/orvelclient examples/sample/manifest.json examples/sample/session.jsonl
echo
echo "To use the sample context in a browser:"
echo "  build/default/apps/orvelnode/orvelnode --listen 8080 examples/sample/manifest.json"
echo "then open http://127.0.0.1:8080/"
