// SPDX-License-Identifier: MIT
// A run whose circuit check or probe fails, as a new user meets it: the
// usual error on standard output and as exit status, and one line on
// standard error saying which switches work, or what is missing. The chip
// comes out as it went in.
#include "tests/e2e/fault_run.h"

namespace {

using Diagnosis = FaultRun;

std::string Finding(const std::string& text) {
  return "ebrilo: " + text + "\r\n";
}

TEST_F(Diagnosis, EachWiringGetsItsOwnFinding) {
  const std::string no_chip =
      "CTS follows DTR, but no chip acknowledges with any switches: check the chip, its power "
      "and its pins";
  const struct {
    const char* sim;
    std::vector<std::string> switches;
    int status;
    std::string finding;
  } cases[] = {
      {"invert=rts", {}, 5, "the circuit and the chip answer with /X: run again with that switch"},
      {"invert=dtr", {}, 4, "the circuit and the chip answer with /D: run again with that switch"},
      {"invert=cts", {}, 4, "the circuit and the chip answer with /I: run again with that switch"},
      {"invert=rts,cts",
       {},
       4,
       "the circuit and the chip answer with /X /I: run again with those switches"},
      {"circuit=none",
       {},
       4,
       "CTS never changes when DTR does (it stays low): check the cable, the circuit's power and "
       "the port"},
      {"circuit=loopback", {}, 5, no_chip},
      {"chip=absent", {}, 5, no_chip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sim) + (c.switches.empty() ? "" : " with " + c.switches[0]));
    const Bytes before = RandomBytes(80, 1024);
    const ImageWrite write = WriteImage(RandomBytes(81, 1024), before, c.switches, c.sim);
    EXPECT_PRED_FORMAT2(
        TextsMatch, MaskDelayCount(write.run.out),
        RunHead() +
            Lines({"Eeprom dump size: OK", c.status == 4 ? "ERROR: Circuit not found or bus error!"
                                                         : "ERROR: Eeprom not available!"}) +
            Closing());
    EXPECT_EQ(write.run.status, c.status);
    EXPECT_EQ(write.run.err, Finding(c.finding));
    EXPECT_EQ(write.after, before);
  }
  // Switches and wiring that agree: not a word on standard error.
  const ProgramRun run = Run({.arguments = {"/P", "/X", "/I"}, .sim = "invert=rts,cts"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

}  // namespace
