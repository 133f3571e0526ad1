#!/usr/bin/env bash
# Builds in release mode and runs every benchmark (or the ones named).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
build=$here/build-bench
MG_BUILD_DIR=$build "$here/scripts/build.sh" -DCMAKE_BUILD_TYPE=Release -DMG_BUILD_BENCH=ON -DMG_BUILD_TESTS=OFF
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$here"/bench/*.cpp; do names+=("$(basename "$f" .cpp)"); done
fi
for n in "${names[@]}"; do
  echo "== $n"
  QT_QPA_PLATFORM=offscreen "$build/bin/$n"
done
