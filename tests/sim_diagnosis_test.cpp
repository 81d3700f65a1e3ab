// SPDX-License-Identifier: MIT
// Finding the switches that work, against the simulated circuit wired in
// each of its eight polarities and opened with each of the eight switch
// combinations, and against parts that are missing or held. A circuit and
// chip that answer at once never reach it: the port operations of that
// opening are pinned by the unit test of OpenBus.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bus/diagnosis.h"
#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "bus/twowire.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "tests/fakes/fake_clock.h"

namespace {

BusOptions Numbered(int number) {
  return {(number & 1) != 0, (number & 2) != 0, (number & 4) != 0};
}

// "/X /I" for switches, or with names "invert=" "rts" "dtr" "cts" and ",":
// "invert=rts,cts" for the simulated circuit.
std::string Named(int number, const char* lead = "", const char* x = "/X", const char* d = "/D",
                  const char* i = "/I", const char* between = " ") {
  std::string list;
  for (const auto& [bit, name] : {std::pair{1, x}, {2, d}, {4, i}}) {
    if ((number & bit) != 0) {
      list += list.empty() ? lead : between;
      list += name;
    }
  }
  return list;
}

class SimDiagnosis : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeClockReset();
    SimReset();
  }
  void TearDown() override {
    CLOSECOM();
    SimReset();
  }

  // Opens the bus as OpenBus does, over a chip that holds data, and
  // diagnoses a failed check or probe. Returns the finding, "open" when the
  // bus opened. The chip's memory and the switches come out untouched; the
  // port stays open.
  std::string OpenAndDiagnose(const std::string& sim, int switches) {
    CLOSECOM();
    EXPECT_TRUE(SimConfigureText("write_ms=0;" + sim));
    std::fill(SimData().begin(), SimData().end(), 0x5A);
    bus_options = Numbered(switches);
    OPENCOM("COM1: baud=9600 parity=N data=8 stop=0");
    SdaHigh();
    SclHigh();
    std::string finding = "open";
    if (const bool check_passed = CheckCircuit();
        !check_passed || !ProbeDevice(ProbeControlByte())) {
      finding = DiagnoseBus(check_passed);
    }
    EXPECT_EQ(SimGetCounters().stored_writes, 0U);
    EXPECT_EQ(std::count(SimData().begin(), SimData().end(), 0x5A), 1024);
    const BusOptions given = Numbered(switches);
    EXPECT_TRUE(bus_options.invert_scl == given.invert_scl &&
                bus_options.invert_sda_out == given.invert_sda_out &&
                bus_options.invert_sda_in == given.invert_sda_in);
    return finding;
  }
};

// Every wiring with every wrong switches finds the wiring, names the
// switches to leave out, and leaves the bus idle for the right ones.
TEST_F(SimDiagnosis, EveryWrongPolarityFindsTheWiring) {
  for (int wiring = 0; wiring < 8; ++wiring) {
    const std::string sim = Named(wiring, "invert=", "rts", "dtr", "cts", ",");
    for (int switches = 0; switches < 8; ++switches) {
      SCOPED_TRACE(sim + " with switches " + Named(switches));
      const std::string finding = OpenAndDiagnose(sim, switches);
      const std::string wanted = Named(wiring);
      const std::string dropped = Named(switches & ~wiring);
      if (wiring == switches) {
        EXPECT_EQ(finding, "open");
      } else if (wanted.empty()) {
        EXPECT_EQ(finding,
                  "the circuit and the chip answer without /X /D /I switches: run again without "
                  "them");
      } else {
        EXPECT_EQ(finding, "the circuit and the chip answer with " + wanted + ": run again with " +
                               (wanted.size() == 2 ? "that switch" : "those switches") +
                               (dropped.empty() ? "" : ", without " + dropped));
      }
      bus_options = Numbered(wiring);
      EXPECT_TRUE(BusFree());
    }
  }
}

// Beyond the end-to-end cases: a chipless circuit that inverts data, a
// chip holding SDA behind an inverted CTS (the held line acknowledges the
// address nobody has too), and ports that are gone, which tell nothing.
TEST_F(SimDiagnosis, HeldLinesAndDeadPortsAreNotTakenForAChip) {
  EXPECT_EQ(OpenAndDiagnose("chip=absent;invert=dtr", 0),
            "CTS follows DTR inverted, but no chip acknowledges with any switches: check the "
            "chip, its power and its pins");
  EXPECT_EQ(OpenAndDiagnose("circuit=loopback", 4),
            "CTS follows DTR, but no chip acknowledges with any switches: check the chip, its "
            "power and its pins");
  EXPECT_EQ(OpenAndDiagnose("stuck=100000000;invert=cts", 0),
            "CTS never changes when DTR does (it stays high): check the cable, the circuit's "
            "power and the port");
  EXPECT_EQ(OpenAndDiagnose("port_fail=open", 0), "");
  EXPECT_EQ(OpenAndDiagnose("port_fail=0", 0), "");
}

}  // namespace
