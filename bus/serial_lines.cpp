// SPDX-License-Identifier: MIT
#include "bus/serial_lines.h"

#include <algorithm>
#include <limits>

#include "platform/platform.h"
#include "timing/delay.h"

BusOptions bus_options;
bool sda_set_only_on_change = false;
std::string port_name = "COM1";

namespace {

// The clock is read around a line change only while the port is being timed
// or its reads must settle: on a port of the machine's own, once checked,
// the bus runs exactly as it always has.
bool noting_changes = false;
bool timing_changes = false;
constexpr std::uint64_t kNoneTimed = std::numeric_limits<std::uint64_t>::max();
std::uint64_t shortest_change = kNoneTimed;
std::uint64_t last_change = 0;
std::uint64_t read_settle = 0;

// True from an RTS change until another primitive's bit delay: SCL's phase
// has then lasted one bit delay, and SCL changes again only once SclHold has
// made it the least wait for SCL.
bool scl_phase_of_one_delay = false;

// DTR as last set, -1 from the port's opening until then.
std::int32_t dtr_level = -1;

std::int32_t Asserted(bool high, bool inverted) {
  return high != inverted ? 1 : 0;
}

std::uint64_t ChangeStarts() {
  return noting_changes ? MicrosecondCount() : 0;
}

void ChangeEnded(std::uint64_t started) {
  if (!noting_changes) {
    return;
  }
  last_change = MicrosecondCount();
  if (timing_changes) {
    shortest_change = std::min(shortest_change, last_change - started);
  }
}

void SetDtr(std::int32_t level) {
  if (sda_set_only_on_change && level == dtr_level) {
    return;
  }
  dtr_level = level;
  const std::uint64_t started = ChangeStarts();
  DTR(level);
  ChangeEnded(started);
  BitDelay();
  scl_phase_of_one_delay = false;
}

void SetRts(std::int32_t level) {
  if (scl_phase_of_one_delay) {
    SclHold();
  }
  const std::uint64_t started = ChangeStarts();
  RTS(level);
  ChangeEnded(started);
  BitDelay();
  scl_phase_of_one_delay = true;
}

}  // namespace

// The settings after the port name do not matter to the bus, which uses only
// the modem lines; "stop=0" names no stop bit count and is ignored.
std::string SerialPortMode() {
  return port_name + ": baud=9600 parity=N data=8 stop=0";
}

void OpenSerialPort() {
  dtr_level = -1;
  OPENCOM(SerialPortMode().c_str());
}

void CloseSerialPort() {
  CLOSECOM();
}

std::string PortName() {
  return PortDevice(SerialPortMode().c_str());
}

void SdaHigh() {
  SetDtr(Asserted(true, bus_options.invert_sda_out));
}

void SdaLow() {
  SetDtr(Asserted(false, bus_options.invert_sda_out));
}

void SclHigh() {
  SetRts(Asserted(true, bus_options.invert_scl));
}

void SclLow() {
  SetRts(Asserted(false, bus_options.invert_scl));
}

bool ReadSda() {
  BitDelay();
  scl_phase_of_one_delay = false;
  if (read_settle != 0) {
    WaitUntilMicrosecond(last_change + read_settle);
  }
  return (CTS() != 0) != bus_options.invert_sda_in;
}

bool LinesFailed() {
  return PortFailed();
}

void StartLineTiming() {
  if (!timing_changes) {
    timing_changes = true;
    shortest_change = kNoneTimed;
  }
  noting_changes = true;
  read_settle = 0;
}

std::uint64_t StopLineTiming() {
  timing_changes = false;
  return shortest_change == kNoneTimed ? 0 : shortest_change;
}

void SetReadSettle(std::uint64_t microseconds) {
  read_settle = microseconds;
  noting_changes = microseconds != 0;
}

std::uint64_t ReadSettle() {
  return read_settle;
}

std::uint64_t LastLineChange() {
  return last_change;
}
