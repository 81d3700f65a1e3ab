// SPDX-License-Identifier: MIT
// Dump files that a user may name by accident or that the file system makes
// hard to reach: each is turned away with its error before the bus is
// opened, without being read, and a good dump under an odd name is written
// like any other.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

const char* const kBadFileName = "ERROR: Invalid filename or file not found!";
const char* const kOpenFailed = "ERROR: Unable to open source file!";
const char* const kWrongSize = "ERROR: Unknown eeprom dump. Wrong file size!";

// Read at the speed of a disk, this many holes would take minutes.
constexpr std::uintmax_t kSparseSize = std::uintmax_t{64} << 30;
constexpr auto kSparseRunLimit = std::chrono::seconds(30);

struct FileCase {
  const char* scenario;
  std::string argument;
  const char* message;
  int status;
};

class DumpFile : public ScratchDirectory {
 protected:
  void ExpectRejected(const FileCase& c, bool as_nobody = false) {
    SCOPED_TRACE(c.scenario);
    const ProgramRun run = Run({.arguments = {c.argument}, .as_nobody = as_nobody});
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead() + Lines({c.message}) + Closing());
    EXPECT_EQ(run.status, c.status);
    // A wrong size is the one rejection explained on standard error.
    if (c.status == 3) {
      EXPECT_TRUE(run.err.starts_with("ebrilo: " + c.argument + " holds ") &&
                  run.err.ends_with(" bytes; a 24RF08 dump has 1024 bytes\r\n"))
          << run.err;
    } else {
      EXPECT_EQ(run.err, "");
    }
  }
};

// Names the file system cannot resolve, and files that are no dump.
TEST_F(DumpFile, NamesThatResolveToNoDump) {
  std::string deep_path;
  while (deep_path.size() < 5000) {
    deep_path += "deeper/";
  }
  std::vector<FileCase> cases = {
      {"empty name", "", kBadFileName, 1},
      {"name longer than a directory entry may be", std::string(300, 'n') + ".bin", kBadFileName,
       1},
      {"path longer than the system allows", deep_path + "dump.bin", kBadFileName, 1},
  };
  if (!WindowsTarget()) {
    ASSERT_EQ(symlink("loop", Path("loop").c_str()), 0);
    ASSERT_EQ(symlink("pong", Path("ping").c_str()), 0);
    ASSERT_EQ(symlink("ping", Path("pong").c_str()), 0);
    cases.push_back({"symlink to itself", "loop", kBadFileName, 1});
    cases.push_back({"symlinks to each other", "ping", kBadFileName, 1});
    // An endless device: its size says 0, and it is never read.
    cases.push_back({"character device", "/dev/zero", kWrongSize, 3});
  }
  for (const FileCase& c : cases) {
    ExpectRejected(c);
  }
}

TEST_F(DumpFile, SparseFileOfManyGigabytesIsRejectedBySizeAlone) {
  { std::ofstream create(Path("huge.bin")); }
  std::filesystem::resize_file(Path("huge.bin"), kSparseSize);
  const auto start = std::chrono::steady_clock::now();
  ExpectRejected({"sparse file", "huge.bin", kWrongSize, 3});
  EXPECT_LT(std::chrono::steady_clock::now() - start, kSparseRunLimit);
}

// Tests run as root, whom no permission stops: the program runs as nobody.
TEST_F(DumpFile, FilesThatCannotBeReached) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "POSIX permissions";
  }
  ASSERT_EQ(chmod(directory_.c_str(), 0711), 0);
  WriteFile("locked.bin", PatternImage(1));
  ASSERT_EQ(chmod(Path("locked.bin").c_str(), 0), 0);
  WriteFile("write_only.bin", PatternImage(2));
  ASSERT_EQ(chmod(Path("write_only.bin").c_str(), 0200), 0);
  ExpectRejected({"no permissions", "locked.bin", kOpenFailed, 2}, true);
  ExpectRejected({"write only", "write_only.bin", kOpenFailed, 2}, true);
  if (geteuid() == 0) {
    // A file in a directory nobody may search cannot even be seen to exist.
    ASSERT_EQ(mkdir(Path("private").c_str(), 0700), 0);
    WriteFile("private/dump.bin", PatternImage(3));
    ExpectRejected({"directory not searchable", "private/dump.bin", kBadFileName, 1}, true);
  }
}

// Names with a space, a line feed, or bytes that are no UTF-8 are used
// exactly as given: missing, they are error 1; present, they are written.
class OddName : public DumpFile, public ::testing::WithParamInterface<const char*> {};

TEST_P(OddName, MissingIsErrorOneAndPresentIsWritten) {
  const std::string name = GetParam();
  if (WindowsTarget() && name.find(' ') == std::string::npos) {
    GTEST_SKIP() << "POSIX file names";
  }
  ExpectRejected({"missing", name, kBadFileName, 1});

  const Bytes image = PatternImage(4);
  WriteFile(name, image);
  const ProgramRun run = Run({.arguments = {name}, .sim = "save=chip.bin"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() +
          Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...", Marks(64), "Done."}) +
          Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
}

std::string NameOf(const ::testing::TestParamInfo<const char*>& param) {
  const char* const scenarios[] = {"Space", "LineFeed", "NotUtf8"};
  return scenarios[param.index];
}

INSTANTIATE_TEST_SUITE_P(Names, OddName,
                         ::testing::Values("dump file.bin", "dump\nfile.bin", "dump\xff\xfe.bin"),
                         NameOf);

// What /CHIP: and /ADDR: refuse, the file's size for the chip among it:
// each run ends before the port is opened, with one line saying why.
TEST_F(DumpFile, ChipSwitchRefusalsComeBeforeTheBus) {
  WriteFile("dump.bin", PatternImage(37));
  using Refusal = std::tuple<std::vector<std::string>, int, std::string>;
  for (const auto& [arguments, status, why] :
       {Refusal{{"dump.bin", "/CHIP:m24c64"}, 3, "; a 24C64 dump has 8192 bytes\r"},
        Refusal{{"/P", "/R", "/chip:AT24C02"}, 1, "which only the 24RF08 has, not the 24C02"},
        Refusal{{"dump.bin", "/CHIP:24C08", "/ADDR:6"}, 1, "sets A1, which the 24C08 does not"},
        Refusal{{"dump.bin", "/CHIP:24C1024"}, 1, "24C1024 names no chip this program knows"},
        Refusal{{"dump.bin", "/ADDR:0"}, 1, "/ADDR: has no meaning for the 24RF08"},
        Refusal{{"dump.bin", "/CHIP:24C02", "/ADDR:8"}, 1, "/ADDR:8: /ADDR: takes the levels"}}) {
    const ProgramRun run = Run({.arguments = arguments, .sim = "save=chip.bin"});
    EXPECT_EQ(run.status, status) << why;
    EXPECT_TRUE(run.err.find(why) != std::string::npos && run.err.find('\n') == run.err.size() - 1)
        << run.err;
    EXPECT_TRUE(ReadFile("chip.bin").empty()) << "the port was opened: " << why;
  }
}

}  // namespace
