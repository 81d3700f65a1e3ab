// SPDX-License-Identifier: MIT
// The simulated interface circuit and 24RF08, driven bit by bit through the
// five port operations, the way the program's bus code drives them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

// The master's view of the lines, with the program's /X, /D and /I switches.
bool invert_scl = false;
bool invert_sda_out = false;
bool invert_sda_in = false;

void Scl(bool high) {
  RTS(high != invert_scl ? 1 : 0);
}
void Sda(bool high) {
  DTR(high != invert_sda_out ? 1 : 0);
}
bool SdaIn() {
  return (CTS() != 0) != invert_sda_in;
}
void Start() {
  Sda(true);
  Scl(true);
  Sda(false);
  Scl(false);
}
void Stop() {
  Scl(false);
  Sda(false);
  Scl(true);
  Sda(true);
}
void Clock() {
  Scl(true);
  Scl(false);
}
void SendBits(std::uint8_t value, int count) {
  for (int bit = 7; bit > 7 - count; --bit) {
    Sda((value >> bit & 1) != 0);
    Clock();
  }
}
// The acknowledge is sampled in the middle of the ninth clock.
bool SendByte(std::uint8_t value) {
  SendBits(value, 8);
  Sda(true);
  Scl(true);
  const bool ack = !SdaIn();
  Scl(false);
  return ack;
}
std::uint8_t ReadByte(bool ack) {
  Sda(true);
  int value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    Scl(true);
    value = value << 1 | (SdaIn() ? 1 : 0);
    Scl(false);
  }
  Sda(!ack);
  Clock();
  Sda(true);
  return static_cast<std::uint8_t>(value);
}
// One whole transaction: sends until a byte is refused, then STOP.
bool Transaction(std::initializer_list<std::uint8_t> bytes) {
  Start();
  bool ack = true;
  for (auto byte = bytes.begin(); ack && byte != bytes.end(); ++byte) {
    ack = SendByte(*byte);
  }
  Stop();
  return ack;
}
std::string FileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}
bool WaitWhileBusy() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (SimChipBusy() && std::chrono::steady_clock::now() < give_up) {
  }
  return !SimChipBusy();
}

class SimChip : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    invert_scl = invert_sda_out = invert_sda_in = false;
  }
  void TearDown() override {
    SimReset();
  }
  // Opens the port with the given settings and leaves the bus idle.
  void Open(const std::string& settings) {
    ASSERT_TRUE(SimConfigureText(settings)) << settings;
    ASSERT_EQ(OPENCOM("COM1: baud=9600 parity=N data=8 stop=0"), 0);
    Sda(true);
    Scl(true);
  }
  std::vector<std::uint8_t> Data(int first, int count) {
    const auto begin = SimData().begin() + first;
    return {begin, begin + count};
  }
};

// Writes: the page buffer, its wrap, the blocks and the write cycle.
TEST_F(SimChip, PageReachesMemoryOnlyAtStop) {
  Open("write_ms=0");
  Start();
  EXPECT_TRUE(SendByte(0xA8) && SendByte(0x20) && SendByte(0x11) && SendByte(0x22));
  EXPECT_EQ(Data(0x20, 2), std::vector<std::uint8_t>({0xFF, 0xFF}));
  Stop();
  EXPECT_EQ(Data(0x20, 3), std::vector<std::uint8_t>({0x11, 0x22, 0xFF}));
  EXPECT_EQ(SimGetCounters().stored_writes, 1u);
}

TEST_F(SimChip, WriteWrapsInsideItsPage) {
  Open("write_ms=0");
  EXPECT_TRUE(Transaction({0xA8, 0x1E, 1, 2, 3, 4}));
  EXPECT_EQ(Data(0x10, 3), std::vector<std::uint8_t>({3, 4, 0xFF}));
  EXPECT_EQ(Data(0x1E, 3), std::vector<std::uint8_t>({1, 2, 0xFF}));
}

TEST_F(SimChip, ControlByteSelectsBlock) {
  Open("write_ms=0");
  for (std::size_t block = 0; block < 4; ++block) {
    EXPECT_TRUE(Transaction({static_cast<std::uint8_t>(0xA8 + 2 * block), 0x05, 0x40}));
    EXPECT_EQ(SimData()[block * 256 + 5], 0x40) << block;
  }
  EXPECT_FALSE(Transaction({0xA0, 0x05}));  // another device address
  EXPECT_FALSE(Transaction({0xBA, 0x05}));
}

