// SPDX-License-Identifier: MIT
// Finding the switches that work, against the simulated circuit wired in
// each of its eight polarities and opened with each of the eight switch
// combinations, and against circuits and chips that are missing or held.
// The tick counter is the fake, so the port's settling wait passes at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bus/diagnosis.h"
#include "bus/serial_lines.h"
#include "bus/twowire.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "tests/fakes/fake_clock.h"
#include "timing/delay.h"

namespace {

constexpr std::uint8_t kOldContents = 0x5A;

BusOptions Numbered(int number) {
  return {(number & 1) != 0, (number & 2) != 0, (number & 4) != 0};
}

std::string Inversions(const BusOptions& options) {
  std::string list;
  for (const auto& [inverted, name] : {std::pair{options.invert_scl, "rts"},
                                       {options.invert_sda_out, "dtr"},
                                       {options.invert_sda_in, "cts"}}) {
    if (inverted) {
      list += list.empty() ? "invert=" : ",";
      list += name;
    }
  }
  return list;
}

std::string Switches(const BusOptions& options) {
  std::string list;
  for (const auto& [given, name] : {std::pair{options.invert_scl, "/X"},
                                    {options.invert_sda_out, "/D"},
                                    {options.invert_sda_in, "/I"}}) {
    if (given) {
      list += list.empty() ? "" : " ";
      list += name;
    }
  }
  return list;
}

class SimDiagnosis : public ::testing::Test {
 protected:
  void SetUp() override {
    delay_count = 0;
    FakeClockReset();
    SimReset();
  }
  void TearDown() override {
    CLOSECOM();
    SimReset();
  }

  // Opens the bus as OpenBus does, over a chip whose memory holds old
  // contents, and diagnoses when the check or the probe fails. Returns the
  // finding; "open" when the bus opened. The chip must come out untouched
  // and the switches as given. The port stays open.
  std::string OpenAndDiagnose(const std::string& sim, const BusOptions& given) {
    CLOSECOM();
    EXPECT_TRUE(SimConfigureText("write_ms=0;" + sim));
    std::fill(SimData().begin(), SimData().end(), kOldContents);
    bus_options = given;
    OPENCOM("COM1: baud=9600 parity=N data=8 stop=0");
    SdaHigh();
    SclHigh();
    std::string finding = "open";
    if (const bool check_passed = CheckCircuit();
        !check_passed || !ProbeDevice(kProbeControlByte)) {
      finding = DiagnoseBus(check_passed);
    }
    EXPECT_EQ(SimGetCounters().stored_writes, 0U);
    EXPECT_TRUE(std::all_of(SimData().begin(), SimData().end(),
                            [](std::uint8_t byte) { return byte == kOldContents; }));
    EXPECT_EQ(Switches(bus_options), Switches(given));
    return finding;
  }
};

// Every wiring with every switches: the right ones open the bus, any other
// finds them, names the ones to leave out, and leaves the bus idle for them.
TEST_F(SimDiagnosis, EveryWrongPolarityFindsTheWiring) {
  for (int wiring = 0; wiring < 8; ++wiring) {
    const BusOptions circuit = Numbered(wiring);
    for (int switches = 0; switches < 8; ++switches) {
      const BusOptions given = Numbered(switches);
      SCOPED_TRACE(Inversions(circuit) + " with switches " + Switches(given));
      if (wiring == switches) {
        EXPECT_EQ(OpenAndDiagnose(Inversions(circuit), given), "open");
        continue;
      }
      const std::string wanted = Switches(circuit);
      std::string expected;
      if (wanted.empty()) {
        expected =
            "the circuit and the chip answer without /X /D /I switches: run again without them";
      } else {
        expected = "the circuit and the chip answer with " + wanted + ": run again with " +
                   (wanted.size() == 2 ? "that switch" : "those switches");
        const std::string dropped = Switches(Numbered(switches & ~wiring));
        expected += dropped.empty() ? "" : ", without " + dropped;
      }
      EXPECT_EQ(OpenAndDiagnose(Inversions(circuit), given), expected);
      // The bus was left idle in the circuit's own polarity: the chip takes
      // a START at once.
      bus_options = circuit;
      EXPECT_TRUE(BusFree());
    }
  }
}

// Nothing answers, or something holds SDA: each has its own finding, and
// none claims that some switches work.
TEST_F(SimDiagnosis, MissingOrHeldPartsAreNamed) {
  const std::string low =
      "CTS never changes when DTR does (it stays low): check the cable, the circuit's power and "
      "the port";
  const std::string follows =
      "CTS follows DTR, but no chip acknowledges with any switches: check the chip, its power and "
      "its pins";
  const struct {
    const char* sim;
    int switches;
    std::string finding;
  } cases[] = {
      {"circuit=none", 0, low},
      {"circuit=none", 4, low},
      // A loop-back plug is a circuit without a chip as far as the port can
      // tell. With /I alone the probe reads its own released SDA as an
      // acknowledge, but then the check has already failed.
      {"circuit=loopback", 0, follows},
      {"circuit=loopback", 4, follows},
      {"chip=absent", 0, follows},
      {"chip=absent;invert=dtr", 0,
       "CTS follows DTR inverted, but no chip acknowledges with any switches: check the chip, its "
       "power and its pins"},
      // A chip that never lets go of SDA behind a circuit inverting CTS: the
      // held line acknowledges every address, the one nobody has included.
      {"stuck=100000000;invert=cts", 0,
       "CTS never changes when DTR does (it stays high): check the cable, the circuit's power and "
       "the port"},
      // A port that is gone tells nothing; the port's own report stands.
      {"port_fail=open", 0, ""},
      {"port_fail=0", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sim) + " with switches " + Switches(Numbered(c.switches)));
    EXPECT_EQ(OpenAndDiagnose(c.sim, Numbered(c.switches)), c.finding);
  }
}

// A circuit and chip that answer at once see the same port operations as
// before there was a diagnosis: the idle bus, the check and one probe with
// its single clearing pulse, nothing else. (The first STOP and START come
// from the lines' own levels at opening.)
TEST_F(SimDiagnosis, WorkingCircuitGetsOnlyTheCheckAndTheProbe) {
  ASSERT_TRUE(SimConfigureText("invert=rts,cts"));
  bus_options = Numbered(5);
  OpenBus();
  const SimCounters counters = SimGetCounters();
  EXPECT_EQ(SimBusLogText(), "P S P S A8+ 00+ P");
  EXPECT_EQ(counters.dtr_calls, 26U);
  EXPECT_EQ(counters.rts_calls, 46U);
  EXPECT_EQ(counters.cts_calls, 4U);
}

}  // namespace
