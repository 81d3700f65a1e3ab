// SPDX-License-Identifier: MIT
// The program's own bus protocol and EEPROM transactions against the
// simulated circuit and chip, in one process. The tick counter is the fake,
// so the waits pass at once; the chip's write cycle is set to zero to match.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "bus/twowire.h"
#include "eeprom/chip_search.h"
#include "eeprom/chips.h"
#include "eeprom/readers.h"
#include "eeprom/transactions.h"
#include "eeprom/writers.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "sim/sim_parts.h"
#include "tests/fakes/fake_clock.h"
#include "tests/first_difference.h"
#include "timing/delay.h"

namespace {

class SimBus : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_options = {};
    delay_count = 0;
    last_control_byte = 0;
    last_word_address = 0;
    position = 0;
    ignore_errors = false;
    ack_polling = false;
    FakeClockReset();
    SimReset();
  }
  void TearDown() override {
    CLOSECOM();
    SimReset();
  }

  // Opens the simulated port with these settings and leaves the bus idle.
  // Without a probe first, the first transaction is number 0.
  void Open(const std::string& settings) {
    OpenWithWriteCycle("write_ms=0;" + settings);
  }

  // The same with the chip's write cycle as the settings give it (5 ms by
  // default), in real time.
  void OpenWithWriteCycle(const std::string& settings) {
    ASSERT_TRUE(SimConfigureText(settings));
    OPENCOM("COM1: baud=9600 parity=N data=8 stop=0");
    SdaHigh();
    SclHigh();
    SimClearBusLog();
  }
};

TEST_F(SimBus, StartByteAndStop) {
  Open("");
  SendStart();
  EXPECT_TRUE(SendByte(0xA8));
  EXPECT_TRUE(SendByte(0x05));
  SendStop();
  // Nobody answers at another device address.
  SendStart();
  EXPECT_FALSE(SendByte(0xA0));
  SendStop();
  EXPECT_EQ(SimBusLogText(), "S A8+ 05+ P S A0- P");
}

// The control byte carries the block, the word address the low eight bits.
TEST_F(SimBus, ByteWritesAtTheBlockBoundaries) {
  Open("");
  struct Case {
    std::uint16_t address;
    std::uint8_t control;
    std::uint8_t word;
  };
  const Case cases[] = {
      {0, 168, 0}, {255, 168, 255}, {256, 170, 0}, {767, 172, 255}, {1023, 174, 255}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    SimClearBusLog();
    const auto value = static_cast<std::uint8_t>(c.address % 251);
    EXPECT_TRUE(WriteEepromByte(c.address, value));
    EXPECT_EQ(last_control_byte, c.control);
    EXPECT_EQ(last_word_address, c.word);
    EXPECT_EQ(SimData()[c.address], value);
    EXPECT_EQ(SimBusLog().size(), 5U) << SimBusLogText();
  }
}

// A refused control byte ends the transaction at once; the bookkeeping
// still names it.
TEST_F(SimBus, RefusedControlByteSendsNothingMore) {
  Open("nack=0");
  EXPECT_FALSE(WriteEepromByte(300, 0x12));
  EXPECT_EQ(SimBusLogText(), "S AA- P");
  EXPECT_EQ(last_control_byte, 170);
  EXPECT_EQ(last_word_address, 44);
  EXPECT_EQ(SimData()[300], 0xFF);
}

// The fifth data byte of a page is refused: five data bytes went out.
TEST_F(SimBus, PageStopsAtTheFirstRefusedByte) {
  Open("nack=0:7");
  std::array<std::uint8_t, 16> page{};
  for (std::size_t i = 0; i < page.size(); ++i) {
    page[i] = static_cast<std::uint8_t>(0x10 + i);
  }
  EXPECT_FALSE(WritePage(32, 16, page));
  EXPECT_EQ(SimBusLogText(), "S A8+ 20+ 10+ 11+ 12+ 13+ 14- P");
}

TEST_F(SimBus, PageWriteIsStoredWhole) {
  Open("");
  std::array<std::uint8_t, 16> page{};
  page.fill(0x5A);
  EXPECT_TRUE(WritePage(1008, 16, page));
  EXPECT_EQ(last_control_byte, 174);
  EXPECT_EQ(last_word_address, 240);
  for (int address = 1008; address < 1024; ++address) {
    EXPECT_EQ(SimData()[static_cast<std::size_t>(address)], 0x5A);
  }
  EXPECT_EQ(SimData()[1007], 0xFF);
}

