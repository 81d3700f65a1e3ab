#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the links of the README and doc/, then builds both packages and
# checks them as their users' tools would:
#   build/ebrilo_VERSION_ARCH.deb         lintian, failing on any error or
#                                         warning (informational tags are
#                                         shown; doc/testing.md explains
#                                         them), and the README, the
#                                         reference in doc/ and the circuits
#                                         in its documentation folder
#   build-windows/ebrilo-VERSION-win64.zip one folder of that name holding
#                                         exactly both programs, the README,
#                                         the licence, the manual as text,
#                                         the reference in doc/ and the
#                                         circuits in hardware/
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Links"
bash scripts/check-links.sh

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
# Every file of the reference, in a folder doc/ beside the README as in the
# sources, so that the README's links hold.
reference() {
  for file in doc/*.md; do echo "$1/$file"; done
}
doc=./usr/share/doc/ebrilo
expected=$( (echo "$doc/README.md"; circuits "$doc"; reference "$doc") | LC_ALL=C sort)
actual=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -E "^$doc/(README|hardware/.|doc/.)" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  printf '%s holds:\n%s\ninstead of:\n%s\n' "$deb" "$actual" "$expected" >&2
  exit 1
fi
# And each as it is in the sources.
for file in README.md doc/*.md; do
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "$doc/$file" | cmp -s - "$file" ||
    { echo "$deb: $doc/$file differs from $file" >&2; exit 1; }
done
echo "$actual"

echo "== Windows zip"
cmake --preset windows >/dev/null
cmake --build --preset windows
rm -f build-windows/*.zip
(cd build-windows && cpack -G ZIP >/dev/null)
folder=ebrilo-$(version_of build-windows)-win64
zip=build-windows/$folder.zip
[ -f "$zip" ] || { echo "$zip was not made" >&2; exit 1; }
expected=$( (for name in LICENSE.txt MANUAL.txt README.md ebrilo-sim.exe ebrilo.exe doc/ hardware/; do
  echo "$folder/$name"
done; circuits "$folder"; reference "$folder") | LC_ALL=C sort)
actual=$(unzip -Z1 "$zip" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "$zip holds:" >&2
  echo "$actual" >&2
  echo "instead of:" >&2
  echo "$expected" >&2
  exit 1
fi
# The README and the reference as they are in the sources.
for file in README.md doc/*.md; do
  unzip -p "$zip" "$folder/$file" | cmp -s - "$file" ||
    { echo "$zip: $folder/$file differs from $file" >&2; exit 1; }
done
# The manual must be rendered text, not the page's source. grep reads it
# whole: one that stopped at the first match (-q) would leave unzip writing
# into a closed pipe, and pipefail would take that for a failure.
unzip -p "$zip" "$folder/MANUAL.txt" | grep '^SYNOPSIS$' >/dev/null ||
  { echo "$folder/MANUAL.txt is not the rendered manual" >&2; exit 1; }
echo "$actual"
