// SPDX-License-Identifier: MIT
// The CH341A's command packets, as the transaction layer makes them, against
// the simulated programmer and chip in one process: the bytes sent, where
// one packet ends and the next begins, what the acknowledges decide, and the
// round trips each transaction costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bus/ch341a.h"
#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class Ch341aPackets : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    port_name = "ch341a";
  }
  void TearDown() override {
    CloseBus();
    SimReset();
    port_name.clear();
  }

  // Opens the bus (its probe is the first two packets) and forgets what
  // went over it so far.
  void Open(const std::string& settings) {
    ASSERT_TRUE(SimConfigureText("write_ms=0;" + settings));
    OpenBus();
    ASSERT_EQ(bus_carrier, BusCarrier::kUsbProgrammer);
    opening_ = SimProgrammerPackets();
    SimClearBusLog();
  }

  // The packets sent since the bus opened, and their answers.
  std::vector<Bytes> Sent() const {
    std::vector<Bytes> sent;
    for (std::size_t i = opening_.size(); i < SimProgrammerPackets().size(); ++i) {
      sent.push_back(SimProgrammerPackets()[i].command);
    }
    return sent;
  }
  std::vector<Bytes> Answers() const {
    std::vector<Bytes> answers;
    for (std::size_t i = opening_.size(); i < SimProgrammerPackets().size(); ++i) {
      answers.push_back(SimProgrammerPackets()[i].answer);
    }
    return answers;
  }

  std::vector<SimPacket> opening_;
};

Bytes Pattern(std::size_t size, std::uint8_t first) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(first + 7 * i);
  }
  return bytes;
}

// The bytes of n data bytes sent each with its acknowledge reported.
Bytes Reported(std::span<const std::uint8_t> data) {
  Bytes commands;
  for (const std::uint8_t byte : data) {
    commands.insert(commands.end(), {0x80, byte});
  }
  return commands;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The probe is one packet that also sets the bus to 100 kHz: START, the
// address and the word address 0, each reported, and the STOP. A page is
// two: as many of its bytes as the first holds (12 of 16), the rest with the
// STOP; the answers are the bytes' acknowledges.
TEST_F(Ch341aPackets, ProbeAndPageInAsFewPacketsAsFit) {
  Open("");
  ASSERT_EQ(opening_.size(), 1U);
  EXPECT_EQ(opening_[0].command, Bytes({0xAA, 0x61, 0x74, 0x80, 0xA8, 0x80, 0x00, 0x75, 0x00}));

  const Bytes page = Pattern(16, 0x30);
  EXPECT_TRUE(WriteTransaction(0xAA, 0x40, 1, page));
  const std::span<const std::uint8_t> data(page);
  EXPECT_EQ(Sent(),
            std::vector<Bytes>({
                Concat({{0xAA, 0x74, 0x80, 0xAA, 0x80, 0x40}, Reported(data.first(12)), {0x00}}),
                Concat({{0xAA}, Reported(data.subspan(12)), {0x75, 0x00}}),
            }));
  EXPECT_EQ(Sent()[0].size(), 31U);
  EXPECT_EQ(Answers(), std::vector<Bytes>({Bytes(14, 0x00), Bytes(4, 0x00)}));
  EXPECT_EQ(Bytes(SimData().begin() + 256 + 0x40, SimData().begin() + 256 + 0x50), page);
  EXPECT_EQ(SimBusLog().size(), 20U) << SimBusLogText();

  // The bus speed is set once an opening.
  SimClearBusLog();
  CloseBus();
  OpenBus();
  EXPECT_EQ(SimProgrammerPackets()[0].command, opening_[0].command);
  EXPECT_EQ(SimBusLogText(), "S A8+ 00+ P");
}

// A refused byte fails the transfer however far into a packet it lies. The
// rest of its packet has gone out to a chip that no longer listens, and
// stores nothing of it; the transfer then ends with a STOP, in a packet of
// its own unless its packet held it already. A write message after another
// waits for that one's acknowledges, and goes nowhere behind a refusal.
TEST_F(Ch341aPackets, RefusedByteFailsTheTransferWhichEndsWithAStop) {
  const struct {
    const char* nack;  // byte 1 the address, 2 the word address, 3 the first data byte
    I2cResult result;
    std::ptrdiff_t stored;  // bytes of the page stored, from its start
  } cases[] = {
      {"nack=1:1", I2cResult::kAddressRefused, 0},
      {"nack=1:2", I2cResult::kDataRefused, 0},
      {"nack=1:5", I2cResult::kDataRefused, 2},
      {"nack=1:14", I2cResult::kDataRefused, 11},
  };
  Bytes page = Pattern(16, 0x01);
  Bytes bytes = Concat({{0x00}, page});
  const I2cMessage write{0x54, false, bytes};
  std::string reason;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nack);
    SimReset();
    Open(c.nack);
    EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), c.result);
    ASSERT_EQ(Sent().size(), 2U);
    EXPECT_EQ(Sent().back().end()[-2], 0x75);
    EXPECT_EQ(Bytes(SimData().begin(), SimData().begin() + 16),
              Concat({Bytes(page.begin(), page.begin() + c.stored),
                      Bytes(static_cast<std::size_t>(16 - c.stored), 0xFF)}));
    EXPECT_TRUE(SimBusLogText().ends_with("- P")) << SimBusLogText();
  }

  // In the last packet: its own STOP ends the transfer.
  SimReset();
  Open("nack=1:18");
  EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), I2cResult::kDataRefused);
  ASSERT_EQ(Sent().size(), 2U);
  EXPECT_EQ(Answers()[1], Bytes({0x00, 0x00, 0x00, 0x80}));
  EXPECT_EQ(SimData()[15], 0xFF);

  SimReset();
  Open("nack=1:2");
  Bytes word = {0x00};
  Bytes more = {0x10, 0x11};
  const I2cMessage writes[] = {{0x54, false, word}, {0x54, false, more}};
  EXPECT_EQ(Ch341aTransfer(writes, reason), I2cResult::kDataRefused);
  EXPECT_EQ(SimBusLogText(), "S A8+ 00- P");

  // An address alone never goes out: a message without bytes fails at once.
  const std::size_t sent = SimProgrammerPackets().size();
  const I2cMessage empty{0x54, false, {}};
  EXPECT_EQ(Ch341aTransfer(std::span(&empty, 1), reason), I2cResult::kFailed);
  EXPECT_EQ(SimProgrammerPackets().size(), sent);
}

