#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the Windows programs (build-windows/ebrilo.exe and
# build-windows/ebrilo-sim.exe), runs ebrilo.exe's CH341A code against
# stand-ins for WinUSB and SetupAPI, and runs the end-to-end suite against
# ebrilo-sim.exe under Wine, in a private Wine prefix.
#
# Usage: scripts/test-windows.sh [ctest arguments, such as -R Page]
#   EBRILO_HOST_BUILD  native build tree that builds and runs the end-to-end
#                      suite (default: build, the "default" preset's tree)
#
# The suite starts the program under test through EBRILO_E2E_COMMAND, a
# command prefix split at spaces: here the Wine loader and the absolute path
# of ebrilo-sim.exe. WINEPREFIX and WINEDEBUG reach Wine through the
# environment, so the same suite runs unchanged against the Linux build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# The suite splits EBRILO_E2E_COMMAND at spaces.
case "$root" in *' '*) echo "The checkout's path must not contain spaces: $root" >&2; exit 1 ;; esac
host_build=${EBRILO_HOST_BUILD:-build}

wine_loader() {
  # Debian 12 ships the 64-bit loader off the PATH; other systems name it wine64.
  command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || true
}

scripts/install-deps.sh native windows
wine=$(wine_loader)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

echo "== Wine prefix, made while the programs build"
export WINEPREFIX=$root/build-windows/wine-prefix
export WINEARCH=win64
export WINEDEBUG=-all
# Mono and Gecko are not needed by console programs; without this Wine would
# try to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
prefix_made=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  ( "$wine" wineboot --init >/dev/null 2>&1 && "$wineserver" -w ) &
  prefix_made=$!
fi

echo "== Cross-build"
cmake --preset windows >/dev/null
cmake --build --preset windows
for program in ebrilo.exe ebrilo-sim.exe; do
  [ -f "build-windows/$program" ] || { echo "build-windows/$program was not built" >&2; exit 1; }
done

echo "== The busy loop: once in each program, inside one 64-byte line"
sh tests/busy_loop_check.sh x86_64-w64-mingw32-nm x86_64-w64-mingw32-objdump \
  build-windows/ebrilo.exe build-windows/ebrilo-sim.exe
echo "ok"

if [ -n "$prefix_made" ]; then
  wait "$prefix_made" || { echo "wineboot could not make the Wine prefix" >&2; exit 1; }
fi
# One Wine server for the whole suite instead of one per program run. When
# ebrilo.exe opens COM12, the server opens the pseudo-terminal behind it and,
# leading a session of its own, takes it as its controlling terminal; when the
# test closes the pseudo-terminal, the hang-up makes the server list every
# object it holds, thousands of lines, on its standard error: that goes to a
# file of the build's, not into the suite's output.
"$wineserver" -p 2>>build-windows/wineserver.log
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT

# Wine maps COM1 to this machine's first serial device, which may be its
# console: ebrilo.exe itself runs here only where it stops before the port
# (no arguments, /PORT:?) or on COM12, which the end-to-end test points at a
# pseudo-terminal of its own; everything else runs ebrilo-sim.exe, whose port
# is simulated.
echo "== Usage text: Windows build against the Linux build"
cmake --preset default -B "$host_build" >/dev/null
cmake --build "$host_build" --target ebrilo
"$wine" build-windows/ebrilo.exe </dev/null >build-windows/usage-windows.txt
"$host_build"/ebrilo </dev/null >build-windows/usage-linux.txt
cmp build-windows/usage-windows.txt build-windows/usage-linux.txt
echo "identical"

echo "== The CH341A through WinUSB: ebrilo.exe under Wine with stand-ins for setupapi.dll and winusb.dll"
# The stand-ins beside the program's copy list only the devices each test
# describes and run the simulated programmer: none of this machine's own
# USB devices is seen, and no serial port is opened.
cmake --build "$host_build" --target winusb_tests
# Four at a time, as the end-to-end tests below, for the same reasons.
EBRILO_WINUSB_COMMAND="$wine $root/build-windows/winusb-standin/ebrilo.exe" \
  ctest --test-dir "$host_build" -L winusb --output-on-failure -j 4 --repeat until-pass:2

echo "== End-to-end tests under Wine"
# Four at a time: a program under Wine spends much of its start waiting on
# the Wine server rather than on the processor. On a busy machine Wine now
# and then ends several of its processes at once in the middle of their runs,
# with status 0 and their output cut short, whatever they run: a test that
# fails is run once more, and fails the suite only if it fails again.
# The runs behind a USB adapter whose CTS lags are left to the Linux build:
# they try the bus code against the simulated adapter's timing, on the
# simulated clock, the same code in both builds, and their long waits would
# add a fifth to this suite's time.
cmake --build "$host_build" --target e2e_tests
export EBRILO_E2E_COMMAND="$wine $root/build-windows/ebrilo-sim.exe"
ctest --test-dir "$host_build" -L e2e -E '^AdapterRun\.' --output-on-failure -j 4 \
  --repeat until-pass:2 "$@"
