#!/usr/bin/env bash
# Shows Marrowgate working without a device: writes a sample iPod (a few hundred tracks with
# playlists, album art and photos) into a temporary folder, names it as drive E: in a
# MARROWGATE_DRIVES file and starts the program on it.
#   scripts/demo.sh                 the iPod is there from the start
#   scripts/demo.sh --arrive-later  the window starts waiting; the iPod arrives 5 seconds later
# The sample is removed when the program ends (MG_DEMO_KEEP=1 keeps it).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
later=0
case "${1:-}" in
  --arrive-later) later=1 ;;
  "") ;;
  *) echo "usage: scripts/demo.sh [--arrive-later]" >&2; exit 2 ;;
esac

"$here/scripts/install-deps.sh"
# The sample writer is built with the tests.
"$here/scripts/build.sh" -DMG_BUILD_TESTS=ON
build=${MG_BUILD_DIR:-$here/build}
if [ ! -x "$build/bin/marrowgate" ] || [ ! -x "$build/bin/make-demo-device" ]; then
  echo "The program or the sample writer is not built; see the messages above." >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/marrowgate-demo.XXXXXX")
arrival=""
cleanup() {
  if [ -n "$arrival" ]; then kill "$arrival" 2>/dev/null || true; fi
  if [ "${MG_DEMO_KEEP:-0}" != 1 ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
device="$work/iPod"
"$build/bin/make-demo-device" "$device"

drives="$work/drives"
if [ "$later" = 1 ]; then
  echo "C: / fixed" > "$drives"
  (
    sleep 5
    # replaced in one step, as a mount would appear
    printf 'C: / fixed\nE: %s removable\n' "$device" > "$drives.new"
    mv "$drives.new" "$drives"
  ) &
  arrival=$!
else
  printf 'C: / fixed\nE: %s removable\n' "$device" > "$drives"
fi

echo "Sample iPod: $device (drive E:)"
MARROWGATE_DRIVES="$drives" "$build/bin/marrowgate" "$@" || status=$?
exit "${status:-0}"
