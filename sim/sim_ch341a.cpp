// SPDX-License-Identifier: MIT
// The CH341A programmer, simulated: ebrilo-sim's programmer operations. Each
// command packet is run as the device runs it, one sub-command after
// another, by the adapters' bus master against the simulated chip, and its
// round trip over USB costs its time on the simulated clock. With two
// programmers plugged in, the chip sits in the first one's socket and the
// second's is empty.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ch341a_names.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

constexpr std::size_t kPacketSize = 32;
constexpr std::uint8_t kStream = 0xAA;
constexpr std::uint8_t kEnd = 0x00;
constexpr std::uint8_t kStart = 0x74;
constexpr std::uint8_t kStop = 0x75;
// The speed field's clocks: 0x60 | s, s = 0 to 3.
constexpr int kSpeedsKhz[] = {20, 100, 400, 750};
constexpr std::uint8_t kRefused = 0x80;

// Where the programmers are on the simulated USB, in the listing's order.
constexpr std::string_view kPlaces[] = {"1-1", "1-4.2"};

// What libusb says of a device that was pulled out.
constexpr std::string_view kGone = "No such device (it may have been disconnected)";

bool opened = false;
std::string_view place = kPlaces[0];
std::uint32_t packets_sent = 0;
// The programmer's bus speed is unknown until a packet sets it.
int speed = -1;
std::vector<SimPacket> packet_log;
// The answers of the packets sent since the program last read them, which
// the programmer keeps in order until it does.
std::vector<std::uint8_t> unread;

void StartSession(bool chip_in_socket) {
  SimAdapterOpen();
  if (!chip_in_socket) {
    // The chip sits in another programmer's socket, so nothing answers on
    // this bus. Nothing has moved on it since the session began.
    SimConfig empty_socket = SimSession();
    empty_socket.chip_absent = true;
    ChipAttach(empty_socket);
  }
  packet_log.clear();
  unread.clear();
  packets_sent = 0;
  speed = -1;
  opened = true;
}

std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// 0x80 | n sends the n bytes after it; 0x80 alone sends one and reports its
// acknowledge: 0x00, or bit 7 set when it was refused.
bool Send(std::uint8_t code, std::span<const std::uint8_t> command, std::size_t& at,
          std::vector<std::uint8_t>& answer, std::string& reason) {
  const std::size_t count = (code & 0x3F) == 0 ? 1 : code & 0x3Fu;
  if (command.size() - at < count) {
    reason = "a send command cut short by the packet's end";
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const bool acknowledged = MasterWrite(command[at + i]);
    if ((code & 0x3F) == 0) {
      answer.push_back(acknowledged ? 0x00 : kRefused);
    }
  }
  at += count;
  return true;
}

// 0xC0 | n reads n bytes, acknowledging each; 0xC0 alone reads one and
// leaves it unacknowledged.
void Receive(std::uint8_t code, std::vector<std::uint8_t>& answer) {
  const int count = code & 0x3F;
  if (count == 0) {
    answer.push_back(MasterRead(false));
  }
  for (int i = 0; i < count; ++i) {
    answer.push_back(MasterRead(true));
  }
}

bool BusCommand(std::uint8_t code, std::span<const std::uint8_t> command, std::size_t& at,
                std::vector<std::uint8_t>& answer, std::string& reason) {
  if (speed < 0) {
    reason = "a bus command before the bus speed was set";
    return false;
  }
  if (code == kStart) {
    MasterStart();
  } else if (code == kStop) {
    MasterStop();
  } else if ((code & 0xC0) == 0x80) {
    return Send(code, command, at, answer, reason);
  } else if ((code & 0xC0) == 0xC0) {
    Receive(code, answer);
  } else {
    reason = "an unknown command " + Hex(code);
    return false;
  }
  return true;
}

