#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need, when any is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config ccache git
  qt6-base-dev qt6-base-dev-tools libqt6svg6 libgl-dev
  zlib1g-dev libjpeg-dev libturbojpeg0-dev
  libimobiledevice-dev libplist-dev libusbmuxd-dev usbmuxd
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav gstreamer1.0-alsa
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  fonts-dejavu-core xdg-utils dbus libssl-dev
  xvfb xauth x11-utils openbox
)
if [ "${1:-}" = "--list" ]; then printf '%s\n' "${PACKAGES[@]}"; exit 0; fi

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