TEST_F(SimBus, AppRegisterWrite) {
  Open("");
  EXPECT_TRUE(WriteAppRegister(3, 0xFF));
  EXPECT_EQ(SimBusLogText(), "S B8+ 03+ FF+ P");
  EXPECT_EQ(SimAppRegisters()[3], 0xFF);
  EXPECT_EQ(SimAppRegisters()[2], 0x00);
}

// The loop-back check passes only where switches and wiring agree.
TEST_F(SimBus, CircuitCheck) {
  struct Case {
    const char* settings;
    bool invert_sda_in;
    bool passes;
  };
  const Case cases[] = {
      {"", false, true},
      {"", true, false},
      {"invert=cts", true, true},
      {"invert=cts", false, false},
      {"circuit=none", false, false},
      {"circuit=none", true, false},
      {"circuit=loopback", false, true},
      {"circuit=loopback", true, false},
      {"port_fail=open", false, false},
      {"port_fail=open", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.settings) + (c.invert_sda_in ? " with /I" : ""));
    bus_options.invert_sda_in = c.invert_sda_in;
    Open(c.settings);
    EXPECT_EQ(CheckCircuit(), c.passes);
    CLOSECOM();
    SimReset();
  }
}

// A chip holding SDA low is clocked free before the probe's start: up to
// nine pulses, one when SDA is already high. Reaching the probe with SDA
// held needs /I and a circuit that inverts CTS, since the check reads low.
TEST_F(SimBus, ProbeClearsAStuckDataLine) {
  struct Case {
    const char* settings;
    int pulses;
    bool present;
  };
  const Case cases[] = {
      {"invert=cts", 1, true},
      {"invert=cts;stuck=4", 4, true},
      {"invert=cts;stuck=8", 8, true},
      {"invert=cts;stuck=100", 9, true},  // the held line reads as an acknowledge
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    bus_options.invert_sda_in = true;
    Open(c.settings);
    // The check leaves SCL low after one fall, which the chip has counted.
    ASSERT_TRUE(CheckCircuit());
    const std::uint64_t falls = SimGetCounters().scl_falls;
    // Each clearing pulse ends with a fall, the start adds one, each byte nine.
    const bool present = ProbeDevice(0xA8);
    const auto probe_falls = static_cast<int>(SimGetCounters().scl_falls - falls);
    EXPECT_EQ(present, c.present);
    EXPECT_EQ(probe_falls - 1 - 9 - (present ? 9 : 0), c.pulses);
    CLOSECOM();
    SimReset();
  }
}

// A chip that takes its control byte but not the word address is present.
TEST_F(SimBus, ProbeCountsAChipThatRefusesTheWordAddress) {
  Open("nack=0:2");
  EXPECT_TRUE(ProbeDevice(0xA8));
  EXPECT_NE(SimBusLogText().find("A8+ 00- P"), std::string::npos) << SimBusLogText();
}

// With /E every page is tried once; the refused one keeps its old contents.
TEST_F(SimBus, PagedWriterWithIgnoreErrors) {
  Open("nack=1");
  EepromImage image(1024);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i * 3);
  }
  ignore_errors = true;
  EXPECT_TRUE(WriteImagePaged(image, 1023));
  for (std::size_t i = 0; i < image.size(); ++i) {
    ASSERT_EQ(SimData()[i], i >= 16 && i < 32 ? 0xFF : image[i]) << i;
  }
}

// A random read brings back what the chip holds: the address is written,
// a repeated START turns the bus round, and every byte but the last is
// acknowledged. An APP register is read alone, one byte.
TEST_F(SimBus, RandomReadsOfABlockAndOfAnAppRegister) {
  Open("");
  for (std::size_t address = 0; address < kSimDataSize; ++address) {
    SimData()[address] = static_cast<std::uint8_t>(address * 7 + address / 256);
  }
  std::array<std::uint8_t, 128> block{};
  ASSERT_TRUE(ReadEepromBytes(384, block));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), SimData().begin() + 384));
  EXPECT_EQ(last_control_byte, 0xAA);
  EXPECT_EQ(last_word_address, 0x80);
  const std::string log = SimBusLogText();
  EXPECT_TRUE(log.starts_with("S AA+ 80+ S AB+ 81+ 88+ ")) << log;
  EXPECT_TRUE(log.ends_with(" F3+ FA- P")) << log;

  SimAppRegisters()[9] = 0x5A;
  std::uint8_t value = 0;
  SimClearBusLog();
  ASSERT_TRUE(ReadAppRegister(9, value));
  EXPECT_EQ(value, 0x5A);
  EXPECT_EQ(last_word_address, 9);
  EXPECT_EQ(SimBusLogText(), "S B8+ 09+ S B9+ 5A- P");
}

