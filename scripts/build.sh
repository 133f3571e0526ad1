#!/usr/bin/env bash
# Configures and builds into build/ (or $MG_BUILD_DIR). Extra arguments go to cmake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${MG_BUILD_DIR:-$here/build}
jobs=${MG_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$here" -B "$build" -G Ninja "$@"
cmake --build "$build" -j "$jobs"
