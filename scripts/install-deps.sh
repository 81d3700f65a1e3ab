#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that the given tools need, where they are
# missing. Usage: install-deps.sh [build] [native] [windows] [decoder] [package]
# build: CMake, Ninja, a C++ compiler and libusb's headers, enough for the programs;
# native: those and the tools of the native tests.
set -euo pipefail

want=()
for set in "$@"; do
  case "$set" in
    build | native)
      command -v cmake >/dev/null || want+=(cmake)
      command -v g++ >/dev/null || want+=(g++)
      command -v ninja >/dev/null || want+=(ninja-build)
      # ebrilo reaches the CH341A programmer through libusb, found by pkg-config.
      command -v pkg-config >/dev/null || want+=(pkg-config)
      [ -f /usr/include/libusb-1.0/libusb.h ] || want+=(libusb-1.0-0-dev)
      [ "$set" = build ] && continue
      [ -f /usr/include/gtest/gtest.h ] || want+=(libgtest-dev)
      # A real terminal for the closing prompt's test, and the memory checker.
      command -v tmux >/dev/null || want+=(tmux)
      command -v valgrind >/dev/null || want+=(valgrind)
      # The interface circuits' simulation, and their schematics' drawing
      # with the font the committed pictures were drawn in.
      command -v ngspice >/dev/null || want+=(ngspice)
      command -v lepton-cli >/dev/null || want+=(lepton-eda)
      [ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || want+=(fonts-dejavu-core)
      # An emulated USB in front of libusb, for the programmer's test.
      command -v umockdev-run >/dev/null || want+=(umockdev)
      [ -f /usr/include/umockdev-1.0/umockdev.h ] || want+=(libumockdev-dev)
      ;;
    windows)
      command -v x86_64-w64-mingw32-g++-win32 >/dev/null || want+=(g++-mingw-w64-x86-64-win32)
      # Debian keeps the 64-bit Wine loader off the PATH.
      command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ] || want+=(wine64)
      # The Windows zip's manual is rendered as text at build time.
      command -v groff >/dev/null || want+=(groff-base)
      ;;
    package)
      # The Debian package's dependencies are computed by dpkg-shlibdeps from
      # what file finds to be programs; lintian checks the package, unzip the
      # Windows zip.
      command -v dpkg-shlibdeps >/dev/null || want+=(dpkg-dev)
      command -v file >/dev/null || want+=(file)
      command -v lintian >/dev/null || want+=(lintian)
      command -v unzip >/dev/null || want+=(unzip)
      ;;
    decoder)
      command -v sigrok-cli >/dev/null || want+=(sigrok-cli)
      ;;
  esac
done

[ ${#want[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "Please install these packages first: ${want[*]}" >&2
  exit 1
fi
echo "Installing ${want[*]} ..."
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${want[@]}" >/dev/null