// The APP verify reads each of registers 0 to 9 in a random read of one
// byte of its own, and compares the bits the datasheets define: the chip
// reads the undefined ones back inverted. A register that kept its value
// fails it, as it would not if the registers were read in one transaction,
// whose bytes after the first the chip gives as 0xFF.
TEST_F(SimBus, AppVerifyReadsEachRegisterAlone) {
  Open("");
  std::fill_n(SimAppRegisters().begin(), 10, 0xFF);
  EXPECT_TRUE(VerifyApp());
  std::string expected;
  for (int index = 0; index < 10; ++index) {
    const char* value = index < 8 ? "B3" : index == 8 ? "83" : "FF";
    expected += (index > 0 ? " " : "") + std::string("S B8+ 0") + std::to_string(index) +
                "+ S B9+ " + value + "- P";
  }
  EXPECT_EQ(SimBusLogText(), expected);
  SimAppRegisters()[5] = 0x00;
  EXPECT_FALSE(VerifyApp());
}

// Without a probe the address is transaction 0 and the read 1: a refused
// byte in either, or a port lost during the read, fails it. Only the word
// address refused after the acknowledged control byte is the chip's
// refusal, kept for the explanation at the job's end.
TEST_F(SimBus, ReadFailsOnARefusedByteOrALostPort) {
  const std::pair<const char*, bool> faults[] = {{"nack=0", false},
                                                 {"nack=0:2", true},
                                                 {"nack=1", false},
                                                 {"remove=1", false},
                                                 {"port_fail=1", false}};
  for (const auto& [fault, refused] : faults) {
    SCOPED_TRACE(fault);
    Open(fault);
    chip_refusals = {};
    std::array<std::uint8_t, 16> bytes{};
    EXPECT_FALSE(ReadEepromBytes(640, bytes));
    EXPECT_EQ(refused_after_address, refused);
    EXPECT_EQ(chip_refusals.read_blocks, refused ? 0x20 : 0);
  }
  Open("");
  std::array<std::uint8_t, 16> bytes{};
  EXPECT_TRUE(ReadEepromBytes(0, bytes));
  EXPECT_FALSE(refused_after_address);
}

// A poll is a dummy write to data block 0, whatever the write before it
// went to: refused while the chip is in its write cycle, acknowledged with
// its word address 0 after it, never an address alone. It stores nothing
// and leaves the bookkeeping as the write before it set it.
TEST_F(SimBus, PollIsADummyWriteToBlockZero) {
  OpenWithWriteCycle("write_ms=40");
  ASSERT_TRUE(WriteEepromByte(300, 0x12));
  SimClearBusLog();
  EXPECT_FALSE(PollChip());
  while (SimChipBusy()) {
  }
  EXPECT_TRUE(PollChip());
  EXPECT_EQ(SimBusLogText(), "S A8- P S A8+ 00+ P");
  EXPECT_EQ(last_control_byte, 170);
  EXPECT_EQ(last_word_address, 44);
  EXPECT_EQ(SimGetCounters().stored_writes, 1U);
  EXPECT_EQ(SimGetCounters().address_only_writes, 0U);
  EXPECT_EQ(SimData()[300], 0x12);
  EXPECT_EQ(SimData()[0], 0xFF);
}

