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

source scripts/web-setup.sh

exec node tests/web/protocol_test.mjs "$orvelnode"
