// SPDX-License-Identifier: MIT
// The plain 24Cxx chips on each kind of carrier: a 24C02 (one address byte,
// 8-byte pages) and a 24C64 (two address bytes, 32-byte pages), strapped at
// address pins 5, written with /F /V and read back; and the chip looked for
// at pins 0, where the program says where it answers instead.
#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/e2e/bus_trace.h"
#include "tests/e2e/fault_run.h"

namespace {

class ChipRun : public ScratchDirectory, public ::testing::WithParamInterface<std::string> {};

TEST_P(ChipRun, WrittenVerifiedAndReadBackAtItsPins) {
  const std::string port = "/PORT:" + GetParam();
  const struct {
    std::string name;
    std::size_t size;
    int write_marks;  // a page each, at most 64
    int read_marks;   // 128 bytes each, at most 64
  } chips[] = {{"24C02", 256, 32, 2}, {"24C64", 8192, 64, 64}};
  for (const auto& chip : chips) {
    SCOPED_TRACE(chip.name);
    const Bytes image = RandomBytes(static_cast<std::uint32_t>(chip.size), chip.size);
    WriteFile("dump.bin", image);
    const std::string sim = "chip=" + chip.name + ";pins=5;";
    const std::vector<std::string> switches = {"/CHIP:AT" + chip.name, "/ADDR:5", port};
    std::vector<std::string> arguments = {"dump.bin", "/F", "/V"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    ProgramRun run = Run({.arguments = arguments, .sim = sim + "save=chip.bin"});
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead(GetParam() == "COM1") +
                            Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                   Marks(chip.write_marks), "Verifying eeprom...",
                                   Marks(chip.read_marks), "Done."}) +
                            Closing());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);

    std::filesystem::remove(Path("copy.bin"));
    arguments = {"copy.bin", "/R"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    run = Run({.arguments = arguments, .sim = sim + "load=chip.bin"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
  }
  const ProgramRun lost =
      Run({.arguments = {"dump.bin", "/CHIP:24C64", port}, .sim = "chip=24C64;pins=5"});
  EXPECT_EQ(lost.status, 5);
  EXPECT_TRUE(lost.err.ends_with("ebrilo: a chip answers at address pins 5: try /ADDR:5\r\n"))
      << lost.err;
}

// /KHZ: refused before the bus opens or noted; a reread names a slower one; SCL high >= 4.0 us.
TEST_P(ChipRun, BusClock) {
  const char* rows[][5] = {{"", "24C02", "/KHZ:50 runs", "/KHZ:100 runs", ""},
                           {"/KHZ:400", "24C02", "1 to 100", "/KHZ:100 runs", "has no meaning"},
                           {"/KHZ:13", "24RF08", "1 to 12", "20 or 100", "has no meaning"},
                           {"/KHZ:20", "24RF08", "1 to 12", "", "has no meaning"}};
  const int at = GetParam() == "COM1" ? 2 : GetParam() == "ch341a" ? 3 : 4;
  for (const auto& row : rows) {
    const std::string n = std::to_string(&row - rows);
    const ProgramRun run =
        Run({.arguments = {n, "/R", "/CHIP:" + std::string(row[1]), row[0], "/PORT:" + GetParam()},
             .sim = "flip=2;trace=" + n + ".vcd;chip=" + row[1]});
    const bool refused = run.err.find("nothing was sent") != std::string::npos;
    EXPECT_TRUE(run.err.find(row[at]) != std::string::npos && run.status == refused &&
                std::filesystem::exists(Path(n + ".vcd")) != refused)
        << row[0] << run.err;
    EXPECT_GE(at != 2 || n != "0" ? 5 : std::ranges::min(SclHighTimes(Path(n + ".vcd"))), 4.0);
  }
}

// The large parts, one carrier each: a 24LC1025 (its block bit in A2's
// place, pin 3 high) written, verified and read back across its halves, and
// an AT24CM02 (two block bits, 10 ms write cycles); and a 24LC1025 looked
// for as a 24C512 at pins it is not at, named by its addresses four apart.
using LargePartRun = ScratchDirectory;

TEST_F(LargePartRun, WrittenVerifiedAndReadBackAcrossTheirBlocks) {
  for (const auto& [chip, pins, size, sim, port] :
       {std::tuple{"24LC1025", "1", 131072U, "chip=24C1025;pins=5;", "/PORT:i2c-1"},
        {"AT24CM02", "4", 262144U, "chip=24M02;pins=4;", "/PORT:ch341a"}}) {
    SCOPED_TRACE(chip);
    const Bytes image = RandomBytes(size, size);
    WriteFile("dump.bin", image);
    const std::string chip_switch = std::string("/CHIP:") + chip;
    const std::string addr = std::string("/ADDR:") + pins;
    ProgramRun run = Run({.arguments = {"dump.bin", "/F", "/V", chip_switch, addr, port},
                          .sim = std::string(sim) + "save=chip.bin"});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                        RunHead(false) +
                            Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                   Marks(64), "Verifying eeprom...", Marks(64), "Done."}) +
                            Closing());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
    run = Run({.arguments = {"copy.bin", "/R", chip_switch, addr, port},
               .sim = std::string(sim) + "load=chip.bin"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
    std::filesystem::remove(Path("copy.bin"));
  }
  WriteFile("dump.bin", Bytes(65536));
  const ProgramRun lost = Run({.arguments = {"dump.bin", "/CHIP:24C512", "/ADDR:1", "/PORT:i2c-1"},
                               .sim = "chip=24C1025;pins=4"});
  EXPECT_EQ(lost.status, 5);
  EXPECT_TRUE(lost.err.ends_with(
      "ebrilo: chips answer at address pins 0 and 4: try /ADDR:0 or /ADDR:4 (one chip with block "
      "bits answers at several: a 24C1025 or a 24C515 at 2 addresses four apart)\r\n"))
      << lost.err;
}

INSTANTIATE_TEST_SUITE_P(Carriers, ChipRun, ::testing::Values("COM1", "i2c-1", "ch341a"),
                         [](const ::testing::TestParamInfo<std::string>& carrier) {
                           return carrier.param == "COM1"    ? std::string("SerialPort")
                                  : carrier.param == "i2c-1" ? std::string("I2cAdapter")
                                                             : std::string("Ch341a");
                         });

}  // namespace