// On a chip of two word-address bytes the probe and the polls are a dummy
// write of the whole address 0 read back before the STOP, each poll at the
// half the write went to; the 24RF08 keeps its one byte and its
// first block. On every carrier (the CH341A clocks out its packet's bytes
// after a refused address).
TEST_F(SimBus, ProbeAndPollsAddressTheWholeWordAddress) {
  const std::string b0 =
      "A0+ 00+ 00+ S A1+ FF- P S A8+ 00+ 00+ 12+ P S A8- P S A8+ 00+ 00+ S A9+ 12- P";
  for (const auto& [port, chip, address, log] :
       {std::tuple{"COM1", "24C515", 0x8000u, b0},
        {"i2c-1", "24C515", 0x8000u, b0},
        {"ch341a", "24M01", 0x10000u,
         "A0+ 00+ 00+ S A1+ FF- P S A2+ 00+ 00+ 12+ P S A2- 00- 00- S A3- FF- P S A2+ 00+ 00+ S "
         "A3+ 12- P"},
        {"ch341a", "24RF08", 0x200u, "A8+ 00+ P S AC+ 00+ 12+ P S A8- 00- P S A8+ 00+ P"}}) {
    ASSERT_TRUE(SimConfigureText(std::string("write_ms=1000;chip=") + chip +
                                 (chip == std::string("24C515") ? ";pins=4" : "")));
    port_name = port;
    current_chip = FindChip(chip);
    OpenChip();
    EXPECT_TRUE(WriteEepromByte(address, 0x12));
    EXPECT_FALSE(PollChip());
    SimTimeSpend(1'000'000'000);
    EXPECT_TRUE(PollChip());
    CloseBus();
    EXPECT_TRUE(SimBusLogText().ends_with(std::string("S ") + log))
        << port << chip << SimBusLogText();
    SimReset();
  }
  port_name.clear();  // the 24RF08's addressing is back with its row
}

// What followed each write in the bus log: for every frame of three bytes
// or more (a write), the shorter frames after it (its polls), '+' for an
// acknowledged poll and '-' for a refused one; '?' for one that is not a
// dummy write to data block 0.
std::vector<std::string> PollsAfterEachWrite() {
  std::vector<std::string> polls;
  std::vector<SimBusEvent> frame;
  for (const SimBusEvent& event : SimBusLog()) {
    if (event.kind == SimEventKind::kByte) {
      frame.push_back(event);
    } else if (event.kind == SimEventKind::kStop && !frame.empty()) {
      if (frame.size() > 2) {
        polls.emplace_back();
      } else if (!polls.empty()) {
        const bool refused = frame.size() == 1 && !frame[0].acked;
        const bool acked = frame.size() == 2 && frame[0].acked && frame[1].value == 0;
        polls.back() += frame[0].value != 0xA8 ? '?' : refused ? '-' : acked ? '+' : '?';
      }
      frame.clear();
    }
  }
  return polls;
}

enum class Job { kPages, kBytes, kApp };

bool RunJob(Job job, const EepromImage& image, int last) {
  switch (job) {
    case Job::kPages:
      return WriteImagePaged(image, last);
    case Job::kBytes:
      return WriteImageBytewise(image, last);
    case Job::kApp:
      break;
  }
  return ResetApp();
}

EepromImage TestImage() {
  EepromImage image(1024);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i * 5 + 1);
  }
  return image;
}

struct PollingCase {
  const char* settings;
  Job job;
  int last;
  std::uint32_t writes;
  bool write_cycles;  // false: write-protected, no write cycle starts
};

class AckPolling : public SimBus {
 protected:
  void ExpectPollsEndAtTheFirstAcknowledge(const PollingCase& c);
};

// With acknowledge polling every write is followed by polls, refused while
// the chip writes and ending at the first acknowledge. The tick counter stands still, so only that
// acknowledge can end them; the chip's write cycle runs in real time. A write-protected chip starts
// no write cycle: its first poll is acknowledged. No poll stores anything, and the message queue
// gets a turn before every poll.
void AckPolling::ExpectPollsEndAtTheFirstAcknowledge(const PollingCase& c) {
  SCOPED_TRACE(std::string(c.settings) + " job " + std::to_string(static_cast<int>(c.job)));
  const EepromImage image = TestImage();
  OpenWithWriteCycle(c.settings);
  FakeClockReset();
  fake_tick_step = 0;
  // Bit delays of a microsecond or so keep the polls to some hundred per
  // write cycle, and the bus log small.
  delay_count = 1000;
  ack_polling = true;
  ASSERT_TRUE(RunJob(c.job, image, c.last));
  const auto cells = static_cast<std::size_t>(c.last + 1);
  for (std::size_t i = 0; i < cells && c.job != Job::kApp; ++i) {
    ASSERT_EQ(SimData()[i], c.write_cycles ? image[i] : 0xFF) << i;
  }
  EXPECT_TRUE(std::all_of(SimData().begin() + static_cast<std::ptrdiff_t>(cells), SimData().end(),
                          [](std::uint8_t cell) { return cell == 0xFF; }));
  const bool app_reset = std::all_of(SimAppRegisters().begin(), SimAppRegisters().begin() + 10,
                                     [](std::uint8_t cell) { return cell == 0xFF; });
  EXPECT_EQ(app_reset, c.job == Job::kApp);
  EXPECT_EQ(SimGetCounters().stored_writes, c.write_cycles ? c.writes : 0);
  const std::vector<std::string> polls = PollsAfterEachWrite();
  ASSERT_EQ(polls.size(), c.writes);
  std::size_t total = 0;
  for (std::size_t write = 0; write < polls.size(); ++write) {
    const std::string& after = polls[write];
    ASSERT_FALSE(after.empty()) << write;
    EXPECT_EQ(after.find_first_not_of('-'), after.size() - 1) << write << ": " << after;
    EXPECT_EQ(after.back(), '+') << write << ": " << after;
    if (!c.write_cycles) {
      EXPECT_EQ(after, "+") << write;
    }
    total += after.size();
  }
  // A write's first poll comes right after its STOP and finds the chip busy,
  // unless the machine kept this process from running for the whole cycle.
  if (c.write_cycles) {
    EXPECT_GT(total, 2 * polls.size());
  }
  EXPECT_EQ(
      static_cast<std::size_t>(std::count(fake_clock_events.begin(), fake_clock_events.end(), 'P')),
      total);
  CLOSECOM();
  SimReset();
}

