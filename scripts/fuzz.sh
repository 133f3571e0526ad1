#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs one for a number of seconds.
#   scripts/fuzz.sh TARGET [SECONDS]     e.g. scripts/fuzz.sh fuzz_itunesdb 600
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: fuzz.sh TARGET [SECONDS]}
seconds=${2:-60}
"$here/scripts/install-deps.sh"
build=$here/build-fuzz
CC=clang CXX=clang++ MG_BUILD_DIR=$build "$here/scripts/build.sh" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMG_FUZZ=ON -DMG_BUILD_TESTS=OFF -DMG_BUILD_BENCH=OFF
corpus=$build/corpus/$target
mkdir -p "$corpus"
# Each target can write its own seeds (fixture-written databases) when asked.
MG_FUZZ_SEED_DIR=$corpus "$build/bin/$target" -runs=0 "$corpus" >/dev/null 2>&1 || true
exec "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$corpus"
