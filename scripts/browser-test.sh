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

source scripts/web-setup.sh chromium

exec node tests/web/browser_test.mjs "$orvelnode"
