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

// The probe sets the bus to 100 kHz in its first packet, START and address
// with it; the word address 0 follows once acknowledged, with the STOP. A
// page is then one round trip for each of its 18 bytes, the last with the
// STOP; no packet carries a byte behind one whose acknowledge is unseen.
TEST_F(Ch341aPackets, ProbeAndPageOneByteARoundTrip) {
  Open("");
  ASSERT_EQ(opening_.size(), 2U);
  EXPECT_EQ(opening_[0].command, Bytes({0xAA, 0x61, 0x74, 0x80, 0xA8, 0x00}));
  EXPECT_EQ(opening_[1].command, Bytes({0xAA, 0x80, 0x00, 0x75, 0x00}));

  const Bytes page = Pattern(16, 0x30);
  EXPECT_TRUE(WriteTransaction(0xAA, 0x40, page));
  std::vector<Bytes> expected = {{0xAA, 0x74, 0x80, 0xAA, 0x00}, {0xAA, 0x80, 0x40, 0x00}};
  for (std::size_t i = 0; i < 15; ++i) {
    expected.push_back({0xAA, 0x80, page[i], 0x00});
  }
  expected.push_back({0xAA, 0x80, page[15], 0x75, 0x00});
  EXPECT_EQ(Sent(), expected);
  EXPECT_EQ(Answers(), std::vector<Bytes>(18, Bytes{0x00}));
  EXPECT_EQ(Bytes(SimData().begin() + 256 + 0x40, SimData().begin() + 256 + 0x50), page);
  EXPECT_EQ(SimBusLog().size(), 20U) << SimBusLogText();

  // The bus speed is set once an opening.
  SimClearBusLog();
  CloseBus();
  OpenBus();
  EXPECT_EQ(SimProgrammerPackets()[0].command, opening_[0].command);
  EXPECT_EQ(SimBusLogText(), "S A8+ 00+ P");
}

// The first refused byte ends the transaction: a STOP in a packet of its
// own, nothing of the rest sent. A refused address is kAddressRefused, a
// refused data byte kDataRefused; the transaction layer fails either way.
TEST_F(Ch341aPackets, RefusedByteGetsItsStopAndNothingMore) {
  Open("nack=1;nack=2:4");
  const Bytes page = Pattern(16, 0x01);
  EXPECT_FALSE(WriteTransaction(0xA8, 0x00, page));
  EXPECT_EQ(Sent(), std::vector<Bytes>({{0xAA, 0x74, 0x80, 0xA8, 0x00}, {0xAA, 0x75, 0x00}}));
  EXPECT_EQ(Answers(), std::vector<Bytes>({{0x80}, {}}));
  EXPECT_EQ(SimBusLogText(), "S A8- P");

  SimClearBusLog();
  std::string reason;
  Bytes message = {0x10, 0x11, 0x12, 0x13};
  const I2cMessage write{0x54, false, message};
  EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), I2cResult::kDataRefused);
  EXPECT_EQ(SimBusLogText(), "S A8+ 10+ 11+ 12- P");
  EXPECT_EQ(SimProgrammerPackets().back().command, Bytes({0xAA, 0x75, 0x00}));

  // An address alone never goes out: a message without bytes fails at once.
  const std::size_t sent = SimProgrammerPackets().size();
  const I2cMessage empty{0x54, false, {}};
  EXPECT_EQ(Ch341aTransfer(std::span(&empty, 1), reason), I2cResult::kFailed);
  EXPECT_EQ(SimProgrammerPackets().size(), sent);
}

// A block read is four round trips: the address and the word address each
// seen acknowledged, the read address after a repeated START, then all 128
// bytes in one packet of read commands of at most 31, the last byte
// unacknowledged and the STOP behind it. A read longer than one packet's
// commands goes on in the next; every packet holds at most 32 bytes.
TEST_F(Ch341aPackets, ReadsInBulkAcrossPackets) {
  const Bytes memory = Pattern(1024, 0x05);
  std::copy(memory.begin(), memory.end(), SimData().begin());
  Open("");
  Bytes block(128);
  EXPECT_TRUE(ReadTransaction(0xAC, 0x80, block));
  EXPECT_EQ(block, Bytes(memory.begin() + 640, memory.begin() + 768));
  const std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 4U);
  EXPECT_EQ(sent[0], Bytes({0xAA, 0x74, 0x80, 0xAC, 0x00}));
  EXPECT_EQ(sent[1], Bytes({0xAA, 0x80, 0x80, 0x00}));
  EXPECT_EQ(sent[2], Bytes({0xAA, 0x74, 0x80, 0xAD, 0x00}));
  Bytes reads = {0xAA};
  reads.insert(reads.end(), 4, 0xDF);  // 4 × 31 bytes acknowledged
  reads.insert(reads.end(), {0xC3, 0xC0, 0x75, 0x00});
  EXPECT_EQ(sent[3], reads);
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
  ASSERT_EQ(packets.size() - before, 3U);
  EXPECT_EQ(packets[before].command, Bytes({0xAA, 0x74, 0x80, 0xA9, 0x00}));
  EXPECT_EQ(packets[before + 1].command.size(), 32U);
  EXPECT_EQ(packets[before + 1].answer.size() + packets[before + 2].answer.size(), 1024U);
  EXPECT_TRUE(packets[before + 2].command.size() <= 32U);
  EXPECT_EQ(Bytes(packets[before + 2].command.end() - 3, packets[before + 2].command.end()),
            Bytes({0xC0, 0x75, 0x00}));
  EXPECT_EQ(SimBusLog().size(), 1024U + 3U);
}

// The /F poll while the chip stores a page: START and address, refused, and
// a STOP (two round trips); once the chip is done, the word address 0 and the
// STOP follow the acknowledge, and the address never stands alone.
TEST_F(Ch341aPackets, PollsWhileTheChipIsBusy) {
  ASSERT_TRUE(SimConfigureText("write_ms=1000"));
  OpenBus();
  opening_ = SimProgrammerPackets();
  EXPECT_TRUE(WriteTransaction(0xA8, 0x00, Pattern(16, 0x40)));
  opening_ = SimProgrammerPackets();
  SimClearBusLog();
  EXPECT_FALSE(PollTransaction());
  EXPECT_EQ(Sent(), std::vector<Bytes>({{0xAA, 0x74, 0x80, 0xA8, 0x00}, {0xAA, 0x75, 0x00}}));
  SimTimeSpend(1'000'000'000);
  opening_ = SimProgrammerPackets();
  EXPECT_TRUE(PollTransaction());
  EXPECT_EQ(Sent(),
            std::vector<Bytes>({{0xAA, 0x74, 0x80, 0xA8, 0x00}, {0xAA, 0x80, 0x00, 0x75, 0x00}}));
  EXPECT_EQ(SimBusLogText(), "S A8- P S A8+ 00+ P");
  EXPECT_EQ(SimGetCounters().address_only_writes, 0U);
}

// A programmer pulled out fails the transfer with libusb's words, and every
// one after it.
TEST_F(Ch341aPackets, UnpluggedProgrammerFailsWithTheReason) {
  Open("unplug=5");
  std::string reason;
  Bytes bytes = {0x00, 0x01, 0x02, 0x03, 0x04};
  const I2cMessage write{0x54, false, bytes};
  EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), I2cResult::kFailed);
  EXPECT_EQ(reason,
            "sending a command packet failed: No such device (it may have been disconnected)");
  EXPECT_EQ(Sent().size(), 3U);
  EXPECT_EQ(Ch341aTransfer(std::span(&write, 1), reason), I2cResult::kFailed);
}

}  // namespace
