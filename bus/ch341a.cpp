// SPDX-License-Identifier: MIT
#include "bus/ch341a.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace {

// A command packet is the I2C stream command, sub-commands, and the end
// mark: 32 bytes at most, the size of the programmer's bulk endpoint.
constexpr std::size_t kPacketSize = 32;
constexpr std::uint8_t kStream = 0xAA;
constexpr std::uint8_t kEnd = 0x00;
// The bus speed the programmer has after power-on is not documented, so it
// is set at every opening: 100 kHz, standard mode, which the 24RF08 takes at
// every supply voltage.
constexpr std::uint8_t kSpeed100kHz = 0x61;
constexpr std::uint8_t kStart = 0x74;  // also the repeated START
constexpr std::uint8_t kStop = 0x75;
// 0x80 and one byte: the byte is sent and one status byte comes back, bit 7
// set when the byte was not acknowledged.
constexpr std::uint8_t kSendReported = 0x80;
constexpr std::uint8_t kRefused = 0x80;
// 0xC0 | n reads n bytes and acknowledges each; 0xC0 alone reads one byte
// and leaves it unacknowledged, as the last byte of a read must be.
constexpr std::uint8_t kRead = 0xC0;
// How wide the count field is differs between accounts of the device: 31
// fits in five bits, so no reading of it can take the count for a longer one
// or for another command.
constexpr std::size_t kLongestRead = 31;

// Set by each opening, cleared once a packet carried the speed.
bool speed_due = false;

// A packet being filled, and where each byte of its answer goes: the bytes
// read to their places in the messages, then at most one status byte (a
// packet ends at the first byte sent with a report).
struct Packet {
  std::vector<std::uint8_t> bytes;
  std::size_t base = 0;  // the bytes every packet starts with
  std::vector<std::uint8_t*> reads;
  bool reported = false;
};

void Begin(Packet& packet) {
  packet.bytes.assign(1, kStream);
  if (speed_due) {
    packet.bytes.push_back(kSpeed100kHz);
  }
  packet.base = packet.bytes.size();
  packet.reads.clear();
  packet.reported = false;
}

bool Pending(const Packet& packet) {
  return packet.bytes.size() > packet.base;
}

// Sends the packet, hands out its answer and starts the next one. status is
// the reported byte's, or 0.
bool Exchange(Packet& packet, std::uint8_t& status, std::string& reason) {
  packet.bytes.push_back(kEnd);
  std::vector<std::uint8_t> answer(packet.reads.size() + (packet.reported ? 1 : 0));
  if (!Ch341aExchange(packet.bytes, answer, reason)) {
    return false;
  }
  speed_due = false;
  for (std::size_t i = 0; i < packet.reads.size(); ++i) {
    *packet.reads[i] = answer[i];
  }
  status = packet.reported ? answer.back() : 0;
  Begin(packet);
  return true;
}

// Sends what the packet holds when size more bytes and the end mark would
// not fit. It holds no reported byte: those are sent at once.
bool MakeRoom(Packet& packet, std::size_t size, std::string& reason) {
  std::uint8_t status = 0;
  return packet.bytes.size() + size + 1 <= kPacketSize || Exchange(packet, status, reason);
}

// One byte with its report, in the packet with whatever went before it. The
// transfer's last byte takes the STOP along, which follows it whatever the
// answer. Any other byte is the packet's last: the programmer does not stop
// after a refused byte, so nothing may wait behind it, and a refused byte
// then gets its STOP in a packet of its own.
I2cResult SendReported(Packet& packet, std::uint8_t byte, bool last, I2cResult refusal,
                       std::string& reason) {
  if (!MakeRoom(packet, last ? 3 : 2, reason)) {
    return I2cResult::kFailed;
  }
  packet.bytes.push_back(kSendReported);
  packet.bytes.push_back(byte);
  if (last) {
    packet.bytes.push_back(kStop);
  }
  packet.reported = true;
  std::uint8_t status = 0;
  if (!Exchange(packet, status, reason)) {
    return I2cResult::kFailed;
  }
  if ((status & kRefused) == 0) {
    return I2cResult::kDone;
  }
  if (!last) {
    packet.bytes.push_back(kStop);
    if (!Exchange(packet, status, reason)) {
      return I2cResult::kFailed;
    }
  }
  return refusal;
}

