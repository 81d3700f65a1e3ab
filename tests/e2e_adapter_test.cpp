// SPDX-License-Identifier: MIT
// USB serial adapters, through the simulator's adapter model: 1 ms per line
// operation, and a CTS that lags or is refreshed only every so often. The
// check measures the lag and says so on standard error; every run then
// writes and reads exactly the right bytes, and a lag grown after the check
// fails the run, never ends it with "Done.".
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/e2e/e2e_support.h"

namespace {

// Fast enough that a whole write and verify, at 1 ms per line operation,
// takes seconds.
const std::string kAdapter = "speed=100;op_us=1000;";

const std::regex kLagLine(
    "ebrilo: COM1: CTS follows after [0-9]+\\.[0-9] ms; "
    "each read of the data line waits [0-9]+\\.[0-9] ms\r\n");

class AdapterRun : public ScratchDirectory {
 protected:
  // A page-mode write with /V and a read, with a lagging CTS and with one
  // refreshed every 16 ms (the default latency timer of Windows drivers), of
  // a 24C01: each bit read waits out the lag, on a busy machine too.
  void ExpectWriteAndReadExact(const std::string& cts) const {
    Bytes image = PatternImage(31);
    image.resize(128);
    WriteFile("dump.bin", image);
    ProgramRun run = Run({.arguments = {"dump.bin", "/V", "/CHIP:24C01"},
                          .sim = kAdapter + cts + ";chip=24C01;save=chip.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\r\nDone.\r\n"), std::string::npos);
    EXPECT_TRUE(std::regex_match(run.err, kLagLine)) << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);

