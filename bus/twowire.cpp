// SPDX-License-Identifier: MIT
#include "bus/twowire.h"

#include <string>

#include "app/errors.h"
#include "bus/chip_addressing.h"
#include "bus/diagnosis.h"
#include "bus/port_latency.h"
#include "bus/serial_lines.h"
#include "platform/platform.h"
#include "timing/delay.h"

bool port_timed = false;

namespace {

// A slave interrupted in the middle of a byte may hold SDA low until it has
// clocked out the rest of it: eight bits and an acknowledge at most.
constexpr int kMaxClearingPulses = 9;

// Time for the port's lines and the circuit's supply to settle after opening.
constexpr std::uint32_t kPortSettleMs = 200;

// The error goes to standard output as it always has; why it happened, and
// which switches would work, goes to standard error before it.
void ReportOpeningFailure(ErrorCode code, bool check_passed) {
  const std::string finding = DiagnoseBus(check_passed);
  if (!finding.empty()) {
    Diagnostic(finding);
  }
  ReportError(code, true);
}

}  // namespace

// Either line may be in any state on entry. SDA falls while SCL is high;
// SCL is low on return. Made inside a transaction, with SCL low after an
// acknowledge, it is a repeated START: the chip keeps the address it was
// given and takes a new control byte, which turns the bus round for a read.
void SendStart() {
  SdaHigh();
  SclHigh();
  SdaLow();
  SclLow();
}

// SDA rises while SCL is high; both lines are high (bus idle) on return.
// Where CTS lags, SDA stays low for the longest lag the program works with
// before it rises, so that StopSeen can tell a CTS that has fallen further
// behind than measured.
void SendStop() {
  SclLow();
  SdaLow();
  SclHigh();
  if (ReadSettle() != 0) {
    WaitUntilMicrosecond(LastLineChange() + std::uint64_t{kCtsLagLimitMs} * 1000);
  }
  SdaHigh();
}

// After a STOP: SDA rose after a long low, so a CTS still as prompt as
// measured reads it high once the settle time has passed. One that reads low
// now lags more than that (by up to the longest lag the program works with),
// and every acknowledge and data bit read since may have been an older level
// of the line: an acknowledge that was a data bit 0, data bits shifted.
bool StopSeen() {
  return ReadSettle() == 0 || (ReadSda() && !LinesFailed());
}

// SCL is low on entry and on return. Data changes only while SCL is low.
bool SendByte(std::uint8_t value) {
  for (int bit = 7; bit >= 0; --bit) {
    if (((value >> bit) & 1) != 0) {
      SdaHigh();
    } else {
      SdaLow();
    }
    SclHigh();
    SclLow();
  }
  return ReadAck();
}

// SCL is low on entry and on return. The receiver acknowledges by pulling the
// released SDA low during the ninth clock.
bool ReadAck() {
  SdaHigh();
  SclHigh();
  const bool sda_high = ReadSda();
  SclLow();
  return !sda_high && !LinesFailed();
}

// Between transactions both lines are released. A slave that still holds
// SDA low (stuck in the middle of a byte, or a short to ground) leaves no
// START possible, and every acknowledge read after it would be that same low.
bool BusFree() {
  return ReadSda() && !LinesFailed();
}

// SCL is low on entry and on return. The master releases SDA for the chip,
// which changes it only while SCL is low, and samples it while SCL is high.
// Its acknowledge is SDA held low through the ninth clock; left released, it
// tells the chip that the read is over, so that the STOP can follow.
std::uint8_t ReceiveByte(bool acknowledge) {
  SdaHigh();
  std::uint8_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    SclHigh();
    value = static_cast<std::uint8_t>(value << 1 | (ReadSda() ? 1 : 0));
    SclLow();
  }
  if (acknowledge) {
    SdaLow();
  } else {
    SdaHigh();
  }
  SclHigh();
  SclLow();
  return value;
}

// Loop-back test of the interface circuit: SDA-In must follow SDA-Out. The
// level driven is the one that reads back as an asserted CTS in either input
// polarity, so a CTS that is never asserted fails either way. The first check
// after the port opened times its line changes (and OpenBus's before them):
// on a slow port, the loop-back is read again once the CTS lag is known and
// waited for. Later checks (the search for switches that work) read with
// what was measured then.
bool CheckCircuit() {
  const bool timing = !port_timed;
  if (timing) {
    StartLineTiming();
  }
  const bool level = !bus_options.invert_sda_in;
  if (level) {
    SdaHigh();
    SclHigh();
  } else {
    SdaLow();
    SclLow();
  }
  const bool follows = ReadSda() == level;
  if (!timing) {
    return follows;
  }
  port_timed = true;
  switch (MeasurePortLatency(level)) {
    case PortLatency::kFast:
      return follows;
    case PortLatency::kMeasured:
      return ReadSda() == level;
    case PortLatency::kCtsStuck:
      break;
  }
  return false;
}

