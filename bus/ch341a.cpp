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
// is set at every opening: 100 kHz, the bus's standard mode, which every
// I2C chip takes; the 24RF08's datasheets give no faster clock per supply.
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

// Where one byte of a packet's answer goes: a byte read to its place in a
// message, or a byte sent's status, which says how the transfer ends if it
// is the first refused.
struct AnswerByte {
  std::uint8_t* read = nullptr;
  I2cResult refusal = I2cResult::kDone;
};

// A packet being filled, and its answer's bytes in the order they come.
struct Packet {
  std::vector<std::uint8_t> bytes;
  std::size_t base = 0;  // the bytes every packet starts with
  std::vector<AnswerByte> answer;
};

void Begin(Packet& packet) {
  packet.bytes.assign(1, kStream);
  if (speed_due) {
    packet.bytes.push_back(kSpeed100kHz);
  }
  packet.base = packet.bytes.size();
  packet.answer.clear();
}

bool Pending(const Packet& packet) {
  return packet.bytes.size() > packet.base;
}

// Sends the packet, puts the bytes read in their places and starts the next
// packet. kDone when every byte it sent was acknowledged, else the first
// refusal, or kFailed.
I2cResult Exchange(Packet& packet, std::string& reason) {
  packet.bytes.push_back(kEnd);
  std::vector<std::uint8_t> answer(packet.answer.size());
  if (!Ch341aExchange(packet.bytes, answer, reason)) {
    return I2cResult::kFailed;
  }
  speed_due = false;
  I2cResult result = I2cResult::kDone;
  for (std::size_t i = 0; i < answer.size(); ++i) {
    const AnswerByte& to = packet.answer[i];
    if (to.read != nullptr) {
      *to.read = answer[i];
    } else if (result == I2cResult::kDone && (answer[i] & kRefused) != 0) {
      result = to.refusal;
    }
  }
  Begin(packet);
  return result;
}

// Sends what the packet holds before the transfer's end. A refusal in it
// ends the transfer there, with a STOP in a packet of its own.
I2cResult SendMidway(Packet& packet, std::string& reason) {
  const I2cResult result = Exchange(packet, reason);
  if (result == I2cResult::kDone || result == I2cResult::kFailed) {
    return result;
  }
  packet.bytes.push_back(kStop);
  return Exchange(packet, reason) == I2cResult::kFailed ? I2cResult::kFailed : result;
}

// Sends what the packet holds when size more bytes and the end mark would
// not fit. kDone when the transfer goes on.
I2cResult MakeRoom(Packet& packet, std::size_t size, std::string& reason) {
  return packet.bytes.size() + size + 1 <= kPacketSize ? I2cResult::kDone
                                                       : SendMidway(packet, reason);
}

// A byte sent with its acknowledge reported, looked at once the packet's
// answer is back. The programmer does not stop at a refused byte: what the
// packet holds after it still goes out on the bus. That is harmless to the
// chip. A chip that refuses a byte lets go of SDA and ignores the bus until
// the next START or STOP, so nothing after a refused byte is stored; and
// were a chip to refuse a data byte and still take those after it, they are
// the very bytes this write meant for the addresses they reach, all inside
// one page. A write message never shares a packet with bytes sent before it
// (see CarryMessages), so what follows a refusal in its packet is the rest
// of its own write, or a read, which changes no memory. The transfer still
// fails at the refusal, and still ends with a STOP.
I2cResult SendReported(Packet& packet, std::uint8_t byte, bool last, I2cResult refusal,
                       std::string& reason) {
  const I2cResult room = MakeRoom(packet, last ? 3 : 2, reason);
  if (room != I2cResult::kDone) {
    return room;
  }
  packet.bytes.push_back(kSendReported);
  packet.bytes.push_back(byte);
  packet.answer.push_back({nullptr, refusal});
  if (last) {
    packet.bytes.push_back(kStop);
  }
  return I2cResult::kDone;
}

// The bytes of a read message, in as few commands as fit: each acknowledged
// but the message's last, so that the chip lets go of SDA for the repeated
// START or STOP that follows.
I2cResult QueueReads(Packet& packet, std::span<std::uint8_t> bytes, bool last,
                     std::string& reason) {
  for (std::size_t queued = 0; queued < bytes.size();) {
    const bool final_byte = queued + 1 == bytes.size();
    const std::size_t count = final_byte ? 1 : std::min(kLongestRead, bytes.size() - 1 - queued);
    const I2cResult room = MakeRoom(packet, final_byte && last ? 2 : 1, reason);
    if (room != I2cResult::kDone) {
      return room;
    }
    packet.bytes.push_back(static_cast<std::uint8_t>(kRead | (final_byte ? 0 : count)));
    for (std::size_t i = 0; i < count; ++i) {
      packet.answer.push_back({&bytes[queued + i], I2cResult::kDone});
    }
    queued += count;
  }
  if (last) {
    packet.bytes.push_back(kStop);
  }
  return I2cResult::kDone;
}

// Each message's START goes in the packet of the address it is for, and the
// transfer's STOP with its last byte: a transfer that fits one packet, as
// every 24RF08 page, poll and block read does, is one round trip.
I2cResult CarryMessages(Packet& packet, std::span<const I2cMessage> messages, std::string& reason) {
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const I2cMessage& message = messages[i];
    const bool last_message = i + 1 == messages.size();
    // A write after another message waits until that one's acknowledges
    // are seen, so that nothing is written behind a refusal.
    I2cResult result =
        !message.read && Pending(packet) ? SendMidway(packet, reason) : I2cResult::kDone;
    if (result == I2cResult::kDone) {
      result = MakeRoom(packet, 3, reason);
    }
    if (result != I2cResult::kDone) {
      return result;
    }
    packet.bytes.push_back(kStart);
    const auto address = static_cast<std::uint8_t>(message.address << 1 | (message.read ? 1 : 0));
    result = SendReported(packet, address, false, I2cResult::kAddressRefused, reason);
    if (message.read) {
      if (result == I2cResult::kDone) {
        result = QueueReads(packet, message.bytes, last_message, reason);
      }
    } else {
      for (std::size_t j = 0; result == I2cResult::kDone && j < message.bytes.size(); ++j) {
        const bool last = last_message && j + 1 == message.bytes.size();
        result = SendReported(packet, message.bytes[j], last, I2cResult::kDataRefused, reason);
      }
    }
    if (result != I2cResult::kDone) {
      return result;
    }
  }
  return Exchange(packet, reason);
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
