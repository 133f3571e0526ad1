#!/usr/bin/env bash
# Installs what is missing, builds and starts Marrowgate.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DMG_BUILD_TESTS=ON
build=${MG_BUILD_DIR:-$here/build}
if [ ! -x "$build/bin/marrowgate" ]; then
  echo "The window is not built yet: the build contains the device readers and the test tool"
  echo "$build/bin/ipod-dump only."
  exit 0
fi
exec "$build/bin/marrowgate" "$@"
