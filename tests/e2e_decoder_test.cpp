// SPDX-License-Identifier: MIT
// The bus as an independent decoder sees it: the simulator's trace of a
// page-mode run, decoded by sigrok's I2C decoder, must carry every page of the
// image to the chip's address with the right block and word address, and
// with /F show the polls between the pages.
#include <cstdio>
#include <sstream>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

using DecodedRun = ScratchDirectory;

std::string Decode(const std::string& trace) {
  const std::string command = "sigrok-cli -I vcd:downsample=1000 -i '" + trace +
                              "' -P i2c:scl=scl:sda=sda"
                              " -A i2c=start:stop:address-write:data-write:ack:nack 2>&1";
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      text.append(buffer, got);
    }
    pclose(pipe);
  }
  return text;
}

// Replays the decoded write transactions into a 1024-byte memory: the 7-bit
// address 0x54 + block, then the word address, then data within a 16-byte page.
Bytes Replay(const std::string& decoded, int& transactions, int& stops, int& refused) {
  Bytes memory(1024, 0xFF);
  std::istringstream lines(decoded);
  int block = -1;
  int word = -1;
  int written = 0;
  for (std::string line; std::getline(lines, line);) {
    unsigned value = 0;
    if (line.ends_with("Start")) {
      block = -1;
      word = -1;
      written = 0;
      ++transactions;
    } else if (std::sscanf(line.c_str(), "i2c-1: Address write: %x", &value) == 1) {
      block = static_cast<int>(value) - 0x54;
    } else if (std::sscanf(line.c_str(), "i2c-1: Data write: %x", &value) == 1) {
      if (word < 0) {
        word = static_cast<int>(value);
      } else if (block >= 0 && block < 4) {
        const int page = word & ~15;
        const int address = block * 256 + page + (word - page + written) % 16;
        memory[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(value);
        ++written;
      }
    } else if (line.ends_with("Stop")) {
      ++stops;
    } else if (line.ends_with("NACK")) {
      ++refused;
    }
  }
  return memory;
}

TEST_F(DecodedRun, PageModeTraceCarriesTheImage) {
  if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "sigrok-cli is not installed";
  }
  const Bytes image = PatternImage(9);
  WriteFile("dump.bin", image);
  const ProgramRun run = Run({.arguments = {"dump.bin"}, .sim = "trace=run.vcd"});
  ASSERT_EQ(run.status, 0) << run.out;
  int transactions = 0;
  int stops = 0;
  int refused = 0;
  const Bytes replayed = Replay(Decode(Path("run.vcd")), transactions, stops, refused);
  EXPECT_EQ(transactions, 1 + 64) << "the probe, then one transaction per page";
  EXPECT_EQ(stops, transactions) << "the trace must last past the last STOP";
  EXPECT_EQ(refused, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, replayed, image);
}

// Each frame's 7-bit address, the bytes after it and whether its last byte
// was acknowledged.
struct DecodedFrame {
  unsigned address = 0;
  std::vector<unsigned> data;
  bool acked = false;
};

std::vector<DecodedFrame> Frames(const std::string& decoded) {
  std::vector<DecodedFrame> frames;
  DecodedFrame frame;
  std::istringstream lines(decoded);
  for (std::string line; std::getline(lines, line);) {
    unsigned value = 0;
    if (line.ends_with("Start")) {
      frame = DecodedFrame{};
    } else if (std::sscanf(line.c_str(), "i2c-1: Address write: %x", &value) == 1) {
      frame.address = value;
    } else if (std::sscanf(line.c_str(), "i2c-1: Data write: %x", &value) == 1) {
      frame.data.push_back(value);
    } else if (line.ends_with("NACK")) {
      frame.acked = false;
    } else if (line.ends_with("ACK")) {
      frame.acked = true;
    } else if (line.ends_with("Stop")) {
      frames.push_back(frame);
    }
  }
  return frames;
}

// With /F every page is followed by polls until the first acknowledge and no
// further. Each poll is a dummy write to data block 0 (address 0x54),
// whatever block the page went to: its address alone while the chip writes
// and refuses it, its address and the word address 0 once acknowledged,
// never an acknowledged address followed at once by the STOP. The polls
// write nothing: the replayed memory is the image. How many polls a page
// gets depends on how the machine ran the program, so what must hold is
// checked of every poll rather than counted.
TEST_F(DecodedRun, FastWritesPollUntilTheFirstAcknowledge) {
  if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "sigrok-cli is not installed";
  }
  const Bytes image = PatternImage(10);
  WriteFile("dump.bin", image);
  const ProgramRun run =
      Run({.arguments = {"dump.bin", "/F"}, .sim = "trace=run.vcd;write_ms=10;speed=5"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string decoded = Decode(Path("run.vcd"));
  const std::vector<DecodedFrame> frames = Frames(decoded);
  ASSERT_FALSE(frames.empty());
  int pages = 0;
  int refused_polls = 0;
  int acknowledged_polls = 0;
  bool acknowledged_since_page = false;
  // Frame 0 is the device probe.
  for (std::size_t at = 1; at < frames.size(); ++at) {
    const DecodedFrame& frame = frames[at];
    if (frame.data.size() > 1) {
      EXPECT_EQ(frame.data.size(), 17U) << at;
      EXPECT_EQ(frame.address, 0x54U + static_cast<unsigned>(pages / 16)) << at;
      EXPECT_TRUE(frame.acked) << at;
      acknowledged_since_page = false;
      ++pages;
      continue;
    }
    EXPECT_EQ(frame.address, 0x54U) << at;
    EXPECT_FALSE(acknowledged_since_page) << at << ": a poll after the acknowledge";
    if (frame.acked) {
      EXPECT_EQ(frame.data, std::vector<unsigned>{0}) << at << ": an address-only write";
      ++acknowledged_polls;
      acknowledged_since_page = true;
    } else {
      EXPECT_TRUE(frame.data.empty()) << at;
      ++refused_polls;
    }
  }
  EXPECT_EQ(pages, 64);
  EXPECT_GT(acknowledged_polls, 0);
  EXPECT_GT(refused_polls, 0);
  int transactions = 0;
  int stops = 0;
  int refused = 0;
  EXPECT_PRED_FORMAT2(BytesMatch, Replay(decoded, transactions, stops, refused), image);
  EXPECT_EQ(refused, refused_polls);
}

}  // namespace
