// SPDX-License-Identifier: MIT
// Opening the bus against circuits and chips that are missing or wired the
// other way round: error 4 when the loop-back check fails, 5 when no chip
// answers the probe, and a completed run where switches and wiring agree.
#include "tests/e2e/e2e_support.h"

namespace {

using BusRun = ScratchDirectory;

TEST_F(BusRun, CircuitAndChipChecksInEachPolarity) {
  struct Case {
    const char* sim;
    std::vector<std::string> switches;
    int status;
  };
  const Case cases[] = {
      // CTS never asserted fails the loop-back check in either input polarity.
      {"circuit=none", {}, 4},
      {"circuit=none", {"/I"}, 4},
      // A loop-back plug passes the check but nothing answers the probe...
      {"circuit=loopback", {}, 5},
      {"circuit=loopback", {"/I", "/D"}, 5},
      // ... unless only the input is inverted: CTS then follows DTR the wrong way.
      {"circuit=loopback", {"/I"}, 4},
      {"chip=absent", {}, 5},
      {"chip=absent", {"/X"}, 5},
      // A circuit that inverts CTS needs /I, and one that does not must not get it.
      {"invert=cts", {}, 4},
      {"", {"/I"}, 4},
      {"invert=cts", {"/I"}, 0},
      // Healthy in every polarity the switches and the wiring agree on.
      {"", {}, 0},
      {"invert=dtr,cts", {"/D", "/I"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sim) + " with " + std::to_string(c.switches.size()) + " switches");
    std::vector<std::string> arguments = {"/P"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = Run({.arguments = arguments, .sim = c.sim});
    std::string expected = RunHead();
    if (c.status == 4) {
      expected += Lines({"ERROR: Circuit not found or bus error!"});
    } else if (c.status == 5) {
      expected += Lines({"ERROR: Eeprom not available!"});
    } else {
      expected += Lines({"", "Resetting APP...", "Done."});
    }
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), expected + Closing());
    EXPECT_EQ(run.status, c.status);
  }
}

}  // namespace
