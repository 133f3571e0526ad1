#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer (or ThreadSanitizer with
# --thread) in a build folder of their own and runs them all.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
if [ "${1:-}" = "--thread" ]; then
  build=$here/build-tsan; flags=(-DMG_TSAN=ON)
  # Qt and GLib are not built with the thread sanitizer; see the file for what it leaves out.
  export TSAN_OPTIONS="suppressions=$here/scripts/tsan-suppressions.txt ${TSAN_OPTIONS:-}"
else
  build=$here/build-asan; flags=(-DMG_SANITIZE=ON)
fi
MG_BUILD_DIR=$build "$here/scripts/build.sh" -DMG_BUILD_TESTS=ON -DMG_BUILD_BENCH=OFF "${flags[@]}"
cd "$build"
# Qt and fontconfig keep caches for the life of the process; leaks there are not ours.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
  ctest --output-on-failure -j "$(nproc)" --timeout 600