TEST_F(SimChip, BusyAfterStoredWriteUntilWriteCycleEnds) {
  Open("write_ms=150");
  EXPECT_TRUE(Transaction({0xA8, 0x00}));  // sets the address only: no cycle
  EXPECT_TRUE(Transaction({0xA8, 0x00, 0x55}));
  const auto stored = std::chrono::steady_clock::now();
  EXPECT_FALSE(Transaction({0xA8}));
  ASSERT_TRUE(WaitWhileBusy());
  EXPECT_GE(std::chrono::steady_clock::now() - stored, std::chrono::milliseconds(140));
  EXPECT_TRUE(Transaction({0xA8}));
}

// At speed 20 the write cycle runs on the simulated clock: 150 ms of it pass
// in about 7.5 ms.
TEST_F(SimChip, WriteCycleOnTheSimulatedClock) {
  Open("write_ms=150;speed=20");
  EXPECT_TRUE(Transaction({0xA8, 0x00, 0x55}));
  const auto stored = std::chrono::steady_clock::now();
  EXPECT_FALSE(Transaction({0xA8}));
  ASSERT_TRUE(WaitWhileBusy());
  EXPECT_LT(std::chrono::steady_clock::now() - stored, std::chrono::milliseconds(140));
  EXPECT_TRUE(Transaction({0xA8}));
}

// Reads: random, sequential up to the end of a 128-byte block, where it
// wraps to the block's start, and current-address, which goes on from the
// counter whatever block its control byte names.
TEST_F(SimChip, RandomSequentialAndCurrentAddressReads) {
  Open("write_ms=0");
  for (const std::size_t address : {0x7EU, 0x7FU, 0x00U, 0x01U, 0x80U}) {
    SimData()[address] = static_cast<std::uint8_t>(address + 0x10);
  }
  Start();
  ASSERT_TRUE(SendByte(0xA8) && SendByte(0x7E));
  Start();
  ASSERT_TRUE(SendByte(0xA9));
  EXPECT_EQ(ReadByte(true), 0x8E);
  EXPECT_EQ(ReadByte(true), 0x8F);
  EXPECT_EQ(ReadByte(false), 0x10);
  Stop();
  Start();
  ASSERT_TRUE(SendByte(0xAB));
  EXPECT_EQ(ReadByte(false), 0x11);
  Stop();
  EXPECT_EQ(SimBusLogText(), "S A8+ 7E+ S A9+ 8E+ 8F+ 10- P S AB+ 11- P");
}

// START and STOP cut a byte short wherever they come.
TEST_F(SimChip, StartAndStopAnywhere) {
  Open("write_ms=0");
  Start();
  ASSERT_TRUE(SendByte(0xA8) && SendByte(0x40) && SendByte(0x99));
  SendBits(0x77, 4);
  Stop();  // the whole byte before it is stored, the half byte is not
  EXPECT_EQ(Data(0x40, 2), std::vector<std::uint8_t>({0x99, 0xFF}));
  Start();
  ASSERT_TRUE(SendByte(0xA8) && SendByte(0x50) && SendByte(0x12));
  Start();  // a repeated START abandons the page
  Stop();
  EXPECT_EQ(SimData()[0x50], 0xFF);
  EXPECT_EQ(SimGetCounters().stored_writes, 1u);
}

TEST_F(SimChip, MonitorLogsWhatCrossesTheBus) {
  Open("");
  EXPECT_FALSE(Transaction({0xA2}));
  SimClearBusLog();
  Clock();  // bits outside a frame are not decoded
  EXPECT_TRUE(Transaction({0xA8, 0x05, 0x42}));
  EXPECT_EQ(SimBusLogText(), "S A8+ 05+ 42+ P");
  ASSERT_EQ(SimBusLog().size(), 5u);
  EXPECT_EQ(SimBusLog()[1].value, 0xA8);
  EXPECT_TRUE(SimBusLog()[1].acked);
}