// The bytes of a read message, queued in as few commands as fit: each
// acknowledged but the message's last, so that the chip lets go of SDA for
// the repeated START or STOP that follows. Nothing is reported, so nothing
// needs to be seen before the next command; the last message's STOP follows.
bool QueueReads(Packet& packet, std::span<std::uint8_t> bytes, bool last, std::string& reason) {
  std::size_t queued = 0;
  while (queued + 1 < bytes.size()) {
    const std::size_t count = std::min(kLongestRead, bytes.size() - 1 - queued);
    if (!MakeRoom(packet, 1, reason)) {
      return false;
    }
    packet.bytes.push_back(static_cast<std::uint8_t>(kRead | count));
    for (std::size_t i = 0; i < count; ++i) {
      packet.reads.push_back(&bytes[queued + i]);
    }
    queued += count;
  }
  if (!MakeRoom(packet, last ? 2 : 1, reason)) {
    return false;
  }
  packet.bytes.push_back(kRead);
  packet.reads.push_back(&bytes.back());
  if (last) {
    packet.bytes.push_back(kStop);
  }
  return true;
}

I2cResult CarryMessages(Packet& packet, std::span<const I2cMessage> messages, std::string& reason) {
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const I2cMessage& message = messages[i];
    const bool last_message = i + 1 == messages.size();
    // The START goes in the packet of the address it is for.
    if (!MakeRoom(packet, 3, reason)) {
      return I2cResult::kFailed;
    }
    packet.bytes.push_back(kStart);
    const auto address = static_cast<std::uint8_t>(message.address << 1 | (message.read ? 1 : 0));
    I2cResult result = SendReported(packet, address, false, I2cResult::kAddressRefused, reason);
    if (result != I2cResult::kDone) {
      return result;
    }
    if (message.read) {
      if (!QueueReads(packet, message.bytes, last_message, reason)) {
        return I2cResult::kFailed;
      }
      continue;
    }
    for (std::size_t j = 0; j < message.bytes.size(); ++j) {
      const bool last = last_message && j + 1 == message.bytes.size();
      result = SendReported(packet, message.bytes[j], last, I2cResult::kDataRefused, reason);
      if (result != I2cResult::kDone) {
        return result;
      }
    }
  }
  std::uint8_t status = 0;
  return !Pending(packet) || Exchange(packet, status, reason) ? I2cResult::kDone
                                                              : I2cResult::kFailed;
}

}  // namespace

bool IsProgrammerName(std::string_view name) {
  constexpr std::string_view kKeyword = "ch341a";
  return name.size() >= kKeyword.size() &&
         std::equal(
             kKeyword.begin(), kKeyword.end(), name.begin(),
             [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }) &&
         (name.size() == kKeyword.size() || name[kKeyword.size()] == ':');
}

bool Ch341aBusOpen(std::string_view name) {
  speed_due = true;
  return Ch341aOpen(name);
}

// A message without bytes would put an address alone on the bus: a write
// address followed at once by a STOP is what corrupts the 24RF08.
I2cResult Ch341aTransfer(std::span<const I2cMessage> messages, std::string& reason) {
  reason.clear();
  if (messages.empty() ||
      std::any_of(messages.begin(), messages.end(),
                  [](const I2cMessage& message) { return message.bytes.empty(); })) {
    reason = "a transfer with an empty message";
    return I2cResult::kFailed;
  }
  Packet packet;
  Begin(packet);
  return CarryMessages(packet, messages, reason);
}
