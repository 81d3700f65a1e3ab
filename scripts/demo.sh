#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds ebrilo-sim and writes the sample dump into the simulated chip in page
# mode, then compares what the chip holds with the dump. It needs only CMake
# and a C++ compiler: it builds in build-demo/, without the tests, and
# everything the demo writes goes to build-demo/run/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake --preset demo >/dev/null
cmake --build --preset demo --target ebrilo-sim >/dev/null

rm -rf build-demo/run
mkdir -p build-demo/run
cp samples/sample-dump.bin build-demo/run/
cd build-demo/run
status=0
EBRILO_SIM="save=chip.bin;app_save=app.bin;trace=run.vcd" ../ebrilo-sim sample-dump.bin </dev/null || status=$?
echo
if [ "$status" -eq 0 ] && cmp -s chip.bin sample-dump.bin; then
  echo "The simulated chip now holds exactly the 1024 bytes of sample-dump.bin (trace: build-demo/run/run.vcd)."
else
  echo "The simulated chip does NOT hold sample-dump.bin (exit status $status)." >&2
  exit 1
fi
