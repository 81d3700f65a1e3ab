// SPDX-License-Identifier: MIT
#include "bus/ch341a.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <vector>

#include "bus/bus_speed.h"

namespace {

// A command packet is the I2C stream command, sub-commands, and the end
// mark: 32 bytes at most, the size of the programmer's bulk endpoint.
constexpr std::size_t kPacketSize = 32;
constexpr std::uint8_t kStream = 0xAA;
constexpr std::uint8_t kEnd = 0x00;
// The bus speed the programmer has after power-on is not documented, so it
// is set at every opening, to bus_clock_khz: 0x60 | s, s = 0 to 3 for 20,
// 100, 400 and 750 kHz.
constexpr std::uint8_t kSpeed = 0x60;
constexpr int kSpeedsKhz[] = {20, 100, 400, 750};
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

// A write of data starts the chip's write cycle at its STOP, 5 ms on most
// chips, during which the chip refuses its address. Its answers come back
// about one round trip after that STOP, and the acknowledge polling that
// follows at once would only find the chip busy, a round trip per poll: so
// the first poll after such a write waits in the programmer (0x50 | n, n
// ms) until the usual write cycle is over. A chip that takes longer is
// polled on as before.
constexpr std::uint64_t kUsualWriteCycleUs = 5000;
constexpr std::uint64_t kRoundTripUs = 1000;
constexpr std::uint8_t kWaitMs = 0x50;
// When the answers of the latest write of data came back, while nothing
// else has gone over the bus since.
std::optional<std::uint64_t> write_answered;

std::uint8_t SpeedCommand() {
  const auto known =
      std::find(std::begin(kSpeedsKhz), std::end(kSpeedsKhz), static_cast<int>(bus_clock_khz));
  const auto field = known == std::end(kSpeedsKhz) ? 1 : known - std::begin(kSpeedsKhz);
  return static_cast<std::uint8_t>(kSpeed | field);
}

// Where one byte of a batch's answer goes: a byte read to its place in a
// message, or a byte sent's status, which says how the transfer ends if it
// is the first refused.
struct AnswerByte {
  std::uint8_t* read = nullptr;
  I2cResult refusal = I2cResult::kDone;
};

// The packets that go out one after another without waiting for an answer
// in between (their answers queue up in the programmer, in order), the one
// being filled last, and the answers' bytes in the order they come. Each
// wait for answers is a USB round trip, about 1 ms: a batch costs one
// whatever its packets, such as the nine of a 24C512's 128-byte page.
struct Packet {
  std::vector<std::vector<std::uint8_t>> sent;  // filled, not yet sent
  std::vector<std::uint8_t> bytes;
  std::size_t base = 0;  // the bytes every packet starts with
  std::vector<AnswerByte> answer;
};

void NextPacket(Packet& packet) {
  packet.bytes.assign(1, kStream);
  if (speed_due) {
    packet.bytes.push_back(SpeedCommand());
  }
  packet.base = packet.bytes.size();
}

void Begin(Packet& packet) {
  packet.sent.clear();
  packet.answer.clear();
  NextPacket(packet);
}

bool Pending(const Packet& packet) {
  return !packet.sent.empty() || packet.bytes.size() > packet.base;
}

// Closes the packet being filled and starts the next in the same batch.
void Close(Packet& packet) {
  packet.bytes.push_back(kEnd);
  packet.sent.push_back(std::move(packet.bytes));
  NextPacket(packet);
}

// Sends the batch's packets, the last of them waiting for the answers of
// all, puts the bytes read in their places and starts the next batch.
// kDone when every byte it sent was acknowledged, else the first refusal,
// or kFailed.
I2cResult Exchange(Packet& packet, std::string& reason) {
  if (packet.bytes.size() > packet.base) {
    Close(packet);
  }
  std::vector<std::uint8_t> answer(packet.answer.size());
  for (std::size_t i = 0; i < packet.sent.size(); ++i) {
    const bool last = i + 1 == packet.sent.size();
    if (!Ch341aExchange(packet.sent[i], last ? std::span(answer) : std::span<std::uint8_t>(),
                        reason)) {
      return I2cResult::kFailed;
    }
    speed_due = false;
  }
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

// Sends what the batch holds before the transfer's end. A refusal in it
// ends the transfer there, with a STOP in a packet of its own.
I2cResult SendMidway(Packet& packet, std::string& reason) {
  const I2cResult result = Exchange(packet, reason);
  if (result == I2cResult::kDone || result == I2cResult::kFailed) {
    return result;
  }
  packet.bytes.push_back(kStop);
  return Exchange(packet, reason) == I2cResult::kFailed ? I2cResult::kFailed : result;
}

// Starts the next packet of the batch when size more bytes and the end mark
// would not fit in this one. Nothing between a transfer's packets needs
// looking at before the next goes out (see SendReported), so they go out
// without waiting.
void MakeRoom(Packet& packet, std::size_t size) {
  if (packet.bytes.size() + size + 1 > kPacketSize) {
    Close(packet);
  }
}

// A byte sent with its acknowledge reported, looked at once the batch's
// answer is back. The programmer does not stop at a refused byte: what the
// batch holds after it still goes out on the bus. That is harmless to the
// chip. A chip that refuses a byte lets go of SDA and ignores the bus until
// the next START or STOP, so nothing after a refused byte is stored; and
// were a chip to refuse a data byte and still take those after it, they are
// the very bytes this write meant for the addresses they reach, all inside
// one page. A write message never shares a batch with bytes sent before it
// (see CarryMessages), so what follows a refusal in its batch is the rest
// of its own write, or a read, which changes no memory; its STOP comes
// last, as it would after a write that went through. The transfer still
// fails at the refusal, and still ends with a STOP.
void SendReported(Packet& packet, std::uint8_t byte, bool last, I2cResult refusal) {
  MakeRoom(packet, last ? 3 : 2);
  packet.bytes.push_back(kSendReported);
  packet.bytes.push_back(byte);
  packet.answer.push_back({nullptr, refusal});
  if (last) {
    packet.bytes.push_back(kStop);
  }
}

// The bytes of a read message, in as few commands as fit: each acknowledged
// but the message's last, so that the chip lets go of SDA for the repeated
// START or STOP that follows.
void QueueReads(Packet& packet, std::span<std::uint8_t> bytes, bool last) {
  for (std::size_t queued = 0; queued < bytes.size();) {
    const bool final_byte = queued + 1 == bytes.size();
    const std::size_t count = final_byte ? 1 : std::min(kLongestRead, bytes.size() - 1 - queued);
    MakeRoom(packet, final_byte && last ? 2 : 1);
    packet.bytes.push_back(static_cast<std::uint8_t>(kRead | (final_byte ? 0 : count)));
    for (std::size_t i = 0; i < count; ++i) {
      packet.answer.push_back({&bytes[queued + i], I2cResult::kDone});
    }
    queued += count;
  }
  if (last) {
    packet.bytes.push_back(kStop);
  }
}

// Each message's START goes in the packet of the address it is for, and the
// transfer's STOP with its last byte. A transfer is one batch, one round
// trip, however many packets it fills: a page of any chip, a poll, a read
// of any length. A write after another message is the one exception, a
// batch of its own after the round trip of what came before it.
I2cResult CarryMessages(Packet& packet, std::span<const I2cMessage> messages, std::string& reason) {
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const I2cMessage& message = messages[i];
    const bool last_message = i + 1 == messages.size();
    // A write after another message waits until that one's acknowledges
    // are seen, so that nothing is written behind a refusal.
    if (!message.read && Pending(packet)) {
      const I2cResult result = SendMidway(packet, reason);
      if (result != I2cResult::kDone) {
        return result;
      }
    }
    MakeRoom(packet, 3);
    packet.bytes.push_back(kStart);
    const auto address = static_cast<std::uint8_t>(message.address << 1 | (message.read ? 1 : 0));
    SendReported(packet, address, false, I2cResult::kAddressRefused);
    if (message.read) {
      QueueReads(packet, message.bytes, last_message);
    } else {
      for (std::size_t j = 0; j < message.bytes.size(); ++j) {
        const bool last = last_message && j + 1 == message.bytes.size();
        SendReported(packet, message.bytes[j], last, I2cResult::kDataRefused);
      }
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
  write_answered.reset();
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
  // A poll is a dummy write of one word-address byte (see AddressChip in
  // bus/twowire.h); a write of more bytes stores data.
  const bool single_write = messages.size() == 1 && !messages[0].read;
  const bool poll = single_write && messages[0].bytes.size() == 1;
  Packet packet;
  Begin(packet);
  if (poll && write_answered) {
    const std::uint64_t elapsed = MicrosecondCount() - *write_answered + kRoundTripUs;
    if (elapsed < kUsualWriteCycleUs) {
      // Whole milliseconds, rounded up; the poll goes in the same packet.
      const std::uint64_t wait_ms = (kUsualWriteCycleUs - elapsed + 999) / 1000;
      packet.bytes.push_back(static_cast<std::uint8_t>(kWaitMs | wait_ms));
      packet.base = packet.bytes.size();
    }
  }
  write_answered.reset();
  const I2cResult result = CarryMessages(packet, messages, reason);
  if (result == I2cResult::kDone && single_write && !poll) {
    write_answered = MicrosecondCount();
  }
  return result;
}
