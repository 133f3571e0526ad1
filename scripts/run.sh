#!/usr/bin/env bash
# Installs what is missing, builds and starts Marrowgate.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DMG_BUILD_TESTS=ON
build=${MG_BUILD_DIR:-$here/build}
if [ ! -x "$build/bin/marrowgate" ]; then
  echo "The program was not built; see the messages above." >&2
  exit 1
fi
exec "$build/bin/marrowgate" "$@"