TEST_F(AckPolling, FiveMillisecondWriteCycle) {
  for (const PollingCase& c : {PollingCase{"write_ms=5;speed=20", Job::kPages, 1023, 64, true},
                               PollingCase{"write_ms=5;speed=20", Job::kBytes, 1023, 1024, true},
                               PollingCase{"write_ms=5;speed=20", Job::kApp, 0, 10, true},
                               PollingCase{"wp", Job::kPages, 1023, 64, false}}) {
    ExpectPollsEndAtTheFirstAcknowledge(c);
  }
}

// The simulated chip's write cycles pass 20 times faster than real time, as
// the program's polls are timed by the fake tick counter alone. Byte mode
// covers the first 64 bytes: the whole chip would take 2 seconds of write
// cycles even so.
TEST_F(AckPolling, FortyMillisecondWriteCycle) {
  for (const PollingCase& c : {PollingCase{"write_ms=40;speed=20", Job::kPages, 1023, 64, true},
                               PollingCase{"write_ms=40;speed=20", Job::kBytes, 63, 64, true},
                               PollingCase{"write_ms=40;speed=20", Job::kApp, 0, 10, true}}) {
    ExpectPollsEndAtTheFirstAcknowledge(c);
  }
}

// A chip that stays busy (a write cycle of a minute): the polls go on until
// the fixed wait would have ended, more than 50 ticks after the write, across
// the tick counter's wrap, with /E or without. Then all goes on as after the
// fixed wait: the same transactions, the same result, the same tick readings
// and turns of the message queue, with 50 refused polls after each
// transaction.
TEST_F(AckPolling, GivesUpWhereTheFixedWaitEnds) {
  struct Case {
    const char* settings;
    Job job;
    int last;
    bool ignore;  // /E
  };
  const Case cases[] = {
      {"write_ms=60000", Job::kPages, 47, true},
      {"write_ms=60000", Job::kBytes, 1023, false},
      {"write_ms=60000", Job::kApp, 0, false},
  };
  const EepromImage image = TestImage();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    struct Outcome {
      bool result;
      std::string log;
      std::string clock;
      std::vector<std::uint32_t> ticks;
      std::vector<std::uint8_t> data;
    } outcomes[2];
    for (const bool polling : {false, true}) {
      OpenWithWriteCycle(c.settings);
      FakeClockReset();
      fake_tick_next = 0xFFFFFFF0;
      ack_polling = polling;
      ignore_errors = c.ignore;
      Outcome& outcome = outcomes[polling ? 1 : 0];
      outcome.result = RunJob(c.job, image, c.last);
      outcome.log = SimBusLogText();
      outcome.clock = fake_clock_events;
      outcome.ticks = fake_tick_readings;
      outcome.data.assign(SimData().begin(), SimData().end());
      outcome.data.insert(outcome.data.end(), SimAppRegisters().begin(), SimAppRegisters().end());
      CLOSECOM();
      SimReset();
    }
    // Each frame of the fixed wait's log, then 50 refused polls.
    std::string expected;
    for (std::size_t at = 0; at < outcomes[0].log.size();) {
      const std::size_t stop = outcomes[0].log.find('P', at);
      ASSERT_NE(stop, std::string::npos);
      const std::string frame = outcomes[0].log.substr(at, stop + 1 - at);
      expected += frame;
      for (int poll = 0; poll < 50; ++poll) {
        expected += " S A8- P";
      }
      at = stop + 2;
      expected += at < outcomes[0].log.size() ? " " : "";
    }
    EXPECT_FALSE(outcomes[0].log.empty());
    EXPECT_PRED_FORMAT2(TextsMatch, outcomes[1].log, expected);
    EXPECT_EQ(outcomes[1].result, outcomes[0].result);
    EXPECT_PRED_FORMAT2(TextsMatch, outcomes[1].clock, outcomes[0].clock);
    EXPECT_EQ(outcomes[1].ticks, outcomes[0].ticks);
    EXPECT_PRED_FORMAT2(BytesMatch, outcomes[1].data, outcomes[0].data);
  }
}

}  // namespace
