// SPDX-License-Identifier: MIT
// The check before a job on a plain chip, on each carrier: every chip of the
// table named right passes it whatever it holds, and a chip named wrong is
// refused before anything is written, or read with the finding that names
// it.
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "eeprom/chips.h"
#include "tests/e2e/fault_run.h"

namespace {

class CheckRuns : public ScratchDirectory {
 protected:
  // A run on the carrier port with the chip sim holding contents, saved
  // again into chip.bin at the end.
  ProgramRun RunOn(const std::string& port, const std::string& sim, const Bytes& contents,
                   std::vector<std::string> arguments) const {
    WriteFile("before.bin", contents);
    std::filesystem::remove(Path("out.bin"));
    arguments.push_back("/PORT:" + port);
    return Run({.arguments = arguments, .sim = sim + ";load=before.bin;save=chip.bin"});
  }
};

class ChipCheck : public CheckRuns, public ::testing::WithParamInterface<std::string> {};
class EveryRow
    : public CheckRuns,
      public ::testing::WithParamInterface<std::tuple<std::string, std::size_t, std::size_t>> {};

constexpr const char* kKinds[] = {"Random", "Erased", "FewBytes", "Halves"};

std::string CarrierName(const std::string& port) {
  return port == "COM1" ? "SerialPort" : port == "i2c-1" ? "I2cAdapter" : "Ch341a";
}

// Random bytes, an erased chip, an erased chip with a few bytes (one at
// address 1, where the check looks first) and a dump whose halves are equal:
// the check tells the named chip from no other only by how it addresses,
// and finds nothing to say but the halves.
TEST_P(EveryRow, NamedRightPassesTheCheckWhateverItHolds) {
  const auto& [port, row, kind] = GetParam();
  const Chip& chip = Chips()[row];
  if (chip.app_page) {
    GTEST_SKIP() << "no check on a chip with the APP page";
  }
  const std::string name(chip.name);
  Bytes few(chip.size, 0xFF);
  for (const std::uint32_t at : {1u, chip.size / 8 + 15, chip.size / 2, chip.size - 1}) {
    few[at] = static_cast<std::uint8_t>(at);
  }
  const Bytes half = RandomBytes(7, chip.size / 2);
  Bytes halves = half;
  halves.insert(halves.end(), half.begin(), half.end());
  const Bytes contents[] = {RandomBytes(chip.size, chip.size), Bytes(chip.size, 0xFF), few, halves};
  const ProgramRun run =
      RunOn(port, "chip=" + name, contents[kind], {"out.bin", "/R", "/CHIP:" + name});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.empty() || kind == 3) << run.err;
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("out.bin"), contents[kind]);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, EveryRow,
    ::testing::Combine(::testing::Values("COM1", "i2c-1", "ch341a"),
                       ::testing::Range(std::size_t{0}, Chips().size()),
                       ::testing::Range(std::size_t{0}, std::size_t{4})),
    [](const ::testing::TestParamInfo<std::tuple<std::string, std::size_t, std::size_t>>& row) {
      return CarrierName(std::get<0>(row.param)) +
             std::string(Chips()[std::get<1>(row.param)].name) + kKinds[std::get<2>(row.param)];
    });

// A chip named wrong: refused before any write (the chip unchanged) and
// before a read (no file), with the line that says what it does; read
// whole, with the finding; or, erased, written and found out by its verify,
// with what the check then finds in place of the WP pin.
TEST_P(ChipCheck, AChipNamedWrongIsRefusedOrFound) {
  const std::string one =
      "ignores the second address byte\r\nebrilo: it takes one address byte (a "
      "24C16 or smaller), not two as a 24C512 does: give /CHIP: the name "
      "printed on it; ";
  const std::string two = "it may take two address bytes (a 24C32 or larger), not one as a 24C02";
  const std::string after =
      "now that it holds the write, the chip does not take its word address "
      "as a 24C32 does: it reads the same bytes at addresses 0 and 1, so it "
      "ignores the second address byte";
  const std::string repeat = "contents repeat every 8192 bytes, so the chip may be a 24C64 named";
  const std::string more = "holds more than 8192 bytes, and the file holds its first 8192 bytes";
  const struct {
    std::string chip;
    std::size_t size;
    std::vector<std::string> arguments;
    int status;
    std::size_t read;  // the file's size
    std::string said;
  } cases[] = {
      {"24C16", 2048, {"dump.bin", "/CHIP:24C512"}, 5, 0, one + "nothing was written"},
      {"24C16", 2048, {"out.bin", "/R", "/CHIP:24C512"}, 5, 0, one + "no file was made"},
      {"24C64", 8192, {"dump2.bin", "/CHIP:24C02"}, 5, 0, two},
      {"24C64", 8192, {"out.bin", "/R", "/CHIP:24C02"}, 5, 0, two},
      {"24C64", 8192, {"out.bin", "/R", "/CHIP:24C256"}, 0, 32768, repeat},
      {"24C256", 32768, {"out.bin", "/R", "/CHIP:24C64"}, 0, 8192, more},
      {"24C16", 0, {"dump3.bin", "/V", "/F", "/CHIP:24C32"}, 6, 0, after},
      {"24C16", 0, {"dump.bin", "/V", "/F", "/CHIP:24C512"}, 6, 0, "ignores the second address"},
  };
  WriteFile("dump.bin", RandomBytes(1, 65536));
  WriteFile("dump2.bin", RandomBytes(2, 256));
  WriteFile("dump3.bin", RandomBytes(3, 4096));
  for (const auto& check : cases) {
    SCOPED_TRACE(check.chip + " " + check.arguments.back());
    // Size 0: an erased 24C16.
    const Bytes contents = check.size == 0 ? Bytes(2048, 0xFF) : RandomBytes(3, check.size);
    const ProgramRun run = RunOn(GetParam(), "chip=" + check.chip, contents, check.arguments);
    EXPECT_EQ(run.status, check.status) << run.err;
    EXPECT_NE(run.err.find(check.said), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("WP pin"), std::string::npos) << run.err;
    if (check.size != 0) {
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), contents);
    }
    Bytes file;
    for (std::size_t address = 0; address < check.read; ++address) {
      file.push_back(contents[address % check.size]);
    }
    if (check.status == 5) {
      EXPECT_FALSE(std::filesystem::exists(Path("out.bin")));
      EXPECT_NE(run.out.find("ERROR: Eeprom not available!\r\n"), std::string::npos);
    } else if (check.read != 0) {
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("out.bin"), file);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Carriers, ChipCheck, ::testing::Values("COM1", "i2c-1", "ch341a"),
                         [](const ::testing::TestParamInfo<std::string>& carrier) {
                           return CarrierName(carrier.param);
                         });

}  // namespace