// Each inverted line, with the master's matching switch, still reaches the
// chip; without it, the line reads the other way.
TEST_F(SimChip, InvertedLines) {
  Open("");  // the helper asserted RTS and DTR: SCL rose, SDA stayed high
  EXPECT_EQ(SimGetCounters().scl_falls, 0u);
  EXPECT_EQ(CTS(), 1);
  Open("invert=rts");
  EXPECT_EQ(SimGetCounters().scl_falls, 1u);
  Open("invert=dtr");
  EXPECT_EQ(CTS(), 0);
  DTR(0);
  EXPECT_EQ(CTS(), 1);
  Open("invert=cts");
  EXPECT_EQ(CTS(), 0);
  for (const char* settings : {"invert=rts", "invert=dtr", "invert=cts", "invert=rts,dtr,cts"}) {
    SimReset();
    const std::string lines = settings;
    invert_scl = lines.find("rts") != std::string::npos;
    invert_sda_out = lines.find("dtr") != std::string::npos;
    invert_sda_in = lines.find("cts") != std::string::npos;
    Open(settings);
    EXPECT_TRUE(Transaction({0xA8, 0x07, 0x5A})) << settings;
    EXPECT_EQ(SimData()[7], 0x5A) << settings;
  }
}

// Faults, each beside the healthy case.
TEST_F(SimChip, CircuitFaults) {
  Open("");
  Sda(false);
  EXPECT_EQ(CTS(), 0);
  Sda(true);
  EXPECT_EQ(CTS(), 1);
  EXPECT_TRUE(Transaction({0xA8}));
  Open("circuit=none");
  EXPECT_EQ(CTS(), 0);
  Open("circuit=loopback");
  EXPECT_EQ(CTS(), 1);
  Scl(false);
  Sda(false);
  EXPECT_EQ(CTS(), 0);
  EXPECT_FALSE(Transaction({0xA8}));
  Open("chip=absent");
  EXPECT_EQ(CTS(), 1);
  EXPECT_FALSE(Transaction({0xA8}));
}

TEST_F(SimChip, StuckChipLetsGoAfterEnoughClocks) {
  Open("stuck=3");
  EXPECT_EQ(CTS(), 0);
  Clock();
  Clock();
  EXPECT_EQ(CTS(), 0);
  Clock();
  EXPECT_EQ(CTS(), 1);
  EXPECT_TRUE(Transaction({0xA8}));
}

TEST_F(SimChip, RefusedBytesByTransaction) {
  Open("write_ms=0;nack=1;nack=2:3");
  EXPECT_TRUE(Transaction({0xA8, 0x00}));         // 0
  EXPECT_FALSE(Transaction({0xA8, 0x00}));        // 1
  EXPECT_FALSE(Transaction({0xA8, 0x10, 1, 2}));  // 2: refuses its first data byte
  EXPECT_TRUE(Transaction({0xA8, 0x10, 1, 2}));   // 3
  EXPECT_EQ(SimGetCounters().stored_writes, 1u);
  Open("write_ms=0;nack=1:4");
  EXPECT_TRUE(Transaction({0xA8, 0x00}));
  EXPECT_FALSE(Transaction({0xA8, 0x20, 5, 6, 7}));  // stores the one byte it took
  EXPECT_EQ(Data(0x20, 2), std::vector<std::uint8_t>({5, 0xFF}));
}

TEST_F(SimChip, DeafAppAndRemovedChip) {
  Open("write_ms=0");
  EXPECT_TRUE(Transaction({0xB8, 0x00, 0xFF}));
  Open("write_ms=0;deaf_app");
  EXPECT_FALSE(Transaction({0xB8}));
  EXPECT_TRUE(Transaction({0xA8}));
  Open("remove=2");
  EXPECT_TRUE(Transaction({0xA8}));
  EXPECT_TRUE(Transaction({0xA8}));
  EXPECT_FALSE(Transaction({0xA8}));
  EXPECT_FALSE(Transaction({0xA8}));
}

