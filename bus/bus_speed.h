// SPDX-License-Identifier: MIT
// The bus clock. On the serial port it is set by the bit delay: every data
// bit holds SCL high for one bit delay and low for two, so a bit delay of
// half the clock's period gives each phase at least the length a bus of that
// clock allows (5 µs at 100 kHz: at least 4.7 µs low and 4.0 µs high). The
// CH341A runs its bus at one of four clocks of its own. An I2C adapter runs
// at whatever its kernel driver was set to, which the program leaves alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bus/transfer.h"

// The least time between two changes of SCL on the serial port, in µs. An
// RS-232 driver slews at about 4 V/µs, so a ±12 V port needs 6 µs for a
// whole swing, and SCL follows only once the swing has passed the circuit's
// thresholds. After a shorter phase the next edge starts short of the rail
// and gets there sooner: at a 5 µs bit delay the reference circuit's SCL
// stayed high only 3.2 µs and low 4.3 µs where one bit delay made the phase
// (a data bit sent, the gap between two bits received). Such a phase is
// lengthened to 6 µs before SCL changes again: SCL then stays high 5.1 µs
// and low 6.0 µs at every swing, room for delays that come out a few per
// cent short. Phases of two bit delays or more (SCL low while a data bit is
// set up, high while a bit is read) keep them.
inline constexpr double kSclWaitMicroseconds = 6.0;

// The bus clock of the run in kHz, set by ChooseBusClock before the bus is
// opened: on the serial port 500 divided by the bit delay in µs (12.5 for
// the 24RF08's 40 µs); 0 on an I2C adapter, whose clock is the kernel's.
extern double bus_clock_khz;

// The clock the chip runs at on the carrier, or /KHZ:'s value (requested):
// true when it is one the carrier and the chip may have. own_bit_delay is
// the chip's column of that name. On an I2C adapter /KHZ: means nothing and
// is always taken (the caller says so).
bool ChooseBusClock(BusCarrier carrier, bool own_bit_delay,
                    std::optional<std::string_view> requested);

// The values /KHZ: may take on the carrier for the chip, as a refusal lists
// them.
std::string AllowedClocks(BusCarrier carrier, bool own_bit_delay);

// Puts the clock into effect on the serial port, once the bit delay is
// calibrated, with SCL's phases at least kSclWaitMicroseconds: nothing
// changes for a chip that keeps its own bit delay at its own speed. The
// CH341A takes bus_clock_khz at its opening.
void ApplyBusClock();

// Empty, or a line for a connection that read unreliably: where the bus ran
// faster than the 24RF08's speed on the serial port or 100 kHz on the
// CH341A, the /KHZ: that runs it slower.
std::string SlowerClockAdvice();
