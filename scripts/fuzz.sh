#!/usr/bin/env bash
# Builds the JSON fuzz target with clang++ and fuzzes it for a while.
#
#   scripts/fuzz.sh [SECONDS]     (default 60)
#
# The seed corpus fuzz/corpus/json is copied to a scratch directory first, so
# the inputs the fuzzer adds stay out of the source tree. Crash, leak and
# timeout inputs are kept in build/fuzz/artifacts. Exits non-zero when the
# fuzzer finds a fault. CXX_FUZZ overrides the compiler (default clang++).
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VORN_FUZZ_BUILD_DIR:-$root/build/fuzz}"
artifacts="$build/artifacts"

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S "$root/fuzz" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target json_fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$artifacts"
cp "$root"/fuzz/corpus/json/* "$scratch/corpus/"

# Reports must be captured, not thrown.
unset VORN_USE_STD_EXCEPTIONS VORN_LOGS_ENABLED
"$build/json_fuzz" "$scratch/corpus" \
  -dict="$root/fuzz/json.dict" \
  -max_total_time="$seconds" \
  -timeout=10 \
  -max_len=8192 \
  -print_final_stats=1 \
  -artifact_prefix="$artifacts/"
