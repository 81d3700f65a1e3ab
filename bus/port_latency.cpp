// SPDX-License-Identifier: MIT
#include "bus/port_latency.h"

#include <algorithm>
#include <string>

#include "bus/serial_lines.h"
#include "platform/platform.h"
#include "timing/delay.h"

namespace {

// A UART on the mainboard or on a card answers a modem-line call in a few
// microseconds; a USB adapter needs at least a bus frame, 125 µs or more. The
// shortest of the check's timed line changes is compared, so that one call
// the system happened to delay cannot make a fast port look slow, while an
// adapter (whose every line change is a round trip) cannot look fast.
constexpr std::uint64_t kSlowChangeUs = 50;

// Changes of SDA-Out the lag is measured on (an even number, so that SDA-Out
// ends where it started). An adapter that samples CTS only every so often
// shows a change made at a random moment after anything between no lag and
// its whole period. So each change is made a little later after CTS showed
// the one before: the first at once, just after a sample, which is then seen
// only a whole period later; the others a quarter of a line change later
// each time, so that for a short period some change falls just after a
// sample, whatever the phase.
constexpr int kLagChanges = 18;
constexpr int kPhaseSteps = 16;

// Whole tenths of a millisecond, which is what the line on standard error
// shows: the lag is rounded up to them before the settle time is taken from it.
constexpr std::uint64_t kTenthUs = 100;

std::string Milliseconds(std::uint64_t microseconds) {
  const std::uint64_t tenths = (microseconds + kTenthUs / 2) / kTenthUs;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " ms";
}

void DriveSda(bool high) {
  if (high) {
    SdaHigh();
  } else {
    SdaLow();
  }
}

}  // namespace

PortLatency MeasurePortLatency(bool level) {
  const std::uint64_t change_us = StopLineTiming();
  if (change_us < kSlowChangeUs) {
    SetReadSettle(0);
    return PortLatency::kFast;
  }
  // Every change made since the port opened has reached CTS after this, so
  // that none still on its way is taken for the answer to a change below.
  WaitTicks(kCtsLagLimitMs);
  // Only a change of CTS is waited for, whichever way it goes: with switches
  // that do not match the circuit, CTS still answers SDA-Out, inverted, and
  // the lag it shows is the same. The search for switches that work then
  // reads with the settle time measured here.
  bool seen = ReadSda();
  bool driven = level;
  bool prompt = true;
  std::uint64_t longest = 0;
  std::uint64_t seen_at = MicrosecondCount();
  for (int change = 0; change < kLagChanges; ++change) {
    if (change > 0) {
      WaitUntilMicrosecond(seen_at +
                           static_cast<std::uint64_t>((change - 1) % kPhaseSteps) * change_us / 4);
    }
    driven = !driven;
    DriveSda(driven);
    const std::uint64_t changed_at = LastLineChange();
    // Only a read made once the limit has passed fails the check: the
    // process may have been kept from running between a read and the look
    // at the clock after it.
    const std::uint32_t waiting_since = TickCount();
    bool first_read = true;
    bool limit_passed = false;
    while (ReadSda() == seen) {
      if (limit_passed) {
        Diagnostic(PortName() + ": CTS did not follow DTR within " +
                   std::to_string(kCtsLagLimitMs) + " ms");
        SetReadSettle(0);
        return PortLatency::kCtsStuck;
      }
      limit_passed = TickCount() - waiting_since >= kCtsLagLimitMs;
      first_read = false;
    }
    seen = !seen;
    seen_at = MicrosecondCount();
    longest = std::max(longest, seen_at - changed_at);
    prompt = prompt && first_read;
  }
  // A CTS that showed every change at the first read after it shows the
  // data line in time for the protocol's reads, which come two line changes
  // or more after the line moved.
  if (prompt) {
    SetReadSettle(0);
    Diagnostic(PortName() + ": each line change takes " + Milliseconds(change_us) +
               "; CTS follows at once");
    return PortLatency::kMeasured;
  }
  longest = (longest + kTenthUs - 1) / kTenthUs * kTenthUs;
  SetReadSettle(2 * longest);
  Diagnostic(PortName() + ": CTS follows after " + Milliseconds(longest) +
             "; each read of the data line waits " + Milliseconds(2 * longest));
  return PortLatency::kMeasured;
}
