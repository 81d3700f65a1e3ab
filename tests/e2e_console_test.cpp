// SPDX-License-Identifier: MIT
// The program as a user meets it before any bus activity: the usage text,
// the dump file checks, and a console that fails underneath it.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/e2e_support.h"

namespace {

using ConsoleRun = ScratchDirectory;

TEST_F(ConsoleRun, NoArgumentsPrintsUsageAndPromptWithoutTimer) {
  const ProgramRun run = Run({});
  EXPECT_PRED_FORMAT2(TextsMatch, run.out, Banner() + Usage() + Lines({"Hit <Enter> to exit..."}));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

// Each file that is not a 1024-byte dump ends after the timer line with its
// own error and status.
TEST_F(ConsoleRun, DumpFileErrors) {
  WriteFile("short.bin", Bytes(1023, 0x11));
  WriteFile("long.bin", Bytes(1025, 0x11));
  WriteFile("empty.bin", {});
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere.bin", Path("dangling").c_str()), 0);
  struct Case {
    const char* argument;
    const char* message;
    int status;
  };
  const Case cases[] = {
      {"missing.bin", "ERROR: Invalid filename or file not found!", 1},
      {"folder", "ERROR: Invalid filename or file not found!", 1},
      {"dangling", "ERROR: Invalid filename or file not found!", 1},
      {"/B", "ERROR: Invalid filename or file not found!", 1},
      {"short.bin", "ERROR: Unknown eeprom dump. Wrong file size!", 3},
      {"long.bin", "ERROR: Unknown eeprom dump. Wrong file size!", 3},
      {"empty.bin", "ERROR: Unknown eeprom dump. Wrong file size!", 3},
  };
  // Files that are no regular file: a named pipe with no writer must not
  // hang the open. A Windows program sees neither; its null device is NUL.
  const Case posix_cases[] = {
      {"fifo", "ERROR: Unknown eeprom dump. Wrong file size!", 3},
      {"/dev/null", "ERROR: Unknown eeprom dump. Wrong file size!", 3},
  };
  const Case windows_cases[] = {
      {"NUL", "ERROR: Unknown eeprom dump. Wrong file size!", 3},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  if (WindowsTarget()) {
    all.insert(all.end(), std::begin(windows_cases), std::end(windows_cases));
  } else {
    all.insert(all.end(), std::begin(posix_cases), std::end(posix_cases));
  }
  for (const Case& c : all) {
    SCOPED_TRACE(c.argument);
    const ProgramRun run = Run({.arguments = {c.argument}});
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead() + Lines({c.message}) + Closing());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ConsoleRun, FullSizeDumpGoesOnToTheBus) {
  WriteFile("dump.bin", PatternImage(1));
  const ProgramRun run = Run({.arguments = {"dump.bin"}, .sim = "chip=absent"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() + Lines({"Eeprom dump size: OK", "ERROR: Eeprom not available!"}) + Closing());
  EXPECT_EQ(run.status, 5);
}

// A console that fails ends the run with a report on standard error and
// status 1, never by a signal.
TEST_F(ConsoleRun, StandardOutputFailures) {
  struct Case {
    const char* scenario;
    ProgramSetup setup;
  };
  const Case cases[] = {
      {"full device", {.stdout_path = "/dev/full"}},
      {"closed", {.close_stdout = true}},
      {"reader gone", {.stdout_reader_gone = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    for (const char* argument : {"", "missing.bin"}) {
      ProgramSetup setup = c.setup;
      if (*argument != '\0') {
        setup.arguments = {argument};
      }
      const ProgramRun run = Run(setup);
      EXPECT_EQ(run.signal, 0);
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.err.find("cannot write to standard output"), std::string::npos) << run.err;
    }
  }
}

// End of input or a line ends the wait at once; a closed or unreadable
// standard input is a failing read: status 1 with a report.
TEST_F(ConsoleRun, StandardInputAtThePrompt) {
  WriteFile("enter.txt", {'\n', 'x'});
  struct Case {
    const char* scenario;
    std::string stdin_path;
    int status;
  };
  const Case cases[] = {
      {"end of input", "/dev/null", 0},
      {"a line", "enter.txt", 0},
      {"closed", "", 1},
      {"unreadable", ".", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const ProgramRun run = Run({.stdin_path = c.stdin_path});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                        Banner() + Usage() + Lines({"Hit <Enter> to exit..."}));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.err.find("cannot read standard input") != std::string::npos, c.status != 0)
        << run.err;
  }
}

// /?, -h and --help as argument 1 print exactly the usage of a run without
// arguments; a dump named like one of them is still written through a path.
TEST_F(ConsoleRun, HelpArgumentsPrintTheUsage) {
  for (const char* argument : {"/?", "-h", "--help"}) {
    SCOPED_TRACE(argument);
    const ProgramRun run = Run({.arguments = {argument, "/R"}});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out,
                        Banner() + Usage() + Lines({"Hit <Enter> to exit..."}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
  }
  const Bytes image = PatternImage(9);
  WriteFile("-h", image);
  const ProgramRun run = Run({.arguments = {"./-h"}, .sim = "save=chip.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
}

}  // namespace