// The real chip's fault: an acknowledged write address followed at once by
// a STOP. Each is counted; with address_only_fault an odd run of them arms
// the chip, and the next transaction it acknowledges changes APP register
// 15. A dummy write, which sends its word address, and a refused address
// are no such write.
TEST_F(SimChip, AddressOnlyWritesArmTheDocumentedFault) {
  Open("write_ms=0;address_only_fault");
  EXPECT_TRUE(Transaction({0xA8, 0x00}));
  EXPECT_FALSE(Transaction({0xA0}));
  EXPECT_EQ(SimGetCounters().address_only_writes, 0U);
  EXPECT_TRUE(Transaction({0xA8}));
  EXPECT_TRUE(Transaction({0xB8}));
  EXPECT_TRUE(Transaction({0xAA, 0x10, 0x55}));
  EXPECT_EQ(SimAppRegisters()[15], 0x00) << "a second one disarms";
  EXPECT_TRUE(Transaction({0xAC}));
  EXPECT_TRUE(Transaction({0xA8, 0x00}));
  EXPECT_EQ(SimAppRegisters()[15], 0x01);
  EXPECT_EQ(SimGetCounters().address_only_writes, 3U);
  Open("write_ms=0");
  EXPECT_TRUE(Transaction({0xAE}));
  EXPECT_TRUE(Transaction({0xAE, 0x00, 0x12}));
  EXPECT_EQ(SimAppRegisters()[15], 0x01) << "counted only, without the item";
  EXPECT_EQ(SimGetCounters().address_only_writes, 4U);
}

TEST_F(SimChip, PortVanishesAtItsTransaction) {
  Open("port_fail=1");
  EXPECT_TRUE(Transaction({0xA8}));
  EXPECT_FALSE(PortFailed());
  Start();
  SendBits(0xA8, 8);
  EXPECT_TRUE(PortFailed());
  EXPECT_EQ(DTR(1), -1);
  EXPECT_EQ(RTS(1), -1);
  EXPECT_EQ(CTS(), 0);
  EXPECT_EQ(CLOSECOM(), 0);
  EXPECT_TRUE(PortFailed());
  Open("");
  EXPECT_FALSE(PortFailed());
  EXPECT_EQ(DTR(1), 0);
  EXPECT_TRUE(SimConfigureText("port_fail=open"));
  EXPECT_EQ(OPENCOM("COM1:"), -1);
  EXPECT_TRUE(PortFailed());
  EXPECT_EQ(DTR(1), -1);
}

TEST_F(SimChip, LinesDoNothingWhileClosed) {
  EXPECT_EQ(DTR(1), -1);
  EXPECT_EQ(RTS(1), -1);
  EXPECT_EQ(CTS(), 0);
  Open("");
  EXPECT_EQ(CTS(), 1);
  CLOSECOM();
  EXPECT_EQ(CTS(), 0);
  EXPECT_FALSE(PortFailed());
  EXPECT_EQ(SimGetCounters().dtr_calls, 2u);
}

// A write-protected chip acknowledges every byte and stores nothing; a weak
// cell stores bit 0 of each byte written to it inverted.
TEST_F(SimChip, WriteProtectAndWeakCell) {
  Open("write_ms=0;wp");
  EXPECT_TRUE(Transaction({0xA8, 0x10, 0x12, 0x34}));
  EXPECT_TRUE(Transaction({0xB8, 0x00, 0xFF}));
  EXPECT_EQ(Data(0x10, 2), std::vector<std::uint8_t>({0xFF, 0xFF}));
  EXPECT_EQ(SimAppRegisters()[0], 0x00);
  EXPECT_EQ(SimGetCounters().stored_writes, 0u);
  Open("write_ms=0;weak=273");
  EXPECT_TRUE(Transaction({0xAA, 0x10, 0x12, 0x34, 0x56}));
  EXPECT_EQ(Data(0x110, 3), std::vector<std::uint8_t>({0x12, 0x35, 0x56}));
  EXPECT_TRUE(Transaction({0xB8, 0x01, 0x34}));  // the APP block has no weak cell
  EXPECT_EQ(SimAppRegisters()[1], 0x34);
}

TEST(SimConfigText, WriteProtectAndWeakCellItems) {
  SimConfig config;
  std::string bad;
  ASSERT_TRUE(SimParseConfig("wp;weak=1023", config, bad));
  EXPECT_TRUE(config.write_protected);
  EXPECT_EQ(config.weak_cell, 1023u);
  for (const char* item : {"weak=1024", "weak=", "wp=1", "weak=1;weak=2", "chip=24C02;weak=256",
                           "pins=1", "chip=24C64;protect", "chip=24C02;app_save=a.bin"}) {
    EXPECT_FALSE(SimParseConfig(item, config, bad)) << item;
  }
}

