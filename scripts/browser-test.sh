#!/usr/bin/env bash
# Runs the orvelnode page in headless Chromium against the default build's
# orvelnode (tests/web/browser_test.mjs). Installs Chromium, Node.js and the
# test's npm packages when missing, and builds the default preset when
# orvelnode is not built yet.
#
#   scripts/browser-test.sh
#   SCREENSHOT=docs/orvelnode-page.png scripts/browser-test.sh   # also saves a picture of the page
#
# ORVELNODE overrides the host under test. Exits non-zero when a check fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
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
  cmake --build --preset default
fi

if [ ! -d tests/web/node_modules ]; then
  (cd tests/web && npm ci --no-audit --no-fund)
fi

exec node tests/web/browser_test.mjs "$orvelnode"
