// SPDX-License-Identifier: MIT
// The reference interface circuits in hardware/, simulated with ngspice
// under the program's own line sequence: the circuit check, the probe and a
// whole page write from one run of ebrilo-sim, and the start of a read in
// which the chip sends data bits from another, each run with the switches
// the circuit's file names. Each design must hold at every port it is meant
// for; a weakened copy of each must fail, to show that the check catches a
// bad circuit. The schematics' pictures must be what their sources draw.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/circuit/circuit_margins.h"
#include "tests/circuit/line_schedule.h"
#include "tests/circuit/spice_bench.h"
#include "tests/e2e/e2e_support.h"

namespace {

const std::string kHardware = std::string(EBRILO_SOURCE_DIR) + "/hardware/";

// The read covers this many data bytes: the sample dump's first two ("EB")
// hold 0 and 1 bits and changes both ways.
constexpr int kReadBytes = 2;

bool HaveCommand(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

PortModel Rs232(const char* name, double volts) {
  return {name, true, volts, 5.0};
}

PortModel Logic(const char* name, double volts) {
  return {name, false, volts, volts};
}

class CircuitTest : public ScratchDirectory {
 protected:
  void SetUp() override {
    if (!HaveCommand("ngspice")) {
      GTEST_SKIP() << "ngspice is not installed (scripts/install-deps.sh native installs it)";
    }
    ScratchDirectory::SetUp();
  }

  // Reads hardware/file: its subcircuit must have the pins in the agreed
  // order, and one comment line must name the switches it needs.
  Design Load(const std::string& file, const std::string& subcircuit) {
    Design design{subcircuit, ReadText(kHardware + file)};
    EXPECT_NE(design.text.find(".subckt " + subcircuit + " RTS DTR CTS SCL SDA VCC GND\n"),
              std::string::npos)
        << file;
    const std::regex switches_line(R"(\n\* switches: ([^\n]*)\n)");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(design.text.begin(), design.text.end(), switches_line),
                      std::sregex_iterator()),
        1)
        << file;
    std::smatch found;
    EXPECT_TRUE(std::regex_search(design.text, found, switches_line)) << file;
    switches_ = found.size() > 1 ? found[1].str() : "";
    EXPECT_TRUE(std::regex_match(switches_, std::regex("none|/[XDI]( /[XDI])*"))) << switches_;
    return design;
  }

  // The switches named in the design's file, for the program's command line,
  // and the same inversions for the simulated circuit the traces come from.
  std::vector<std::string> Switches() const {
    std::vector<std::string> switches;
    std::istringstream words(switches_ == "none" ? "" : switches_);
    for (std::string word; words >> word;) {
      switches.push_back(word);
    }
    return switches;
  }

  std::string Inversions() const {
    std::string lines;
    for (const std::string& word : Switches()) {
      lines += std::string(lines.empty() ? ";invert=" : ",") + (word == "/X"   ? "rts"
                                                                : word == "/D" ? "dtr"
                                                                               : "cts");
    }
    return lines;
  }