// Configuration text: what parses, and the item named when it does not.
TEST(SimConfigText, ParsesItems) {
  SimConfig config;
  std::string bad;
  ASSERT_TRUE(SimParseConfig(
      " load=a.bin; invert=rts,cts;nack=3;nack=4:2;write_ms=80;port_fail=7;deaf_app;speed=100;"
      "op_us=1000;cts_lag_us=250;cts_period_us=1000;protect;locked=0, 8,3",
      config, bad));
  EXPECT_EQ(config.load, "a.bin");
  EXPECT_TRUE(config.invert_rts && config.invert_cts && !config.invert_dtr);
  ASSERT_EQ(config.nacks.size(), 2u);
  EXPECT_EQ(config.nacks[1].transaction, 4u);
  EXPECT_EQ(config.nacks[1].byte, 2u);
  EXPECT_EQ(config.write_ms, 80u);
  EXPECT_EQ(config.port_fail_at, 7u);
  EXPECT_TRUE(config.deaf_app);
  EXPECT_FALSE(config.remove_at.has_value());
  EXPECT_EQ(config.speed, 100u);
  EXPECT_EQ(config.op_us, 1000u);
  EXPECT_EQ(config.cts_lag_us, 250u);
  EXPECT_EQ(config.cts_period_us, 1000u);
  EXPECT_TRUE(config.protect);
  EXPECT_EQ(config.locked, 0x109);
}

TEST(SimConfigText, NamesTheBadItem) {
  for (const char* item : {"bogus=1",      "stuck=",         "stuck=0",
                           "stuck=x",      "nack=1:0",       "nack=-1",
                           "nack=1:",      "invert=rts,foo", "invert=rts,",
                           "write_ms=+5",  "write_ms=5ms",   "deaf_app=1",
                           "load",         "load=",          "circuit=open",
                           "chip=present", "port_fail=",     "remove=99999999999",
                           "speed=0",      "speed=101",      "speed=1.5",
                           "op_us=-1",     "cts_lag_us=",    "cts_period_us=x",
                           "locked=9",     "locked=1,",      "protect=1",
                           "chip=24c02",   "pins=8"}) {
    SimConfig config;
    std::string bad;
    EXPECT_FALSE(SimParseConfig(std::string("trace=t.vcd;") + item + ";deaf_app", config, bad))
        << item;
    EXPECT_EQ(bad, item);
  }
  SimConfig config;
  std::string bad;
  EXPECT_FALSE(SimParseConfig("write_ms=5;write_ms=6", config, bad));
  EXPECT_EQ(bad, "write_ms=6");
}

// Files: the memory loads at OPENCOM and saves at CLOSECOM; the trace closes
// with it.
TEST_F(SimChip, LoadSaveAndTraceFiles) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("sim_chip_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string data(1024, '\x11');
  std::string app(16, '\x44');
  std::ofstream(dir / "data.in", std::ios::binary) << data;
  std::ofstream(dir / "app.in", std::ios::binary) << app;
  const std::string path = dir.string() + "/";
  Open("write_ms=0;load=" + path + "data.in;app_load=" + path + "app.in;save=" + path +
       "data.out;app_save=" + path + "app.out;trace=" + path + "t.vcd");
  EXPECT_TRUE(Transaction({0xAE, 0xFF, 0x22}));
  EXPECT_TRUE(Transaction({0xB8, 0x01, 0x33}));
  EXPECT_TRUE(Transaction({0xA8}));
  EXPECT_FALSE(std::filesystem::exists(dir / "data.out"));
  EXPECT_EQ(CLOSECOM(), 0);
  data[1023] = '\x22';
  app[1] = '\x33';
  EXPECT_EQ(FileText(dir / "data.out"), data);
  EXPECT_EQ(FileText(dir / "app.out"), app);
  const std::string trace = FileText(dir / "t.vcd");
  EXPECT_NE(trace.find("$timescale 1ns $end"), std::string::npos);
  EXPECT_NE(trace.find("$var wire 1 ! scl $end"), std::string::npos);
  EXPECT_NE(trace.find("\n#"), std::string::npos);
  EXPECT_NE(trace.find("$var wire 1 ' address_only $end"), std::string::npos);
  EXPECT_EQ(trace.find("1'"), trace.rfind("1'")) << "the address-only write, once";
  EXPECT_NE(trace.find("\n1'\n", trace.find("$dumpvars")), std::string::npos);
  std::filesystem::remove_all(dir);
}

