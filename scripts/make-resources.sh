#!/usr/bin/env bash
# Draws the window's pictures into resources/images/ (run once; the output is committed).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++20 -O1 -fPIC "$here/scripts/make-resources/main.cpp" -o "$tmp/make-resources" \
    $(pkg-config --cflags --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$tmp/make-resources" "$here/resources"
echo "pictures written to $here/resources/images"