// A 128-byte block read is one round trip: the address and word address
// reported, the read address after a repeated START, the bytes read in
// commands of at most 31, the last unacknowledged, and the STOP. A read
// longer than a packet's commands goes on in the next; none holds more
// than 32 bytes.
TEST_F(Ch341aPackets, ReadsInBulk) {
  const Bytes memory = Pattern(1024, 0x05);
  std::copy(memory.begin(), memory.end(), SimData().begin());
  Open("");
  Bytes block(128);
  EXPECT_TRUE(ReadTransaction(0xAC, 0x80, 1, block));
  EXPECT_EQ(block, Bytes(memory.begin() + 512 + 128, memory.begin() + 768));
  EXPECT_EQ(Sent(), std::vector<Bytes>({{0xAA, 0x74, 0x80, 0xAC, 0x80, 0x80, 0x74, 0x80, 0xAD, 0xDF,
                                         0xDF, 0xDF, 0xDF, 0xC3, 0xC0, 0x75, 0x00}}));
  EXPECT_EQ(Answers()[0].size(), 3U + 128U);
  const std::string log = SimBusLogText();
  EXPECT_TRUE(log.starts_with("S AC+ 80+ S AD+ ")) << log;
  EXPECT_TRUE(log.ends_with("- P")) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '-'), 1) << log;

  SimClearBusLog();
  const std::size_t before = SimProgrammerPackets().size();
  Bytes whole(1024);
  std::string reason;
  const I2cMessage read{0x54, true, whole};
  EXPECT_EQ(Ch341aTransfer(std::span(&read, 1), reason), I2cResult::kDone);
  // A current-address read: on from where the block read left the counter,
  // wrapping at the end of that block, over and over.
  for (std::size_t i = 0; i < whole.size(); ++i) {
    ASSERT_EQ(whole[i], memory[640 + i % 128]) << i;
  }
  const std::vector<SimPacket>& packets = SimProgrammerPackets();
  ASSERT_EQ(packets.size() - before, 2U);
  EXPECT_EQ(packets[before].command.size(), 32U);
  EXPECT_EQ(packets[before].answer.size() + packets[before + 1].answer.size(), 1U + 1024U);
  EXPECT_EQ(Bytes(packets[before + 1].command.end() - 3, packets[before + 1].command.end()),
            Bytes({0xC0, 0x75, 0x00}));
  EXPECT_EQ(SimBusLog().size(), 1024U + 3U);
}

// The /F poll while the chip stores a page is one round trip: START, the
// address refused, the word address 0 to a chip that does not listen, the
// STOP. Once the chip is done, the same packet finds it; the address never
// stands alone. A read while it is busy fails in its one packet.
TEST_F(Ch341aPackets, PollsWhileTheChipIsBusy) {
  ASSERT_TRUE(SimConfigureText("write_ms=1000"));
  OpenBus();
  EXPECT_TRUE(WriteTransaction(0xA8, 0x00, 1, Pattern(16, 0x40)));
  opening_ = SimProgrammerPackets();
  SimClearBusLog();
  const Bytes poll = {0xAA, 0x74, 0x80, 0xA8, 0x80, 0x00, 0x75, 0x00};
  EXPECT_FALSE(PollTransaction());
  Bytes block(128);
  EXPECT_FALSE(ReadTransaction(0xA8, 0x00, 1, block));
  SimTimeSpend(1'000'000'000);
  EXPECT_TRUE(PollTransaction());
  const std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 3U);
  EXPECT_EQ(Bytes(sent[0].begin() + 2, sent[0].end()), Bytes(poll.begin() + 1, poll.end()));
  EXPECT_EQ(sent[2], poll);
  EXPECT_EQ(Answers()[0], Bytes({0x80, 0x80}));
  EXPECT_TRUE(SimBusLogText().starts_with("S A8- 00- P S A8- 00- S A9- FF+")) << SimBusLogText();
  EXPECT_TRUE(SimBusLogText().ends_with("P S A8+ 00+ P")) << SimBusLogText();
  EXPECT_EQ(SimGetCounters().address_only_writes, 0U);
}

// A programmer pulled out fails the transfer with libusb's words, and every
// one after it.
TEST_F(Ch341aPackets, UnpluggedProgrammerFailsWithTheReason) {
  Open("unplug=2");
  std::string reason;
  Bytes bytes = Pattern(17, 0);
  const I2cMessage write{0x54, false, bytes};
  EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), I2cResult::kFailed);
  EXPECT_EQ(reason,
            "sending a command packet failed: No such device (it may have been disconnected)");
  EXPECT_EQ(Sent().size(), 1U);
  EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), I2cResult::kFailed);
}

}  // namespace
