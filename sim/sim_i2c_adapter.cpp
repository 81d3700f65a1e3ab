// SPDX-License-Identifier: MIT
// The system's I2C adapter, simulated: a kernel driver's bus master at
// 100 kHz with the simulated chip on its bus. A port is an I2C adapter by
// its name alone, i2c-N or any path ending in it (/dev/i2c-1); nothing real
// is opened or even looked at. Each transfer runs as a kernel driver runs
// it: a START, each message's address and bytes, a repeated START between
// messages, and one STOP; a refusal ends it at once with a STOP, and the
// result is the error number the driver would give, in the words the real
// adapter's code gives it.
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "sim/sim_parts.h"

namespace {

bool adapter_open = false;

std::uint8_t AddressByte(const I2cMessage& message) {
  return static_cast<std::uint8_t>(message.address << 1 | (message.read ? 1 : 0));
}

bool TooLong(std::span<const I2cMessage> messages, std::size_t& longest) {
  longest = 0;
  for (const I2cMessage& message : messages) {
    longest = std::max(longest, message.bytes.size());
  }
  return longest > SimSession().i2c_max;
}

// One message after its START. A message without bytes is what the kernel
// makes of it too: the address alone, then whatever follows (at the end of
// a transfer the STOP, which the chip's fault model sees).
I2cResult CarryMessage(const I2cMessage& message) {
  if (!MasterWrite(AddressByte(message))) {
    return SimSession().i2c_remoteio ? I2cResult::kDataRefused : I2cResult::kAddressRefused;
  }
  if (message.read) {
    for (std::size_t i = 0; i < message.bytes.size(); ++i) {
      message.bytes[i] = MasterRead(i + 1 < message.bytes.size());
    }
    return I2cResult::kDone;
  }
  for (const std::uint8_t byte : message.bytes) {
    if (!MasterWrite(byte)) {
      return I2cResult::kDataRefused;
    }
  }
  return I2cResult::kDone;
}

}  // namespace

bool IsI2cAdapter(const std::string& device) {
  constexpr std::string_view kStem = "i2c-";
  const std::string_view name = std::string_view(device).substr(device.rfind('/') + 1);
  const std::string_view digits = name.substr(std::min(name.size(), kStem.size()));
  return name.starts_with(kStem) && !digits.empty() && digits.size() <= 6 &&
         digits.find_first_not_of("0123456789") == std::string_view::npos;
}

// Opening again ends the session in progress first, as OPENCOM does. An
// adapter that does not open still began its session, so the chip's files
// are written as after any opening.
bool I2cAdapterOpen(const std::string& device) {
  I2cAdapterClose();
  SimAdapterOpen();
  if (SimSession().i2c_fail_at_open) {
    SimAdapterClose();
    Diagnostic("cannot open " + device + ": No such device");
    return false;
  }
  adapter_open = true;
  return true;
}

// An adapter that is gone, a message too long for it and a bus held low
// fail before anything moves on the bus, as the kernel's checks and a
// controller that cannot make its START do.
I2cResult I2cAdapterTransfer(std::span<const I2cMessage> messages, std::string& reason) {
  reason.clear();
  if (!adapter_open) {
    reason = "Bad file descriptor";
    return I2cResult::kFailed;
  }
  if (messages.empty()) {
    reason = "Invalid argument";
    return I2cResult::kFailed;
  }
  const SimConfig& session = SimSession();
  if (session.i2c_fail_at && ChipTransactions() >= *session.i2c_fail_at) {
    reason = "No such device";
    return I2cResult::kFailed;
  }
  if (std::size_t longest = 0; TooLong(messages, longest)) {
    reason = "Operation not supported (the adapter carries no message of " +
             std::to_string(longest) + " bytes)";
    return I2cResult::kTooLong;
  }
  if (!SimAdapterSda()) {
    reason = "Connection timed out (SDA or SCL held low, or another master on the bus)";
    return I2cResult::kBusError;
  }
  for (const I2cMessage& message : messages) {
    MasterStart();
    if (const I2cResult result = CarryMessage(message); result != I2cResult::kDone) {
      MasterStop();
      return result;
    }
  }
  MasterStop();
  return I2cResult::kDone;
}

void I2cAdapterClose() {
  if (adapter_open) {
    adapter_open = false;
    SimAdapterClose();
  }
}
