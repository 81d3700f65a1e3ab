// SPDX-License-Identifier: MIT
#include "bus/adapter_bus.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/errors.h"
#include "bus/ch341a.h"
#include "bus/chip_addressing.h"
#include "bus/serial_lines.h"
#include "platform/platform.h"

namespace {

// A random read asks for all it was given at once (the EEPROM code keeps
// each read inside what the chip reads in sequence: a 128-byte block of the
// 24RF08), up to i2c-dev's own longest message. An adapter that cannot carry
// that much in one message says so, and the read goes on in halves, then
// quarters, down to what it takes; that size holds for the rest of the run.
constexpr std::size_t kLargestRead = 8192;
std::size_t read_piece = kLargestRead;

// Whether the adapter open is the CH341A rather than an I2C adapter of the
// system's.
bool programmer = false;

// An adapter that failed says why once: with /E every transaction after it
// fails the same way.
bool failure_told = false;

std::uint8_t AddressOf(std::uint8_t control) {
  return static_cast<std::uint8_t>(control >> 1);
}

std::string Hex(std::uint8_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {'0', 'x', kDigits[value >> 4], kDigits[value & 0x0F]};
}

// The word address as it goes on the bus: address_bytes bytes, high first.
std::vector<std::uint8_t> AddressBytes(std::uint32_t word_address, int address_bytes) {
  std::vector<std::uint8_t> bytes;
  for (int byte = address_bytes - 1; byte >= 0; --byte) {
    bytes.push_back(static_cast<std::uint8_t>(word_address >> (8 * byte)));
  }
  return bytes;
}

std::string AdapterName() {
  return programmer ? Ch341aName() : PortName();
}

I2cResult Carry(std::span<const I2cMessage> messages, std::string& reason) {
  reason.clear();
  return programmer ? Ch341aTransfer(messages, reason) : I2cAdapterTransfer(messages, reason);
}

// A refusal is the chip's answer and is reported, as on the serial path, by
// the error line of the transaction; anything else is the adapter's. A byte
// refused after the address is the chip saying no to what was asked.
bool Done(I2cResult result, const std::string& reason) {
  refused_after_address = result == I2cResult::kDataRefused;
  if (result != I2cResult::kDone && result != I2cResult::kAddressRefused &&
      result != I2cResult::kDataRefused && !failure_told) {
    failure_told = true;
    Diagnostic(AdapterName() + ": " + reason);
  }
  return result == I2cResult::kDone;
}

// The probe's dummy write, which the polls repeat: the chip's address and
// then the word address 0 in address_bytes bytes, never the address alone
// nor a byte more than the chip takes (see DummyWordAddress in
// bus/chip_addressing.h), and with read_back one byte read after a repeated
// START (ProbeReadsBack). Only the address's acknowledge counts, as on the
// serial path. Some controllers (the Raspberry Pi's, DesignWare's) report a
// refused address as a refused data byte, and a chip in its write cycle
// would then pass for a chip that answers: a refusal of the write is
// settled by reading one byte, a message in which the chip has nothing to
// acknowledge but its address.
I2cResult ProbeChip(std::uint8_t control, int address_bytes, bool read_back, std::string& reason) {
  const std::span<const std::uint8_t> zeros = DummyWordAddress(address_bytes);
  std::vector<std::uint8_t> bytes(zeros.begin(), zeros.end());
  std::uint8_t byte = 0;
  const I2cMessage probe[2] = {{AddressOf(control), false, bytes},
                               {AddressOf(control), true, std::span(&byte, 1)}};
  const I2cResult result = Carry(std::span(probe).first(read_back ? 2 : 1), reason);
  if (result != I2cResult::kDataRefused) {
    return result;
  }
  const I2cResult answer = Carry(std::span(probe).last(1), reason);
  return answer == I2cResult::kDataRefused ? I2cResult::kAddressRefused : answer;
}

bool Inverting() {
  return bus_options.invert_scl || bus_options.invert_sda_out || bus_options.invert_sda_in;
}

}  // namespace

bool OpenAdapterBus(bool usb_programmer) {
  failure_told = false;
  read_piece = kLargestRead;
  programmer = usb_programmer;
  if (Inverting()) {
    Diagnostic(std::string("/X, /D and /I have no meaning on ") +
               (programmer ? "a USB programmer" : "an I2C adapter") + ": going on without them");
  }
  i2c_chip_addresses = chip_addresses;
  if (!(programmer ? Ch341aBusOpen(port_name) : I2cAdapterOpen(PortName()))) {
    ReportError(ErrorCode::NoCircuit, true);
  }
  std::string reason;
  switch (ProbeChip(ProbeControlByte(), chip_probe_address_bytes,
                    ProbeReadsBack(chip_probe_address_bytes), reason)) {
    case I2cResult::kDone:
      return true;
    case I2cResult::kAddressRefused:
      return false;
    default:
      Diagnostic(AdapterName() + ": the chip's probe at address " + Hex(chip_addresses.front()) +
                 " failed: " + reason);
      ReportError(ErrorCode::NoCircuit, true);
  }
  return false;
}

void ReportAdapterChipMissing(std::span<const std::string> elsewhere) {
  Diagnostic(AdapterName() + ": no chip acknowledges address " + Hex(chip_addresses.front()) +
             " (control byte " + Hex(ProbeControlByte()) + ")" +
             (elsewhere.empty() ? ": check the chip, its supply and its wiring" : ""));
  for (const std::string& line : elsewhere) {
    Diagnostic(line);
  }
  ReportError(ErrorCode::NoEeprom, true);
}

void CloseAdapterBus() {
  if (programmer) {
    Ch341aClose();
  } else {
    I2cAdapterClose();
  }
}

// One message: the word address, then the data. A 24RF08's page is 17
// bytes.
bool WriteThroughAdapter(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                         std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> bytes = AddressBytes(word_address, address_bytes);
  bytes.insert(bytes.end(), data.begin(), data.end());
  const I2cMessage write{AddressOf(control), false, bytes};
  std::string reason;
  return Done(Carry(std::span(&write, 1), reason), reason);
}

// Each piece is a random read of its own, its word address and the read in
// one transfer, with a repeated START between them. A piece that begins past
// what the word address reaches begins in the next data block, at its
// address (bus/chip_addressing.h).
bool ReadThroughAdapter(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                        std::span<std::uint8_t> bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t length = std::min(read_piece, bytes.size() - done);
    const auto offset = static_cast<std::uint32_t>(done);
    const std::uint8_t piece_control = ControlByteAt(control, word_address, offset);
    std::vector<std::uint8_t> piece_address =
        AddressBytes(WordAddressAt(word_address, offset), address_bytes);
    const I2cMessage read[2] = {
        {AddressOf(piece_control), false, piece_address},
        {AddressOf(piece_control), true, bytes.subspan(done, length)},
    };
    std::string reason;
    const I2cResult result = Carry(read, reason);
    if (result == I2cResult::kTooLong && length > 1) {
      read_piece = length / 2;
      continue;
    }
    if (!Done(result, reason)) {
      return false;
    }
    done += length;
  }
  return true;
}

bool PollThroughAdapter(std::uint8_t control) {
  std::string reason;
  return Done(ProbeChip(control, chip_probe_address_bytes, ProbeReadsBack(chip_probe_address_bytes),
                        reason),
              reason);
}

bool ProbeThroughAdapter(std::uint8_t control) {
  std::string reason;
  return ProbeChip(control, 1, false, reason) == I2cResult::kDone;
}
