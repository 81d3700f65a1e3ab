#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the native suites (of the end-to-end suites,
# the runs that measure real time); the programs and the unit and simulator
# suites built with AddressSanitizer and UndefinedBehaviorSanitizer, and the
# other end-to-end runs against those programs; the end-to-end suite against
# the Windows build of ebrilo-sim under Wine; and both packages.
# Each stage ends with the time it took.
set -euo pipefail
cd "$(dirname "$0")/.."
# The end-to-end suites split the command of the program under test at spaces.
case "$PWD" in *' '*) echo "The checkout's path must not contain spaces: $PWD" >&2; exit 1 ;; esac

scripts/install-deps.sh native windows decoder package

# Runs one stage and prints its time; a failing stage still ends the script.
stage() {
  local title=$1 started=$SECONDS
  shift
  echo "== $title"
  "$@"
  echo "== $title: $((SECONDS - started)) s"
}

# The end-to-end runs that measure real time: the calibration, a USB
# adapter's CTS that lags far or is sampled only now and then, a write cycle
# longer than the wait, a signal in the middle of a job. And the real
# program's runs on a serial port that mostly wait out its calibration at
# start-up, which the sanitizers' checks make it repeat: the port's lock file.
# Through an I2C adapter or the CH341A it calibrates nothing, and every run
# of it there stays with the sanitizer build.
native_only='^Calibration\.|^AdapterRun\.(PeriodicCts|LagGrownFar)|WriteCycleLonger|StopSignal|InterruptedRead'
native_only+='|^PortRun\.RealPortLock'

# The native build's own tests, and of the end-to-end suites only the runs
# above: the rest run once, against the sanitizer build's programs.
# The benchmark is left out: it measures speed and is no test, and
# scripts/bench.sh builds it.
native() {
  cmake --preset default -DEBRILO_BENCH=OFF >/dev/null
  cmake --build --preset default
  ctest --preset default -LE 'e2e|usb'
  ctest --preset default -L 'e2e|usb' -R "$native_only"
}

# The sanitizer build's own tests, then the native build's end-to-end suites
# against its programs: the suites only start the programs and look at what
# they did, and the programs are what the sanitizers watch. The runs above
# are the native build's alone: they spend their seconds waiting on the
# clock, in code that the other runs also go through, and the sanitizers slow
# the programs down by more than their timing allows.
sanitize() {
  cmake --preset sanitize >/dev/null
  cmake --build --preset sanitize
  ctest --preset sanitize
  EBRILO_E2E_COMMAND=$PWD/build-sanitize/ebrilo-sim EBRILO_E2E_REAL=$PWD/build-sanitize/ebrilo \
    ctest --preset default -L 'e2e|usb' -E "$native_only"
}

total_started=$SECONDS
stage "Native build and tests" native
stage "Sanitizer build and tests" sanitize
stage "Windows build, end-to-end tests under Wine" bash scripts/test-windows.sh
stage "Packages: the .deb through lintian, the Windows zip's contents" bash scripts/test-packages.sh
echo "== All stages: $((SECONDS - total_started)) s"