    std::remove(Path("copy.bin").c_str());
    run = Run({.arguments = {"copy.bin", "/R", "/CHIP:24C01"},
               .sim = kAdapter + cts + ";chip=24C01;load=dump.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::regex_match(run.err, kLagLine)) << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
  }

  // The lag grows from 3 ms after the check, in the middle of a write or a
  // read. Never a wrong byte, never a false "Done.": a run either fails (no
  // "Done.", no file) or, where the program's reads happened to come late
  // enough for the grown lag (at a high simulated speed any pause of the
  // machine lengthens every wait many times), holds exactly the right bytes.
  void ExpectGrownLagSafe(const std::string& adapter, bool must_fail) const {
    const Bytes image = PatternImage(33);
    WriteFile("dump.bin", image);
    WriteFile("old.bin", PatternImage(34));
    const std::string sim = adapter + ";cts_lag_us=3000;";
    ProgramRun run =
        Run({.arguments = {"dump.bin", "/V"}, .sim = sim + "load=old.bin;save=chip.bin"});
    if (must_fail || run.status != 0) {
      EXPECT_EQ(run.status, 6);
      EXPECT_EQ(run.out.find("Done."), std::string::npos);
    } else {
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
    }

    std::remove(Path("copy.bin").c_str());
    run = Run({.arguments = {"copy.bin", "/R"}, .sim = sim + "load=dump.bin"});
    if (must_fail || run.status != 0) {
      EXPECT_EQ(run.status, 7);
      EXPECT_EQ(run.out.find("Done."), std::string::npos);
      EXPECT_FALSE(std::filesystem::exists(Path("copy.bin")));
    } else {
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
    }
  }
};

TEST_F(AdapterRun, LaggingCtsWritesAndReadsExactly) {
  ExpectWriteAndReadExact("cts_lag_us=3000");
}

TEST_F(AdapterRun, PeriodicCtsWritesAndReadsExactly) {
  ExpectWriteAndReadExact("cts_period_us=16000");
}

// A circuit that inverts CTS behind a lagging adapter: the lag is measured on
// CTS's changes whichever way they go, and the search for switches that
// work reads with the settle time it gave.
TEST_F(AdapterRun, LaggingCtsStillFindsTheSwitchesThatWork) {
  const ProgramRun run =
      Run({.arguments = {"/P"}, .sim = kAdapter + "cts_period_us=16000;invert=cts"});
  EXPECT_EQ(run.status, 4);
  const std::size_t first_line = run.err.find('\n') + 1;
  EXPECT_TRUE(std::regex_match(run.err.substr(0, first_line), kLagLine)) << run.err;
  EXPECT_EQ(run.err.substr(first_line),
            "ebrilo: the circuit and the chip answer with /I: run again with that switch\r\n");
}

// An adapter whose CTS follows at once only costs time: no read waits.
TEST_F(AdapterRun, PromptCtsNeedsNoSettle) {
  const Bytes image = PatternImage(32);
  WriteFile("dump.bin", image);
  const ProgramRun run = Run({.arguments = {"dump.bin", "/V"}, .sim = kAdapter + "save=chip.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "ebrilo: COM1: each line change takes 1.0 ms; CTS follows at once\r\n");
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
}

// No circuit on a slow port: CTS never follows SDA-Out, error 4, and the
// search for switches that work finds none.
TEST_F(AdapterRun, CtsThatNeverFollowsFailsTheCheck) {
  const ProgramRun run = Run({.arguments = {"/P"}, .sim = kAdapter + "circuit=none"});
  EXPECT_EQ(run.status, 4);
  EXPECT_NE(run.out.find("ERROR: Circuit not found or bus error!"), std::string::npos);
  EXPECT_EQ(run.err,
            "ebrilo: COM1: CTS did not follow DTR within 100 ms\r\n"
            "ebrilo: CTS never changes when DTR does (it stays low): check the cable, the "
            "circuit's power and the port\r\n");
}

// A lag that wanders after the check, from 3 ms up to nearly twice what the
// check measured, is within the reads' settle time: exact bytes, status 0.
TEST_F(AdapterRun, LagGrownToTwiceTheMeasuredStillReadsExactly) {
  const Bytes image = PatternImage(35);
  WriteFile("dump.bin", image);
  const ProgramRun run = Run({.arguments = {"copy.bin", "/R"},
                              .sim = kAdapter + "cts_lag_us=3000;lag_from=1:6000;load=dump.bin"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(std::regex_match(run.err, kLagLine)) << run.err;
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
}

// On a lagging port SDA stays low for the longest lag the program works with
// (100 ms) before every STOP, so that the read after it can tell a CTS that
// has fallen behind by up to that much. Read from the trace's bus lines; the
// check's own SDA changes under a high SCL, before any clock, end no
// transaction.
TEST_F(AdapterRun, LaggingPortHoldsSdaLowBeforeEveryStop) {
  WriteFile("dump.bin", PatternImage(36));
  const ProgramRun run = Run({.arguments = {"copy.bin", "/R"},
                              .sim = kAdapter + "cts_lag_us=3000;load=dump.bin;trace=run.vcd"});
  ASSERT_EQ(run.status, 0) << run.out;
  std::ifstream trace(Path("run.vcd"));
  std::int64_t now = 0;
  std::int64_t sda_fell_at = 0;
  bool scl = false;
  bool clocked = false;  // SCL has fallen since the last STOP
  int stops = 0;
  for (std::string line; std::getline(trace, line);) {
    if (line.starts_with('#')) {
      now = std::stoll(line.substr(1));
    } else if (line == "0!" || line == "1!") {
      clocked = clocked || (scl && line[0] == '0');
      scl = line[0] == '1';
    } else if (line == "0\"") {
      sda_fell_at = now;
    } else if (line == "1\"" && scl && clocked) {
      ++stops;
      clocked = false;
      EXPECT_GE(now - sda_fell_at, 100'000'000) << "STOP " << stops << " at " << now << " ns";
    }
  }
  EXPECT_EQ(stops, 2 + 16) << "the probe's two and one for each of two reads of each block";
}

TEST_F(AdapterRun, LagGrownAfterTheCheckNeverGivesAWrongByte) {
  for (const std::string grown : {"lag_from=5:8000", "lag_from=5:20000"}) {
    SCOPED_TRACE(grown);
    ExpectGrownLagSafe(kAdapter + grown, false);
  }
}

// Grown to a whole second, beyond any read settle the check can give (twice
// the longest lag it saw, under its limit of 100 ms unless the machine stalls
// the program in the middle of the check), it always fails. At speed 10 such
// a stall would have to last 50 ms; against a lag grown to 60 ms, a stall of
// 3 ms, which a busy machine made, let the run go on at a crawl.
TEST_F(AdapterRun, LagGrownFarBeyondTheSettleFailsTheRun) {
  ExpectGrownLagSafe("speed=10;op_us=1000;lag_from=5:1000000", true);
}

}  // namespace
