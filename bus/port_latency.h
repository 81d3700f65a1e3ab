// SPDX-License-Identifier: MIT
// Serial ports behind a USB link. Every DTR, RTS and CTS call is then a USB
// round trip (0.1 to 2 ms instead of a microsecond), and some adapters report
// CTS from a status they sent some milliseconds after the line changed: a
// sample of SDA-In taken just after SCL rose would return the previous bit.
// The circuit check finds such a port by timing its own line changes, and
// only there measures how late CTS follows SDA-Out.
#pragma once

#include <cstdint>

// Longest CTS lag the program works with, and the longest it waits for CTS to
// follow a change of SDA-Out.
inline constexpr std::uint32_t kCtsLagLimitMs = 100;

enum class PortLatency {
  kFast,      // line changes take microseconds: nothing was changed
  kMeasured,  // a slow port, its CTS lag measured and the reads set to wait
  kCtsStuck,  // a slow port whose CTS did not follow SDA-Out within the limit
};

// Called by the circuit check with SDA-Out driven to level, once it has made
// and timed its line changes (StartLineTiming). On a slow port it drives
// SDA-Out to and fro, leaves it at level again, sets the read settle time to
// twice the longest lag seen (none when CTS followed every change at its
// first read), and says on standard error what it found.
PortLatency MeasurePortLatency(bool level);
