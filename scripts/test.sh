#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests and runs every test through ctest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DMG_BUILD_TESTS=ON -DMG_BUILD_BENCH=ON "$@"
build=${MG_BUILD_DIR:-$here/build}
jobs=$(nproc 2>/dev/null || echo 2)
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 300