bool Interpret(std::span<const std::uint8_t> command, std::vector<std::uint8_t>& answer,
               std::string& reason) {
  if (command.size() > kPacketSize) {
    reason = "a command packet of " + std::to_string(command.size()) + " bytes (at most 32)";
    return false;
  }
  if (command.empty() || command[0] != kStream) {
    reason = "a packet that is not an I2C command stream";
    return false;
  }
  for (std::size_t at = 1; at < command.size();) {
    const std::uint8_t code = command[at++];
    if (code == kEnd) {
      if (at != command.size()) {
        reason = "bytes after the end of the command stream";
        return false;
      }
      return true;
    }
    if ((code & 0xFC) == 0x60) {
      speed = code & 0x03;
      MasterClock(kSpeedsKhz[speed]);
    } else if ((code & 0xF0) == 0x40) {
      SimTimeSpend(std::int64_t{code & 0x0F} * 1000);
    } else if ((code & 0xF0) == 0x50) {
      SimTimeSpend(std::int64_t{code & 0x0F} * 1'000'000);
    } else if (!BusCommand(code, command, at, answer, reason)) {
      return false;
    }
  }
  reason = "a command stream without its end mark";
  return false;
}

}  // namespace

bool SimProgrammerRun(std::span<const std::uint8_t> command, std::vector<std::uint8_t>& answer,
                      std::string& reason) {
  answer.clear();
  const bool run = Interpret(command, answer, reason);
  packet_log.push_back({{command.begin(), command.end()}, answer});
  if (!run) {
    reason = "simulated programmer: " + reason;
  }
  return run;
}

const std::vector<SimPacket>& SimProgrammerPackets() {
  return packet_log;
}

void SimProgrammerOpen() {
  place = kPlaces[0];
  StartSession(true);
}

void SimProgrammerClose() {
  Ch341aClose();
}

bool Ch341aOpen(std::string_view selector) {
  const SimConfig config = SimConfigInUse();
  const auto chosen = Ch341aChosenPlace(selector);
  for (std::uint32_t i = 0; i < config.programmers && i < std::size(kPlaces); ++i) {
    if (!chosen || *chosen == kPlaces[i]) {
      place = kPlaces[i];
      StartSession(i == 0);
      return true;
    }
  }
  Diagnostic(Ch341aNotFoundText(chosen, {}));
  return false;
}

std::string Ch341aName() {
  return Ch341aPortName(place);
}

// The packet goes out and the bus runs its commands; its answer waits with
// those of the packets before it until the program reads them all, which
// costs one round trip, unless the programmer is gone.
bool Ch341aExchange(std::span<const std::uint8_t> packet, std::span<std::uint8_t> reply,
                    std::string& reason) {
  const SimConfig& config = SimSession();
  if (config.unplug_at && packets_sent >= *config.unplug_at) {
    reason = "sending a command packet failed: " + std::string(kGone);
    return false;
  }
  ++packets_sent;
  std::vector<std::uint8_t> answer;
  if (!SimProgrammerRun(packet, answer, reason)) {
    return false;
  }
  unread.insert(unread.end(), answer.begin(), answer.end());
  if (reply.empty()) {
    return true;
  }
  packet_log.back().answered = true;
  SimTimeSpend(std::int64_t{config.round_trip_us} * 1000);
  if (unread.size() != reply.size()) {
    reason = "simulated programmer: " + std::to_string(unread.size()) + " bytes answered where " +
             std::to_string(reply.size()) + " were asked for";
    return false;
  }
  std::copy(unread.begin(), unread.end(), reply.begin());
  unread.clear();
  return true;
}

void Ch341aClose() {
  if (opened) {
    opened = false;
    SimAdapterClose();
  }
}

std::vector<SerialPortInfo> ListCh341aProgrammers() {
  const SimConfig config = SimConfigInUse();
  std::vector<SerialPortInfo> programmers;
  for (std::uint32_t i = 0; i < config.programmers && i < std::size(kPlaces); ++i) {
    programmers.push_back({Ch341aPortName(kPlaces[i]), "(simulated)",
                           std::string("CH341A programmer, USB 1a86:5512, ") +
                               (i == 0 ? "the simulated chip in its socket" : "its socket empty")});
  }
  return programmers;
}
