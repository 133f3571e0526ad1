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

# A fresh machine often updates itself first and holds apt's locks meanwhile: wait for them
# (MG_APT_LOCK_WAIT seconds) rather than fail at once.
wait_s=${MG_APT_LOCK_WAIT:-900}
apt_locked() { # an apt or dpkg run holds one of apt's locks (/proc/locks names device and inode)
  local f id
  for f in /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock; do
    id=$(stat -c '%Hd %Ld %i' "$f" 2>/dev/null) || continue
    # shellcheck disable=SC2086 # the three numbers are meant to split
    id=$(printf '%02x:%02x:%s' $id)
    grep -Eq "^[^ ]+ +(POSIX|OFDLCK|FLOCK) .* $id " /proc/locks 2>/dev/null && return 0
  done
  return 1
}
wait_for_apt() {
  apt_locked || return 0
  echo "Waiting up to $wait_s s for the package manager lock (another apt/dpkg run holds it)..."
  local deadline=$((SECONDS + wait_s))
  while apt_locked; do
    if [ $SECONDS -ge $deadline ]; then
      echo "The package manager lock is still held after $wait_s s; try again when that run has ended." >&2
      exit 1
    fi
    sleep 2
  done
}

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# apt-get's own timeout covers the dpkg lock only; the lists lock of update is waited for here.
wait_for_apt
$SUDO apt-get -o DPkg::Lock::Timeout="$wait_s" update -q
wait_for_apt
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$wait_s" install -y -q --no-install-recommends "${missing[@]}"
