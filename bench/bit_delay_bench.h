// SPDX-License-Identifier: MIT
// The bit delay as the program gets it: calibrated against the tick counter,
// then timed call by call on the steady clock's nanoseconds. Both run the
// program's own calibration and delay functions, linked in from its objects.
#pragma once

// Calibrates several times, times many single bit delays after each
// calibration, and adds the rows.
void BenchBitDelay();