  std::vector<TraceChange> Trace(const std::string& name, std::vector<std::string> arguments,
                                 const std::string& sim) {
    for (const std::string& word : Switches()) {
      arguments.push_back(word);
    }
    const ProgramRun run = Run({.command = {EBRILO_SIM_PATH},
                                .arguments = arguments,
                                .sim = "trace=" + name + sim + Inversions()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    return ReadTrace(Path(name));
  }

  // The stimulus: a write run of the sample dump and a read run of a chip
  // that holds it.
  Schedule MakeSchedule(double bit_delay) {
    std::filesystem::copy_file(std::string(EBRILO_SOURCE_DIR) + "/samples/sample-dump.bin",
                               Path("dump.bin"), std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(Path("read.bin"));
    const auto write_run = Trace("write.vcd", {"dump.bin"}, "");
    const auto read_run = Trace("read.vcd", {"read.bin", "/R"}, ";load=dump.bin");
    ScheduleCounts write_counts;
    ScheduleCounts read_counts;
    const bool released_when_dtr = switches_.find("/D") == std::string::npos;
    Schedule schedule = BuildSchedule(write_run, read_run, kReadBytes, released_when_dtr,
                                      write_counts, read_counts, bit_delay);
    // The probe acknowledges its two bytes, the page write its control
    // byte, word address and 16 data bytes; the read's three addressing
    // bytes are acknowledged, then the chip sends 0 and 1 bits.
    EXPECT_EQ(write_counts.stops, 3);
    EXPECT_EQ(write_counts.chip_acknowledges, 2 + 18);
    EXPECT_EQ(read_counts.chip_acknowledges, 3);
    EXPECT_EQ(read_counts.chip_zero_bits + read_counts.chip_one_bits, 8 * kReadBytes);
    EXPECT_GT(read_counts.chip_zero_bits, 0);
    EXPECT_GT(read_counts.chip_one_bits, 0);
    return schedule;
  }

  // Simulates the design at each port, prints the margins, and returns the
  // failures found, each line headed by its port's name.
  std::string Check(const Design& design, const std::vector<PortModel>& ports,
                    double bit_delay = kBitDelay) {
    const Schedule schedule = MakeSchedule(bit_delay);
    std::string table = MarginsHead();
    std::string failures;
    for (const PortModel& port : ports) {
      const std::string directory = Path(std::to_string(&port - ports.data()));
      std::filesystem::create_directory(directory);
      const Margins margins =
          Evaluate(SimulateBench(design, port, schedule, directory), port, schedule);
      table += MarginsRow(port.name, margins);
      std::istringstream lines(margins.failures);
      for (std::string line; std::getline(lines, line);) {
        failures += port.name + ": " + line + '\n';
      }
    }
    std::cout << design.subcircuit << ", switches: " << switches_ << ", "
              << static_cast<int>(schedule.end * 1e3 + 0.5) << " ms of circuit time\n"
              << table;
    return failures;
  }

  // The design with one part's value changed, which the check must reject.
  static Design Weakened(Design design, const std::string& part, const std::string& value) {
    const std::regex line("\n(" + part + " \\S+ \\S+) \\S+\n");
    EXPECT_TRUE(std::regex_search(design.text, line)) << part;
    design.text = std::regex_replace(design.text, line, "\n$1 " + value + "\n");
    return design;
  }

  std::string switches_;
};

// The RS-232 design at a weak transceiver's, a medium and a mainboard port's
// swing.
TEST_F(CircuitTest, Rs232DesignHoldsAtEveryDriver) {
  const Design design = Load("rs232.cir", "ebrilo_rs232");
  const std::vector<PortModel> ports = {Rs232("RS-232 +-5.5 V", 5.5), Rs232("RS-232 +-9 V", 9),
                                        Rs232("RS-232 +-12 V", 12)};
  EXPECT_EQ(Check(design, ports) + Check(design, ports, 5e-6), "");
}

// The logic-level design on adapters at 3.3 V and at 5 V.
TEST_F(CircuitTest, TtlDesignHoldsAtBothVoltages) {
  const Design design = Load("ttl.cir", "ebrilo_ttl");
  EXPECT_EQ(Check(design, {Logic("logic 3.3 V", 3.3), Logic("logic 5 V", 5)}), "");
  EXPECT_EQ(Check(design, {Logic("logic 3.3 V", 3.3), Logic("logic 5 V", 5)}, 5e-6), "");
}

// SDA's pull-up made too weak for the chip's pin and the diode on it: SDA
// rises too late after DTR releases it.
TEST_F(CircuitTest, Rs232DesignWithWeakPullUpFails) {
  const Design design = Weakened(Load("rs232.cir", "ebrilo_rs232"), "R4", "1Meg");
  const std::string failures = Check(design, {Rs232("RS-232 +-5.5 V", 5.5)});
  EXPECT_NE(failures.find("SDA changed to high"), std::string::npos) << failures;
}

// CTS#'s pull-up made too weak for the cable: the adapter sees SDA's rise
// too late.
TEST_F(CircuitTest, TtlDesignWithWeakPullUpFails) {
  const Design design = Weakened(Load("ttl.cir", "ebrilo_ttl"), "R6", "1Meg");
  const std::string failures = Check(design, {Logic("logic 3.3 V", 3.3)});
  EXPECT_NE(failures.find("CTS did not read not asserted"), std::string::npos) << failures;
}

class SchematicTest : public ScratchDirectory {
 protected:
  void SetUp() override {
    if (!HaveCommand("lepton-cli")) {
      GTEST_SKIP() << "lepton-eda is not installed (scripts/install-deps.sh native installs it)";
    }
    ScratchDirectory::SetUp();
  }
};

// Each picture in hardware/ is what its schematic draws, byte for byte: a
// schematic changed without drawing its picture again fails here.
TEST_F(SchematicTest, PicturesAreDrawnFromTheirSchematics) {
  ASSERT_EQ(std::system(("sh '" + kHardware + "draw.sh' '" + directory_ + "'").c_str()), 0);
  for (const char* name : {"rs232.svg", "ttl.svg"}) {
    const std::string drawn = ReadText(Path(name));
    EXPECT_FALSE(drawn.empty()) << name;
    EXPECT_TRUE(drawn == ReadText(kHardware + name))
        << name << " differs from what hardware/draw.sh draws from its schematic";
  }
}

}  // namespace
