// SPDX-License-Identifier: MIT
#include "bus/transfer.h"

#include <string>

#include "bus/adapter_bus.h"
#include "bus/ch341a.h"
#include "bus/serial_lines.h"
#include "bus/twowire.h"
#include "platform/platform.h"

std::uint8_t last_control_byte = 0;
std::uint8_t last_word_address = 0;
std::uint16_t position = 0;
bool refused_after_address = false;
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

void OpenBus() {
  bus_carrier = CarrierOfPort();
  last_control_byte = 0;
  last_word_address = 0;
  position = 0;
  if (bus_carrier == BusCarrier::kSerialLines) {
    OpenLinesBus();
  } else {
    OpenAdapterBus();
  }
}

void CloseBus() {
  if (bus_carrier == BusCarrier::kSerialLines) {
    CloseLinesBus();
  } else {
    CloseAdapterBus();
  }
}

bool WriteTransaction(std::uint8_t control, std::uint8_t word_address,
                      std::span<const std::uint8_t> data) {
  refused_after_address = false;
  return bus_carrier == BusCarrier::kSerialLines ? WriteOnLines(control, word_address, data)
                                                 : WriteThroughAdapter(control, word_address, data);
}

bool ReadTransaction(std::uint8_t control, std::uint8_t word_address,
                     std::span<std::uint8_t> bytes) {
  refused_after_address = false;
  return bus_carrier == BusCarrier::kSerialLines ? ReadOnLines(control, word_address, bytes)
                                                 : ReadThroughAdapter(control, word_address, bytes);
}

bool PollTransaction() {
  return bus_carrier == BusCarrier::kSerialLines ? AddressChip(kProbeControlByte)
                                                 : PollThroughAdapter();
}
