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

// /KHZ: refused before the bus opens or noted; a reread names a slower one; SCL high >= 5 us.
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
    EXPECT_GE(at != 2 || n != "0" ? 5 : std::ranges::min(SclHighTimes(Path(n + ".vcd"))), 5.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Carriers, ChipRun, ::testing::Values("COM1", "i2c-1", "ch341a"),
                         [](const ::testing::TestParamInfo<std::string>& carrier) {
                           return carrier.param == "COM1"    ? std::string("SerialPort")
                                  : carrier.param == "i2c-1" ? std::string("I2cAdapter")
                                                             : std::string("Ch341a");
                         });

}  // namespace
