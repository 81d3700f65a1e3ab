#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds both packages and checks them as their users' tools would:
#   build/ebrilo_VERSION_ARCH.deb         lintian, failing on any error or
#                                         warning (informational tags are
#                                         shown; the README explains them),
#                                         and the README and circuits in its
#                                         documentation folder
#   build-windows/ebrilo-VERSION-win64.zip one folder of that name holding
#                                         exactly both programs, the README,
#                                         the licence, the manual as text and
#                                         the circuits in hardware/
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
# lintian leaves folders of its own in the temporary folder it is given.
lintian_tmp=$(mktemp -d build/lintian-tmp.XXXXXX)
trap 'rm -rf "$lintian_tmp"' EXIT
TMPDIR=$PWD/$lintian_tmp lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb"
rm -rf "$lintian_tmp"
echo "lintian: no errors, no warnings"
# Both interface designs, each as its subcircuit, schematic and picture,
# beside the README that shows them.
circuits() {
  for design in rs232 ttl; do
    for kind in cir sch svg; do echo "$1/hardware/$design.$kind"; done
  done
}
doc=./usr/share/doc/ebrilo
expected=$( (echo "$doc/README.md"; circuits "$doc") | LC_ALL=C sort)
actual=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -E "^$doc/(README|hardware/.)" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  printf '%s holds:\n%s\ninstead of:\n%s\n' "$deb" "$actual" "$expected" >&2
  exit 1
fi
echo "$actual"

echo "== Windows zip"
cmake --preset windows >/dev/null
cmake --build --preset windows
rm -f build-windows/*.zip
(cd build-windows && cpack -G ZIP >/dev/null)
folder=ebrilo-$(version_of build-windows)-win64
zip=build-windows/$folder.zip
[ -f "$zip" ] || { echo "$zip was not made" >&2; exit 1; }
expected=$( (for name in LICENSE.txt MANUAL.txt README.md ebrilo-sim.exe ebrilo.exe hardware/; do
  echo "$folder/$name"
done; circuits "$folder") | LC_ALL=C sort)
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
