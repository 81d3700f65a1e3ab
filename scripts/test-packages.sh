#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds both packages and checks them as their users' tools would:
#   build/ebrilo_VERSION_ARCH.deb         lintian, failing on any error or
#                                         warning (informational tags are
#                                         shown; the README explains them)
#   build-windows/ebrilo-VERSION-win64.zip one folder of that name holding
#                                         exactly both programs, the README,
#                                         the licence and the manual as text
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native windows package

version_of() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

echo "== Debian package"
cmake --preset default >/dev/null
cmake --build --preset default
rm -f build/*.deb
(cd build && cpack -G DEB >/dev/null)
deb=build/ebrilo_$(version_of build)_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "$deb was not made" >&2; exit 1; }
lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb"
echo "lintian: no errors, no warnings"

echo "== Windows zip"
cmake --preset windows >/dev/null
cmake --build --preset windows
rm -f build-windows/*.zip
(cd build-windows && cpack -G ZIP >/dev/null)
folder=ebrilo-$(version_of build-windows)-win64
zip=build-windows/$folder.zip
[ -f "$zip" ] || { echo "$zip was not made" >&2; exit 1; }
expected=$(for name in LICENSE.txt MANUAL.txt README.md ebrilo-sim.exe ebrilo.exe; do echo "$folder/$name"; done)
actual=$(unzip -Z1 "$zip" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "$zip holds:" >&2
  echo "$actual" >&2
  echo "instead of:" >&2
  echo "$expected" >&2
  exit 1
fi
# The manual must be rendered text, not the page's source.
unzip -p "$zip" "$folder/MANUAL.txt" | grep -q '^SYNOPSIS$' ||
  { echo "$folder/MANUAL.txt is not the rendered manual" >&2; exit 1; }
echo "$actual"
