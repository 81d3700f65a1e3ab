#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the timing benchmark: calibration and bit delay, the cost of
# a line operation, and whole runs of ebrilo-sim against the time their
# protocol takes (byte mode alone takes about a minute). Prints the table and
# writes it as Markdown to build/bench.md.
#
# Usage: scripts/bench.sh [DEVICE]
# DEVICE is a serial port to time line operations on, such as /dev/ttyUSB0.
# None is opened unless named here: this machine's own ports may be its console.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
# scripts/test.sh configures the same tree without the benchmark.
cmake --preset default -DEBRILO_BENCH=ON >/dev/null
cmake --build --preset default --target ebrilo-bench >/dev/null

if [ $# -gt 0 ]; then
  exec build/bench/ebrilo-bench --markdown build/bench.md --port "$1"
fi
exec build/bench/ebrilo-bench --markdown build/bench.md
