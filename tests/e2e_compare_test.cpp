// SPDX-License-Identifier: MIT
// /C and /U on every carrier: /C says holds (0) or differs (9), writing nothing;
// /U writes exactly the differing pages (bytes with /B), counted on the bus.
#include <regex>

#include "tests/e2e/bus_trace.h"
#include "tests/e2e/fault_run.h"

namespace {

struct CompareCarrier {
  std::string port, chip;
  std::size_t size, page, address_bytes, base_control;
  int read_marks, byte_marks;
};

class CompareRun : public ScratchDirectory, public ::testing::WithParamInterface<CompareCarrier> {
 protected:
  // dump.bin over a chip holding before, and the bus's data writes.
  std::pair<ProgramRun, int> RunOn(const Bytes& before, std::vector<std::string> switches) {
    const CompareCarrier& c = GetParam();
    WriteFile("b", before);
    switches.insert(switches.begin(), {"dump.bin", "/PORT:" + c.port, "/CHIP:" + c.chip});
    const ProgramRun run =
        Run({.arguments = switches, .sim = "chip=" + c.chip + ";load=b;save=c;trace=t"});
    const std::string bus = TraceTransactions(Path("t"));
    const std::regex frame("S [0-9A-F][02468ACE]\\+((?: [0-9A-F]{2}[+-])*) P");
    int writes = 0;
    for (std::sregex_iterator it(bus.begin(), bus.end(), frame), end; it != end; ++it) {
      writes += (*it)[1].str().size() / 4 > c.address_bytes;
    }
    return {run, writes};
  }
};

TEST_P(CompareRun, ComparesAndUpdatesOnlyWhatDiffers) {
  const CompareCarrier& c = GetParam();
  const Bytes dump = RandomBytes(7, c.size);
  WriteFile("dump.bin", dump);
  Bytes old = dump;
  std::string mismatches;
  for (const std::size_t at : {c.page, 2 * c.page, c.size / 2, c.size - c.page}) {
    old[at + 3] ^= 0x10;
    const std::size_t word = c.address_bytes == 1 ? at % 256 : at;
    mismatches += Lines({"mismatch at " + std::to_string(c.base_control + (at - word) / 128) + ":" +
                         std::to_string(word)});
  }
  const auto check = [&](const Bytes& before, const std::vector<std::string>& switches, int status,
                         int writes, const std::string& err, const std::string& lines) {
    const char* first = switches[0] == "/C" ? "Comparing eeprom..." : "Reading eeprom...";
    const auto [run, written] = RunOn(before, switches);
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead(c.port == "COM1") +
                            Lines({"Eeprom dump size: OK", "", first, Marks(c.read_marks)}) +
                            lines + Closing());
    EXPECT_EQ(std::tuple(run.err, run.status, written), std::tuple(err, status, writes));
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("c"), status == 9 ? old : dump);
  };
  const std::string of = "ebrilo: 4 of ";
  check(old, {"/C"}, 9, 0, "",
        mismatches + Lines({"Differing bytes: 4", "ERROR: The eeprom differs from the dump!"}));
  check(dump, {"/C", "/V", "/B"}, 0, 0, "", Lines({"The chip holds the dump.", "Done."}));
  check(
      old, {"/U", "/F", "/V"}, 0, 4, of + std::to_string(c.size / c.page) + " pages differ\r\n",
      Lines({"Page mode. Writing eeprom...", Marks(4), "Verifying eeprom...", Marks(4), "Done."}));
  check(old, {"/U", "/B", "/V"}, 0, 4, of + std::to_string(c.size) + " bytes differ\r\n",
        Lines({"Byte mode. Writing eeprom...", Marks(c.byte_marks), "Verifying eeprom...", Marks(4),
               "Done."}));
  check(dump, {"/U", "/V"}, 0, 0, "", Lines({"The chip already holds the dump.", "Done."}));
}

INSTANTIATE_TEST_SUITE_P(Carriers, CompareRun,
                         ::testing::ValuesIn(std::vector<CompareCarrier>{
                             {"COM1", "24RF08", 1024, 16, 1, 168, 8, 4},
                             {"i2c-1", "24C64", 8192, 32, 2, 160, 64, 4},
                             {"ch341a", "24C02", 256, 8, 1, 160, 2, 2}}),
                         [](const auto& carrier) { return carrier.param.chip; });

// /P /C against /P's 0xFF; a failed read (7); /U with /P, two jobs on a file.
using CompareAppRun = ScratchDirectory;
TEST_F(CompareAppRun, AgainstWhatResetWritesAndRefusedPairs) {
  WriteFile("ff", Bytes(16, 0xFF));
  WriteFile("dump.bin", Bytes(1024, 0xFF));
  const std::tuple<int, std::string, std::vector<std::string>, std::string> runs[] = {
      {9, "app_save=a", {"/P", "/C"}, Lines({"ERROR: The eeprom differs from the dump!"})},
      {0, "app_load=ff", {"/P", "/c"}, Lines({"The APP registers hold what /P writes.", "Done."})},
      {7, "port_fail=1", {"dump.bin", "/C"}, Lines({"", "ERROR: Read eeprom failed!"})},
      {1, "port_fail=open", {"/P", "/U"}, ""},
      {1, "port_fail=open", {"x", "/R", "/U", "/c"}, ""}};
  for (const auto& [status, sim, arguments, end] : runs) {
    const ProgramRun run = Run({.arguments = arguments, .sim = sim});
    EXPECT_TRUE(run.out.ends_with(end + Closing()) && run.status == status) << run.out;
  }
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("a"), Bytes(16, 0));
}

}  // namespace
