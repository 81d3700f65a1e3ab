// SPDX-License-Identifier: MIT
// The plain 24Cxx chips on each kind of carrier: a 24C02 (one address byte,
// 8-byte pages) and a 24C64 (two address bytes, 32-byte pages), strapped at
// address pins 5, written with /F /V and read back; and the chip looked for
// elsewhere, where the program says what answers instead; every chip listed.
#include <algorithm>
#include <array>
#include <filesystem>
#include <iterator>
#include <sstream>
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
}

// Standard error ends with a line for each chip that answers elsewhere,
// saying what to type (status 5): each kind of line the search has.
TEST_P(ChipRun, WhatAnswersElsewhereIsNamed) {
  for (const auto& [sim, switches, line] : std::initializer_list<std::array<std::string, 3>>{
           {"chip=24C64;pins=5", "/CHIP:24C64", "a chip answers at address pins 5: try /ADDR:5"},
           {"", "/CHIP:24C02", "a 24RF08 answers: leave /CHIP: out"},
           {"", "/CHIP:24C02 /ADDR:3", "a 24RF08 answers: leave /CHIP: and /ADDR: out"},
           {"chip=24C08", "",
            "chips answer at address pins 0 to 3, as one 24C08 or 24M02 would: try /CHIP:24C08 or "
            "/CHIP:24M02"},
           {"chip=24C04;pins=6", "",
            "chips answer at address pins 6 and 7, as one 24C04 or 24M01 at /ADDR:6 would: try "
            "/CHIP:24C04 /ADDR:6 or /CHIP:24M01 /ADDR:6"},
           {"chip=24C32;pins=3", "",
            "a chip answers at address pins 3: give /CHIP: the name printed on it, and /ADDR:3"},
           {"chip=24C08;pins=4", "/CHIP:24C02",
            "chips answer at address pins 4, 5, 6 and 7: try /ADDR:4, /ADDR:5, /ADDR:6 or /ADDR:7 "
            "(one chip with block bits answers at several: a 24C04 or a 24M01 at 2 addresses, a "
            "24C08 or a 24M02 at 4, a 24C16 at 8)"},
           {"chip=24C1025;pins=4", "/CHIP:24C512 /ADDR:1",
            "chips answer at address pins 0 and 4: try /ADDR:0 or /ADDR:4 (one chip with block "
            "bits "
            "answers at several: a 24C1025 or a 24C515 at 2 addresses four apart)"}}) {
    std::vector<std::string> arguments = {"copy.bin", "/R", "/PORT:" + GetParam()};
    std::istringstream words(switches);
    arguments.insert(arguments.end(), std::istream_iterator<std::string>(words), {});
    const ProgramRun run = Run({.arguments = arguments, .sim = sim});
    EXPECT_TRUE(run.status == 5 && run.err.ends_with("ebrilo: " + line + "\r\n")) << run.err;
  }
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

using ChipTable = ScratchDirectory;

// Every chip of the table as /CHIP:? lists it (size, page, address bytes,
// the pins it compares, its block bits), a pin it does not compare refused,
// and the chip written with /V and read back at the pins it compares, all
// high, through an adapter whose messages are too short for a whole read
// (not for a 256-byte page): the reads go in pieces, across the blocks the
// control byte selects.
TEST_F(ChipTable, EveryChipListedWrittenAndReadBack) {
  std::string listing = "Chip    Bytes  Page  Address bytes  Address pins  Block bits\r\n";
  for (const auto& [line, pins] : std::initializer_list<std::pair<std::string, int>>{
           {"24RF08  1024   16    1              none          a9 a8; APP page (/P)", -1},
           {"24C01   128    8     1              A2 A1 A0", 7},
           {"24C02   256    8     1              A2 A1 A0", 7},
           {"24C04   512    16    1              A2 A1         a8", 6},
           {"24C08   1024   16    1              A2            a9 a8", 4},
           {"24C16   2048   16    1              none          a10 a9 a8", 0},
           {"24C32   4096   32    2              A2 A1 A0", 7},
           {"24C64   8192   32    2              A2 A1 A0", 7},
           {"24C128  16384  64    2              A2 A1 A0", 7},
           {"24C256  32768  64    2              A2 A1 A0", 7},
           {"24C512  65536  128   2              A2 A1 A0", 7},
           {"24M01   131072 256   2              A2 A1         a16", 6},
           {"24M02   262144 256   2              A2            a17 a16", 4},
           {"24C1025 131072 128   2              A1 A0         a16 at A2, pin 3 to VCC", 3},
           {"24C515  65536  64    2              A1 A0         a15 at A2, pin 3 to VCC", 3}}) {
    listing += line + "\r\n";
    std::string name;
    int size = 0;
    int page = 0;
    std::istringstream(line) >> name >> size >> page;
    SCOPED_TRACE(name);
    const Bytes image =
        RandomBytes(static_cast<std::uint32_t>(size), static_cast<std::size_t>(size));
    WriteFile("dump.bin", image);
    const ProgramRun refused =
        Run({.arguments = {"dump.bin", "/CHIP:" + name, "/ADDR:7", "/PORT:i2c-1"},
             .sim = "chip=absent"});
    EXPECT_EQ(refused.status, pins == 7 ? 5 : 1) << refused.err;
    std::vector<std::string> arguments = {"dump.bin", "/V", "/CHIP:" + name, "/PORT:i2c-1"};
    if (pins >= 0) {
      arguments.push_back("/ADDR:" + std::to_string(pins));
    }
    const std::string sim = "chip=" + name + (pins < 0 ? "" : ";pins=7") + ";i2c_max=300;";
    ProgramRun run = Run({.arguments = arguments, .sim = sim + "save=chip.bin"});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                        RunHead(false) +
                            Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                   Marks(std::min(size / page, 64)), "Verifying eeprom...",
                                   Marks(std::min(size / 128, 64)), "Done."}) +
                            Closing());
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
    arguments[0] = "copy.bin";
    arguments[1] = "/R";
    run = Run({.arguments = arguments, .sim = sim + "load=chip.bin"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
    std::filesystem::remove(Path("copy.bin"));
  }
  EXPECT_PRED_FORMAT2(TextsMatch, Run({.arguments = {"/CHIP:?"}}).out,
                      Banner() + Lines({"", Separator()}) + listing + Closing());
}

// The large parts by their markings through the CH341A, as the table's test
// has them through an I2C adapter: a 24LC1025 (its block bit in A2's place,
// pin 3 high) and an AT24CM02 (10 ms write cycles), written, verified and
// read back across their blocks.
TEST_F(ChipTable, LargePartsThroughTheProgrammer) {
  for (const auto& [chip, addr, size, sim] :
       {std::tuple{"/CHIP:24LC1025", "/ADDR:1", 131072U, "chip=24C1025;pins=5;"},
        {"/CHIP:AT24CM02", "/ADDR:4", 262144U, "chip=24M02;pins=4;"}}) {
    SCOPED_TRACE(chip);
    const Bytes image = RandomBytes(size, size);
    WriteFile("dump.bin", image);
    ProgramRun run = Run({.arguments = {"dump.bin", "/F", "/V", chip, addr, "/PORT:ch341a"},
                          .sim = std::string(sim) + "save=chip.bin"});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                        RunHead(false) +
                            Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                   Marks(64), "Verifying eeprom...", Marks(64), "Done."}) +
                            Closing());
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
    run = Run({.arguments = {"copy.bin", "/R", chip, addr, "/PORT:ch341a"},
               .sim = std::string(sim) + "load=chip.bin"});
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
    std::filesystem::remove(Path("copy.bin"));
  }
}

}  // namespace
