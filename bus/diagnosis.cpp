// SPDX-License-Identifier: MIT
#include "bus/diagnosis.h"

#include <cstdint>

#include "bus/chip_addressing.h"
#include "bus/serial_lines.h"
#include "bus/twowire.h"

namespace {

// Every combination of the three switches, in the order they are tried:
// fewest switches first, and as the usage lists them among equals. The
// first that works is the one suggested.
constexpr int kCombinations = 8;
constexpr BusOptions kCombination[kCombinations] = {
    {false, false, false}, {true, false, false}, {false, true, false}, {false, false, true},
    {true, true, false},   {true, false, true},  {false, true, true},  {true, true, true},
};

bool SameOptions(const BusOptions& a, const BusOptions& b) {
  return a.invert_scl == b.invert_scl && a.invert_sda_out == b.invert_sda_out &&
         a.invert_sda_in == b.invert_sda_in;
}

// What a run given the switches in bus_options does once the port has
// settled: the bus made idle, the loop-back check and, if it passes, the
// probe. Then, only when the chip seemed to answer, the probe of the address
// no device has (kNobodyControlByte), which must go unanswered. Sets check_passed; true when
// all of it came out as from a working circuit and chip.
bool TryOptions(bool& check_passed) {
  SdaHigh();
  SclHigh();
  check_passed = CheckCircuit();
  return check_passed && ProbeDevice(ProbeControlByte()) && !ProbeDevice(kNobodyControlByte);
}

std::string SwitchList(const BusOptions& options) {
  std::string list;
  const auto add = [&list](bool given, const char* name) {
    if (given) {
      list += list.empty() ? "" : " ";
      list += name;
    }
  };
  add(options.invert_scl, "/X");
  add(options.invert_sda_out, "/D");
  add(options.invert_sda_in, "/I");
  return list;
}

std::string WorkingSwitches(const BusOptions& found, const BusOptions& given) {
  const std::string list = SwitchList(found);
  if (list.empty()) {
    return "the circuit and the chip answer without /X /D /I switches: run again without them";
  }
  std::string line = "the circuit and the chip answer with " + list + ": run again with ";
  line += list.find(' ') == std::string::npos ? "that switch" : "those switches";
  // Switches given that the circuit does not want are named, so that the
  // run is not repeated with them as well.
  const std::string dropped = SwitchList({given.invert_scl && !found.invert_scl,
                                          given.invert_sda_out && !found.invert_sda_out,
                                          given.invert_sda_in && !found.invert_sda_in});
  if (!dropped.empty()) {
    line += ", without " + dropped;
  }
  return line;
}

// Nothing worked. The check passes exactly when CTS is asserted after the
// SDA-Out level it drives, and the eight combinations drive DTR both ways:
// asserted when /D and /I are both given or both left out, released
// otherwise. Which of them passed tells how CTS answers DTR.
std::string NothingWorks(const bool (&check_passed)[kCombinations]) {
  bool follows = true;
  bool opposes = true;
  bool stays_low = true;
  bool stays_high = true;
  for (int index = 0; index < kCombinations; ++index) {
    const bool dtr_asserted =
        kCombination[index].invert_sda_out == kCombination[index].invert_sda_in;
    const bool passed = check_passed[index];
    follows = follows && passed == dtr_asserted;
    opposes = opposes && passed != dtr_asserted;
    stays_low = stays_low && !passed;
    stays_high = stays_high && passed;
  }
  if (stays_low || stays_high) {
    return std::string("CTS never changes when DTR does (it stays ") +
           (stays_low ? "low" : "high") + "): check the cable, the circuit's power and the port";
  }
  if (follows || opposes) {
    return std::string("CTS follows DTR") + (opposes ? " inverted" : "") +
           ", but no chip acknowledges with any switches: check the chip, its power and its pins";
  }
  return "CTS answers DTR differently under different switches: "
         "check the circuit's wiring and its power";
}

}  // namespace

std::string DiagnoseBus(bool check_passed) {
  if (LinesFailed()) {
    return {};
  }
  const BusOptions given = bus_options;
  bool passed[kCombinations] = {};
  int found = -1;
  for (int index = 0; index < kCombinations && found == -1; ++index) {
    if (SameOptions(kCombination[index], given)) {
      passed[index] = check_passed;
      continue;
    }
    bus_options = kCombination[index];
    if (TryOptions(passed[index])) {
      found = index;
    }
    if (LinesFailed()) {
      bus_options = given;
      return {};
    }
  }
  // A working combination's probe left the bus idle in its polarity, which is
  // the bus's real idle state. Otherwise the bus is stopped and left idle as
  // the given switches see it, as a failed probe leaves it.
  if (found == -1) {
    bus_options = given;
    SendStop();
    return NothingWorks(passed);
  }
  bus_options = given;
  return WorkingSwitches(kCombination[found], given);
}
