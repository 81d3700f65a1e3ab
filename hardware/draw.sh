#!/bin/sh
# SPDX-License-Identifier: MIT
# Draws the interface circuits' schematics, hardware/NAME.sch, as NAME.svg
# with lepton-eda's exporter (Debian package lepton-eda), into the folder
# given (default: hardware/ itself, after a change to a schematic). The test
# suite draws them into a folder of its own and compares the pictures with
# the ones committed here.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
# A home of its own, so that no user's settings change the drawing, and no
# compiled-code cache is written into the user's.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
for name in rs232 ttl; do
  if ! HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
    XDG_DATA_HOME=$home/data GUILE_AUTO_COMPILE=0 \
    lepton-cli export --no-color --font="DejaVu Sans" -o "$out/$name.svg" \
    "$here/$name.sch" >"$home/log" 2>&1; then
    cat "$home/log" >&2
    exit 1
  fi
done
