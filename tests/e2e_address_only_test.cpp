// SPDX-License-Identifier: MIT
// The 24RF08 is corrupted by an acknowledged write address followed at once
// by a STOP: the next transaction it acknowledges can change what it holds,
// its access protection (the APP block) included. Every job, run against a
// simulated chip that has that fault, must send no such write and leave the
// APP registers no job writes as they were.
#include <algorithm>

#include "tests/e2e/e2e_support.h"

namespace {

using AddressOnlyWrites = ScratchDirectory;

TEST_F(AddressOnlyWrites, NoJobSendsOne) {
  WriteFile("dump.bin", PatternImage(23));
  const Bytes app(16, 0x5A);
  WriteFile("app.bin", app);
  const struct {
    std::vector<std::string> arguments;
    const char* sim;
    int status;
  } cases[] = {
      {{"dump.bin", "/F"}, "", 0},
      {{"dump.bin", "/F", "/B"}, "", 0},
      {{"dump.bin", "/F", "/V"}, "", 0},
      {{"/P", "/F"}, "", 0},
      {{"read.bin", "/R"}, "", 0},
      // A wrongly wired CTS: the search for the switches that work.
      {{"dump.bin"}, "invert=cts;", 4},
      // Through the I2C adapter: every poll and probe is one message.
      {{"dump.bin", "/V", "/F", "/PORT:i2c-1"}, "", 0},
      {{"/P", "/F", "/PORT:i2c-1"}, "", 0},
      {{"adapter-read.bin", "/PORT:i2c-1", "/R"}, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments.back() + " " + c.sim);
    const ProgramRun run =
        Run({.arguments = c.arguments,
             .sim = std::string(c.sim) +
                    "address_only_fault;app_load=app.bin;app_save=app.out;trace=run.vcd"});
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    Bytes expected = app;
    if (c.arguments[0] == "/P") {
      std::fill_n(expected.begin(), 10, 0xFF);
    }
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("app.out"), expected);
    // The trace's address_only line changes at every such write.
    const Bytes trace = ReadFile("run.vcd");
    EXPECT_EQ(std::string(trace.begin(), trace.end()).find("\n1'\n"), std::string::npos);
  }
}

}  // namespace
