// SPDX-License-Identifier: MIT
// The program as a user meets it before any bus activity: the usage text,
// the dump file checks, and a console that fails underneath it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>

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
// own error and status; a wrong size, and a switch in the file name's place,
// say why on standard error.
TEST_F(ConsoleRun, DumpFileErrors) {
  WriteFile("short.bin", Bytes(1023, 0x11));
  WriteFile("long.bin", Bytes(1025, 0x11));
  WriteFile("empty.bin", {});
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere.bin", Path("dangling").c_str()), 0);
  const auto size_line = [](const std::string& name, int size) {
    return "ebrilo: " + name + " holds " + std::to_string(size) +
           " bytes; a 24RF08 dump has 1024 bytes\r\n";
  };
  struct Case {
    std::string argument;
    const char* message;
    int status;
    std::string err;
  };
  const char* const kBadName = "ERROR: Invalid filename or file not found!";
  const char* const kWrongSize = "ERROR: Unknown eeprom dump. Wrong file size!";
  std::vector<Case> all = {
      {"missing.bin", kBadName, 1, ""},
      {"folder", kBadName, 1, ""},
      {"dangling", kBadName, 1, ""},
      {"/B", kBadName, 1,
       "ebrilo: '/B' is a switch: the dump file's name must come first (ebrilo filename "
       "[switches])\r\n"},
      {"short.bin", kWrongSize, 3, size_line("short.bin", 1023)},
      {"long.bin", kWrongSize, 3, size_line("long.bin", 1025)},
      {"empty.bin", kWrongSize, 3, size_line("empty.bin", 0)},
  };
  // Files that are no regular file: a named pipe with no writer must not
  // hang the open. A Windows program sees neither; its null device is NUL.
  if (WindowsTarget()) {
    all.push_back({"NUL", kWrongSize, 3, size_line("NUL", 0)});
  } else {
    all.push_back({"fifo", kWrongSize, 3, size_line("fifo", 0)});
    all.push_back({"/dev/null", kWrongSize, 3, size_line("/dev/null", 0)});
  }
  for (const Case& c : all) {
    SCOPED_TRACE(c.argument);
    const ProgramRun run = Run({.arguments = {c.argument}});
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead() + Lines({c.message}) + Closing());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
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

// Where a newcomer is left guessing, standard error says what happened while
// standard output and the status stay those of the run: each switch that is
// none (or /P out of its place) is named and ignored; a port that does not
// open or vanishes is said once; a write cut short by a signal says how far
// it came.
TEST_F(ConsoleRun, MistakesAndMishapsAreSaidOnStandardError) {
  const Bytes image = PatternImage(11);
  WriteFile("dump.bin", image);
  const ProgramRun plain = Run({.arguments = {"dump.bin"}});
  const ProgramRun typos =
      Run({.arguments = {"dump.bin", "-v", "/PROT:ttyUSB0", "/FV", "/P"}, .sim = "save=chip.bin"});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(typos.out), MaskDelayCount(plain.out));
  EXPECT_EQ(typos.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
  EXPECT_EQ(typos.err,
            Lines({"ebrilo: '-v' is no switch of this program and is ignored (switches begin "
                   "with /: /v)",
                   "ebrilo: '/PROT:ttyUSB0' is no switch of this program and is ignored",
                   "ebrilo: '/FV' is no switch of this program and is ignored",
                   "ebrilo: '/P' is ignored: /P resets APP only as the first argument"}));

  const ProgramRun vanished = Run({.arguments = {"dump.bin", "/E"}, .sim = "port_fail=20"});
  EXPECT_EQ(vanished.err, Lines({"ebrilo: COM1: the port stopped answering: Input/output error "
                                 "(it may have been unplugged)"}));
  const ProgramRun unopened = Run({.arguments = {"dump.bin"}, .sim = "port_fail=open"});
  EXPECT_EQ(unopened.err, Lines({"ebrilo: cannot open COM1: Input/output error"}));

  if (WindowsTarget()) {
    return;  // POSIX signals
  }
  const ProgramRun cut = Run({.arguments = {"dump.bin"},
                              .signal_to_send = SIGTERM,
                              .signal_after = std::string(10, '>'),
                              .speed = kSignalSpeed});
  EXPECT_EQ(cut.signal, SIGTERM);
  const std::regex said(
      "ebrilo: interrupted with ([0-9]+) of 64 pages written: the chip now holds part of "
      "the new dump; run the same command again\r\n");
  std::smatch pages;
  ASSERT_TRUE(std::regex_match(cut.err, pages, said)) << cut.err;
  // The count goes up as a page is stored, and its mark follows.
  const auto marks = std::count(cut.out.begin(), cut.out.end(), '>');
  const int written = std::stoi(pages[1]);
  EXPECT_TRUE(marks >= 10 && (written == marks || written == marks + 1)) << written << " " << marks;
}

}  // namespace
