#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds ebrilo-sim and writes the sample dump into the simulated chip in page
# mode, then compares what the chip holds with the dump. Everything the demo
# writes goes to build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target ebrilo-sim >/dev/null

rm -rf build/demo
mkdir -p build/demo
cp samples/sample-dump.bin build/demo/
cd build/demo
status=0
EBRILO_SIM="save=chip.bin;app_save=app.bin;trace=run.vcd" ../ebrilo-sim sample-dump.bin </dev/null || status=$?
echo
if [ "$status" -eq 0 ] && cmp -s chip.bin sample-dump.bin; then
  echo "The simulated chip now holds exactly the 1024 bytes of sample-dump.bin (trace: build/demo/run.vcd)."
else
  echo "The simulated chip does NOT hold sample-dump.bin (exit status $status)." >&2
  exit 1
fi
