// SPDX-License-Identifier: MIT
#include "bus/transfer.h"

#include <string>

#include "bus/adapter_bus.h"
#include "bus/ch341a.h"
#include "bus/serial_lines.h"
#include "bus/twowire.h"
#include "platform/platform.h"

std::uint8_t last_control_byte = 0;
std::uint16_t last_word_address = 0;
std::uint32_t position = 0;
BusCarrier bus_carrier = BusCarrier::kSerialLines;

BusCarrier CarrierOfPort() {
  if (IsProgrammerName(port_name)) {
    return BusCarrier::kUsbProgrammer;
  }
  if (IsI2cAdapter(PortName())) {
    return BusCarrier::kI2cAdapter;
  }
  return BusCarrier::kSerialLines;
}

bool OpenBus() {
  bus_carrier = CarrierOfPort();
  last_control_byte = 0;
  last_word_address = 0;
  position = 0;
  return bus_carrier == BusCarrier::kSerialLines
             ? OpenLinesBus()
             : OpenAdapterBus(bus_carrier == BusCarrier::kUsbProgrammer);
}

void ReportChipMissing(std::span<const std::string> elsewhere) {
  if (bus_carrier == BusCarrier::kSerialLines) {
    ReportLinesChipMissing(elsewhere);
  } else {
    ReportAdapterChipMissing(elsewhere);
  }
}

void CloseBus() {
  if (bus_carrier == BusCarrier::kSerialLines) {
    CloseLinesBus();
  } else {
    CloseAdapterBus();
  }
}

bool WriteTransaction(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                      std::span<const std::uint8_t> data) {
  refused_after_address = false;
  return bus_carrier == BusCarrier::kSerialLines
             ? WriteOnLines(control, word_address, address_bytes, data)
             : WriteThroughAdapter(control, word_address, address_bytes, data);
}

bool ReadTransaction(std::uint8_t control, std::uint16_t word_address, int address_bytes,
                     std::span<std::uint8_t> bytes) {
  refused_after_address = false;
  return bus_carrier == BusCarrier::kSerialLines
             ? ReadOnLines(control, word_address, address_bytes, bytes)
             : ReadThroughAdapter(control, word_address, address_bytes, bytes);
}

std::size_t BestReadLength() {
  constexpr std::size_t kSerialLinesRead = 256;
  constexpr std::size_t kAdapterRead = 1024;
  return bus_carrier == BusCarrier::kSerialLines ? kSerialLinesRead : kAdapterRead;
}

bool PollTransaction(std::uint8_t control) {
  return bus_carrier == BusCarrier::kSerialLines
             ? AddressChip(control, chip_probe_address_bytes,
                           ProbeReadsBack(chip_probe_address_bytes))
             : PollThroughAdapter(control);
}

bool ProbeTransaction(std::uint8_t control) {
  return bus_carrier == BusCarrier::kSerialLines ? AddressChip(control, 1, false)
                                                 : ProbeThroughAdapter(control);
}
