// SPDX-License-Identifier: MIT
// Reading the chip into a file (/R): the file holds what the chip holds, an
// existing file is never touched, and a read that fails or is interrupted
// leaves neither the file nor its temporary behind.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/e2e/e2e_support.h"

namespace {

const char* const kOutputFailed = "ERROR: Unable to create output file!";
const char* const kReadFailed = "ERROR: Read eeprom failed!";

class ReadRun : public ScratchDirectory {
 protected:
  // Runs "backup.bin /R" and the switches against a chip that holds image;
  // the chip's data is saved to chip.bin when the port closes, unless sim
  // says otherwise.
  ProgramRun ReadChip(const Bytes& image, std::vector<std::string> switches,
                      const std::string& sim = "save=chip.bin", ProgramSetup setup = {}) {
    WriteFile("image.bin", image);
    switches.insert(switches.begin(), {"backup.bin", "/R"});
    setup.arguments = switches;
    setup.sim = "load=image.bin;" + sim;
    return Run(setup);
  }

  // The names in the scratch directory, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

using Names = std::vector<std::string>;

// The file gets exactly what the chip holds, which is not written; /B and /E
// change nothing, and /V reads it a second time.
TEST_F(ReadRun, RoundTrip) {
  const Bytes image = PatternImage(11);
  ProgramRun run = ReadChip(image, {});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() + Lines({"", "Reading eeprom...", Marks(8), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("backup.bin"), image);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
  EXPECT_EQ(Entries(), Names({"backup.bin", "chip.bin", "image.bin"}));

  std::filesystem::remove(Path("backup.bin"));
  run = ReadChip(image, {"/v", "/B", "/E"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() +
          Lines({"", "Reading eeprom...", Marks(8), "Verifying eeprom...", Marks(8), "Done."}) +
          Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("backup.bin"), image);
}

// A name that is taken, or a folder that cannot take the file: error 8
// after the timer line, before the port is ever opened (the simulator then
// never saves the chip), and nothing in the folder changes.
TEST_F(ReadRun, NameTakenOrFolderUnusable) {
  const Bytes old_file = PatternImage(12);
  WriteFile("backup.bin", old_file);
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  struct Case {
    const char* scenario;
    std::string argument;
    bool as_nobody;
  };
  std::vector<Case> cases = {
      {"existing file", "backup.bin", false},
      {"existing folder", "folder", false},
      {"missing folder", "missing/backup.bin", false},
      // Left out: a switch is no name to create a file under.
      {"switch in the place of the name", "/v", false},
  };
  if (!WindowsTarget()) {
    ASSERT_EQ(symlink("nowhere.bin", Path("dangling").c_str()), 0);
    ASSERT_EQ(chmod(directory_.c_str(), 0755), 0);
    cases.push_back({"dangling symbolic link", "dangling", false});
    cases.push_back({"folder the user may not write", "new.bin", true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const Names before = Entries();
    const ProgramRun run =
        Run({.arguments = {c.argument, "/R"}, .sim = "save=chip.bin", .as_nobody = c.as_nobody});
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead() + Lines({kOutputFailed}) + Closing());
    EXPECT_EQ(run.status, 8);
    EXPECT_NE(run.err, "");
    EXPECT_EQ(Entries(), before);
  }
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("backup.bin"), old_file);
}

// A read transaction that fails ends the run with error 7 after its error
// line; the data read so far is dropped with its temporary.
TEST_F(ReadRun, FailedReadLeavesNothing) {
  const Bytes image = PatternImage(13);
  // Transaction 0 is the probe; each read of a 128-byte block then takes two:
  // its address, and the read after the repeated START; every block is read
  // twice. 5 is the first read of block 1.
  ProgramRun run = ReadChip(image, {}, "port_fail=5");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() +
                          Lines({"", "Reading eeprom...", ">error at 168:128", "", kReadFailed}) +
                          Closing());
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(Entries(), Names({"image.bin"}));
  // The third whole read, /V's: 33 addresses block 0 again.
  run = ReadChip(image, {"/V"}, "nack=33");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() +
                          Lines({"", "Reading eeprom...", Marks(8), "Verifying eeprom...",
                                 "error at 168:0", "", kReadFailed}) +
                          Closing());
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(Entries(), Names({"image.bin"}));
}

// The whole chip was read but the file cannot be written (here, past the
// file size limit): error 8, and the temporary is gone.
TEST_F(ReadRun, FileThatCannotBeWrittenLeavesNothing) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "POSIX file size limit";
  }
  const ProgramRun run = ReadChip(PatternImage(14), {}, "", {.file_size_limit = 512});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() + Lines({"", "Reading eeprom...", Marks(8), kOutputFailed}) + Closing());
  EXPECT_EQ(run.status, 8);
  EXPECT_NE(run.err, "");
  EXPECT_EQ(Entries(), Names({"image.bin"}));
}

// Another program makes a file of the output's name while the chip is being
// read: that file survives, and the read ends with error 8.
TEST_F(ReadRun, FileThatAppearsDuringTheReadIsNeverReplaced) {
  const ProgramRun run = ReadChip(PatternImage(16), {}, "",
                                  {.create_after = "Reading eeprom...\r\n",
                                   .create_name = "backup.bin",
                                   .speed = kSignalSpeed});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() + Lines({"", "Reading eeprom...", Marks(8), kOutputFailed}) + Closing());
  EXPECT_EQ(run.status, 8);
  EXPECT_NE(run.err, "");
  const Bytes kept = ReadFile("backup.bin");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "made meanwhile\n");
  EXPECT_EQ(Entries(), Names({"backup.bin", "image.bin"}));
}

// Ctrl-C, a kill or a closed terminal in the middle of the read: the
// process ends by that signal as it would have, and removes its temporary.
TEST_F(ReadRun, InterruptedReadLeavesNothing) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "POSIX signals";
  }
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    const ProgramRun run = ReadChip(PatternImage(15), {}, "",
                                    {.signal_to_send = signal_number,
                                     .signal_after = "Reading eeprom...\r\n",
                                     .speed = kSignalSpeed});
    EXPECT_EQ(run.signal, signal_number);
    EXPECT_EQ(Entries(), Names({"image.bin"}));
  }
}

}  // namespace