bool ProbeDevice(std::uint8_t control) {
  SendStop();
  // Clear the bus: clock a slave that holds SDA low through the rest of
  // whatever it was sending, until it lets go or nine pulses have passed.
  for (int pulse = 0; pulse < kMaxClearingPulses; ++pulse) {
    SclHigh();
    const bool sda_high = ReadSda();
    SclLow();
    if (sda_high) {
      break;
    }
  }
  return AddressChip(control, chip_probe_address_bytes, ProbeReadsBack(chip_probe_address_bytes));
}

// The word address's own acknowledges are not looked at, nor the read
// back's: a chip that answers its address is there, whatever it makes of
// the bytes after it.
bool AddressChip(std::uint8_t control, int address_bytes, bool read_back) {
  SendStart();
  const bool ack = SendByte(control);
  if (ack) {
    for (const std::uint8_t byte : DummyWordAddress(address_bytes)) {
      SendByte(byte);
    }
    if (read_back) {
      SendStart();
      if (SendByte(static_cast<std::uint8_t>(control | 1))) {
        ReceiveByte(false);
      }
    }
  }
  SendStop();
  return ack;
}

bool OpenLinesBus() {
  OpenSerialPort();
  port_timed = false;
  WaitTicks(kPortSettleMs);
  StartLineTiming();
  SdaHigh();
  SclHigh();
  if (!CheckCircuit()) {
    ReportOpeningFailure(ErrorCode::NoCircuit, false);
  }
  return ProbeDevice(ProbeControlByte());
}

void ReportLinesChipMissing(std::span<const std::string> elsewhere) {
  for (const std::string& line : elsewhere) {
    Diagnostic(line);
  }
  if (elsewhere.empty()) {
    ReportOpeningFailure(ErrorCode::NoEeprom, true);
  } else {
    ReportError(ErrorCode::NoEeprom, true);
  }
}

void CloseLinesBus() {
  SdaHigh();
  SclHigh();
  CloseSerialPort();
}

namespace {

constexpr std::uint8_t kReadBit = 0x01;

// Every transaction opens alike: SDA is sampled once (bus_free) to see that
// no slave holds the bus, then come the START, the control byte and, if that
// was acknowledged (addressed), the word address, its high byte first where
// it takes two. True when all were acknowledged.
bool SendAddress(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                 bool& bus_free, bool& addressed) {
  bus_free = BusFree();
  SendStart();
  addressed = SendByte(control);
  bool ack = addressed;
  for (int byte = address_bytes - 1; ack && byte >= 0; --byte) {
    ack = SendByte(static_cast<std::uint8_t>(word_address >> (8 * byte)));
  }
  return ack;
}

// A transaction's end, after its STOP (which StopSeen checks whatever went
// before): true when it succeeded. A failure at a byte after the
// acknowledged control byte, on a bus that was free and a port that carried
// the whole transaction, is the chip's refusal.
bool Ended(bool bus_free, bool addressed, bool ack) {
  const bool stop_seen = StopSeen();
  const bool carried = bus_free && stop_seen && !LinesFailed();
  refused_after_address = carried && addressed && !ack;
  return carried && ack;
}

}  // namespace

// Start, control byte, word address, then the data bytes while each is
// acknowledged; the stop is sent whatever happened, so the bus is idle again.
// A transaction that found SDA held low before its start has written
// nothing, however many acknowledges that low line gave: it fails. Its bytes
// are still clocked out, which can free a slave that was stuck in a byte.
// So does one whose port failed by the end of its stop: the chip stores a
// write only on the stop, which then may never have reached it; and one
// after which CTS turned out to lag more than measured, whose acknowledges
// may have been older levels of the line.
bool WriteOnLines(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                  std::span<const std::uint8_t> data) {
  bool bus_free = false;
  bool addressed = false;
  bool ack = SendAddress(control, word_address, address_bytes, bus_free, addressed);
  for (auto next = data.begin(); ack && next != data.end(); ++next) {
    ack = SendByte(*next);
  }
  SendStop();
  return Ended(bus_free, addressed, ack);
}

// A random read: the word address goes to the chip as for a write, then a
// repeated START and the same control byte with the read bit set turn the
// bus round, and the chip sends from that address on. Every byte but the
// last is acknowledged; the missing acknowledge after the last one lets the
// chip release SDA for the STOP. The master's acknowledges prove nothing
// about the data, so a read fails on a busy bus, on any byte the chip did not
// acknowledge, and on a port that failed at any point of it: a dead CTS reads
// as zeros; and after a STOP that showed CTS lagging more than measured,
// which has shifted the data bits.
bool ReadOnLines(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                 std::span<std::uint8_t> bytes) {
  bool bus_free = false;
  bool addressed = false;
  bool ack = SendAddress(control, word_address, address_bytes, bus_free, addressed);
  if (ack) {
    SendStart();
    ack = SendByte(static_cast<std::uint8_t>(control | kReadBit));
    addressed = ack;
  }
  for (std::size_t index = 0; ack && index < bytes.size(); ++index) {
    bytes[index] = ReceiveByte(index + 1 < bytes.size());
  }
  SendStop();
  return Ended(bus_free, addressed, ack);
}
