// SPDX-License-Identifier: MIT
// The bit delay as the program gets it: calibrated against the tick counter,
// then timed call by call on the steady clock's nanoseconds.
#pragma once

// Calibrates several times, times many single bit delays after each
// calibration, and adds the rows. Returns the measured length of one pass
// of the busy loop in nanoseconds.
double BenchBitDelay();
