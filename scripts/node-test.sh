#!/usr/bin/env bash
# Checks orvelnode's protocol from Node against the default build's
# orvelnode (tests/web/protocol_test.mjs): rpc.discover against the OpenRPC
# meta-schema, the tree against its schema, JSON Forms, a stock JSON-RPC
# client and orvel-client.js. Installs Node.js and the test's npm packages
# when missing, and builds orvelnode when it is not built yet.
#
#   scripts/node-test.sh
#
# ORVELNODE overrides the host under test. Exits non-zero when a check fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

missing=()
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

orvelnode="${ORVELNODE:-$root/build/default/apps/orvelnode/orvelnode}"
if [ ! -x "$orvelnode" ]; then
  [ -f build/default/CMakeCache.txt ] || cmake --preset default
  cmake --build --preset default --target orvelnode orvel_sample vorn_basic_tweakers
fi

# Installed again when the lockfile changed since (a new package for this test).
if [ ! -d tests/web/node_modules ] || [ tests/web/package-lock.json -nt tests/web/node_modules/.package-lock.json ]; then
  (cd tests/web && npm ci --no-audit --no-fund)
fi

exec node tests/web/protocol_test.mjs "$orvelnode"