// The adapter model: each line operation costs op_us of simulated time, and
// CTS reports the line late. The loopback plug wires DTR to CTS.
TEST_F(SimChip, LineOperationsCostTheirTimeInTheTrace) {
  const std::string path =
      ::testing::TempDir() + "sim_op_us_" + std::to_string(::getpid()) + ".vcd";
  Open("circuit=loopback;op_us=1000;trace=" + path);
  for (int i = 0; i < 4; ++i) {
    Sda(i % 2 == 0);
  }
  EXPECT_EQ(CLOSECOM(), 0);
  std::ifstream trace(path);
  std::vector<long long> times;
  for (std::string line; std::getline(trace, line);) {
    if (line.starts_with('#')) {
      times.push_back(std::stoll(line.substr(1)));
    }
  }
  std::filesystem::remove(path);
  // #0, the four changes of DTR, and the end; the bus's own opening moves
  // were made before the trace's ops counted here.
  ASSERT_GE(times.size(), 5u);
  for (std::size_t i = times.size() - 4; i < times.size() - 1; ++i) {
    EXPECT_GE(times[i] - times[i - 1], 1'000'000) << i;
    EXPECT_LT(times[i] - times[i - 1], 100'000'000) << i;
  }
}

TEST_F(SimChip, CtsReportsTheLineAsItWasLagEarlier) {
  // Each read costs 10 ms: the first two after the change fall inside the
  // 25 ms lag, the third after it.
  // 25 ms lag, the third after it. The opening left DTR high 20 ms ago.
  Open("circuit=loopback;op_us=10000;cts_lag_us=25000");
  Sda(false);
  EXPECT_EQ(CTS(), 1);
  EXPECT_EQ(CTS(), 1);
  EXPECT_EQ(CTS(), 0);
  Sda(true);
  EXPECT_EQ(CTS(), 0);
  EXPECT_EQ(CTS(), 0);
  EXPECT_EQ(CTS(), 1);
}

TEST_F(SimChip, CtsRefreshedOnlyEveryPeriod) {
  // Reads 1 ms apart see a change only at the next 20 ms sample.
  Open("circuit=loopback;op_us=1000;cts_period_us=20000");
  for (int read = 0; read < 20; ++read) {
    CTS();
  }
  ASSERT_EQ(CTS(), 1);
  Sda(false);
  int old_reads = 0;
  while (CTS() == 1 && old_reads < 100) {
    ++old_reads;
  }
  EXPECT_LE(old_reads, 20);
  EXPECT_EQ(CTS(), 0);
}

}  // namespace

namespace {

// The master inside an adapter that runs the bus itself: a write and a
// random read at 100 kHz, 10 µs of simulated time a bit, against the same
// chip, seen by the same bus monitor.
TEST_F(SimChip, AdapterMasterRunsTheBusAtOneHundredKilohertz) {
  ASSERT_TRUE(SimConfigureText("write_ms=0"));
  SimAdapterOpen();
  const std::int64_t started = SimNanoseconds();
  MasterStart();
  EXPECT_TRUE(MasterWrite(0xAA));
  EXPECT_TRUE(MasterWrite(0x10));
  EXPECT_TRUE(MasterWrite(0x5A));
  MasterStop();
  // The simulated clock also runs on with real time.
  const std::int64_t bus_ns = (4 + 3 * 9 * 4 + 3) * 2500;
  EXPECT_GE(SimNanoseconds() - started, bus_ns);
  EXPECT_LT(SimNanoseconds() - started, bus_ns + 100'000'000);
  MasterStart();
  EXPECT_TRUE(MasterWrite(0xAA));
  EXPECT_TRUE(MasterWrite(0x10));
  MasterStart();
  EXPECT_TRUE(MasterWrite(0xAB));
  EXPECT_EQ(MasterRead(true), 0x5A);
  EXPECT_EQ(MasterRead(false), 0xFF);
  MasterStop();
  MasterStart();
  EXPECT_FALSE(MasterWrite(0xA0));
  MasterStop();
  EXPECT_EQ(SimBusLogText(), "S AA+ 10+ 5A+ P S AA+ 10+ S AB+ 5A+ FF- P S A0- P");
  SimAdapterClose();
}

}  // namespace
