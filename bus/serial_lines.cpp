// SPDX-License-Identifier: MIT
#include "bus/serial_lines.h"

#include "platform/platform.h"
#include "timing/delay.h"

BusOptions bus_options;
std::string port_name = "COM1";

namespace {

std::int32_t Asserted(bool high, bool inverted) {
  return high != inverted ? 1 : 0;
}

}  // namespace

// The settings after the port name do not matter to the bus, which uses only
// the modem lines; "stop=0" names no stop bit count and is ignored.
std::string SerialPortMode() {
  return port_name + ": baud=9600 parity=N data=8 stop=0";
}

void OpenSerialPort() {
  OPENCOM(SerialPortMode().c_str());
}

void CloseSerialPort() {
  CLOSECOM();
}

void SdaHigh() {
  DTR(Asserted(true, bus_options.invert_sda_out));
  BitDelay();
}

void SdaLow() {
  DTR(Asserted(false, bus_options.invert_sda_out));
  BitDelay();
}

void SclHigh() {
  RTS(Asserted(true, bus_options.invert_scl));
  BitDelay();
}

void SclLow() {
  RTS(Asserted(false, bus_options.invert_scl));
  BitDelay();
}

bool ReadSda() {
  BitDelay();
  return (CTS() != 0) != bus_options.invert_sda_in;
}

bool LinesFailed() {
  return PortFailed();
}
