// SPDX-License-Identifier: MIT
// Bit timing. The bus is clocked entirely in software: every line change is
// followed by one bit delay, a counted busy loop calibrated at start-up to
// about 40 microseconds. The coarser waits poll the millisecond tick counter.
#pragma once

#include <cstdint>

// Passes of the busy loop in one bit delay; 0 until calibrated, then 1 or more.
extern std::int32_t delay_count;

// Measures the busy loop against the tick counter and sets delay_count.
void CalibrateDelay();

// One bit delay: delay_count passes of the busy loop.
void BitDelay();

// Waits until at least ms milliseconds have passed.
void WaitTicks(std::uint32_t ms);

// The wait after every EEPROM write: ends once more than 50 ms have passed,
// which covers the chip's internal write cycle.
void SettleWait();

// Rounds to the nearest integer, halves to even.
std::int64_t RoundHalfEven(double value);
