# Sourced by the scripts that run tests/web against orvelnode: installs what
# is missing (Debian packages given as arguments, Node.js and npm, the npm
# packages of tests/web), builds orvelnode when it is not built, and sets
# $orvelnode ($ORVELNODE overrides it). Runs from the project's root.
#
#   source scripts/web-setup.sh [extra Debian packages, e.g. chromium]

missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
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

orvelnode="${ORVELNODE:-$PWD/build/default/apps/orvelnode/orvelnode}"
if [ ! -x "$orvelnode" ]; then
  [ -f build/default/CMakeCache.txt ] || cmake --preset default
  cmake --build --preset default --target orvelnode orvel_sample vorn_basic_tweakers
fi

# Installed again when the lockfile changed since (a new package for a test).
if [ ! -d tests/web/node_modules ] || [ tests/web/package-lock.json -nt tests/web/node_modules/.package-lock.json ]; then
  (cd tests/web && npm ci --no-audit --no-fund)
fi
