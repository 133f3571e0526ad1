#!/usr/bin/env bash
# Runs the window tests once more as users see the window: on an X server (Xvfb) under a small
# window manager, with Qt's xcb platform, where fonts and the moment layouts settle differ from
# the offscreen platform that ctest uses. Needs a build with the tests (scripts/test.sh);
# MG_BUILD_DIR names another build folder. The binary runs directly: ctest would set the
# offscreen platform for every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${MG_BUILD_DIR:-$here/build}
[ -x "$build/bin/tests_app" ] || { echo "test-x11: $build/bin/tests_app is not built" >&2; exit 1; }
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
  set -euo pipefail
  openbox >/dev/null 2>&1 &
  wm=$!
  trap "kill $wm 2>/dev/null || true" EXIT
  # The manager owns the screen once it names itself on the root window.
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break; sleep 0.1; done
  cd "$1"
  QT_QPA_PLATFORM=xcb ./bin/tests_app --gtest_brief=1
' test-x11 "$build"
