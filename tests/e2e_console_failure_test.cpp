// SPDX-License-Identifier: MIT
// The console failing under an image write: standard output that stops
// taking text after pages were written, and a closing prompt whose input is
// closed or unreadable. Such a run ends with status 1 and a report on
// standard error, never by a signal. And at a real terminal the closing
// prompt waits until Enter is pressed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/e2e/fault_run.h"

namespace {

using std::chrono_literals::operator""ms;
using std::chrono_literals::operator""s;

std::string PageHead() {
  return RunHead() + Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom..."});
}

// How many pages from the start of the chip hold the image.
int PagesWritten(const Bytes& chip, const Bytes& image) {
  int pages = 0;
  while (pages < 64 && std::equal(image.begin() + pages * 16, image.begin() + pages * 16 + 16,
                                  chip.begin() + pages * 16)) {
    ++pages;
  }
  return pages;
}

using ConsoleFailure = FaultRun;

// The reader of standard output goes away after a few marks; the next mark
// fails with a broken pipe and ends the run. The pages written until then
// stay written: a prefix of the image, at least as long as the marks that
// were read (the page whose mark failed may be one more), over the old data.
TEST_F(ConsoleFailure, OutputReaderGoesAwayAfterPagesWereWritten) {
  const Bytes image = RandomBytes(80, 1024);
  const Bytes before = RandomBytes(81, 1024);
  WriteFile("dump.bin", image);
  WriteFile("old.bin", before);
  const std::string head = PageHead();
  const ProgramRun run = Run({.arguments = {"dump.bin"},
                              .sim = "load=old.bin;save=chip.bin",
                              .stdout_reader_quits_after = head.size() + 12});
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write to standard output"), std::string::npos) << run.err;

  const std::string out = MaskDelayCount(run.out);
  ASSERT_TRUE(out.starts_with(head)) << out;
  const int marks = static_cast<int>(out.size() - head.size());
  EXPECT_EQ(out.substr(head.size()), Marks(marks));
  EXPECT_GT(marks, 0);

  const Bytes chip = ReadFile("chip.bin");
  ASSERT_EQ(chip.size(), 1024U);
  const int pages = PagesWritten(chip, image);
  EXPECT_GE(pages, marks);
  EXPECT_LT(pages, 64);
  EXPECT_TRUE(std::equal(chip.begin() + pages * 16, chip.end(), before.begin() + pages * 16))
      << "pages after the " << pages << " written were changed";
}

// Output to a file that reaches the file size limit (ulimit -f) in the middle
// of the progress marks: the write past it fails, and the run ends with
// status 1, not killed by the signal such a write raises by default.
TEST_F(ConsoleFailure, OutputFileReachesTheSizeLimit) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "POSIX resource limits";
  }
  WriteFile("dump.bin", PatternImage(82));
  const std::size_t limit = PageHead().size() + 20;
  const ProgramRun run =
      Run({.arguments = {"dump.bin"}, .stdout_path = "out.txt", .file_size_limit = limit});
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write to standard output"), std::string::npos) << run.err;
  const Bytes written = ReadFile("out.txt");
  EXPECT_EQ(written.size(), limit);
  const std::string out = MaskDelayCount(std::string(written.begin(), written.end()));
  ASSERT_TRUE(out.starts_with(PageHead())) << out;
  EXPECT_EQ(out.substr(PageHead().size()), Marks(static_cast<int>(out.size() - PageHead().size())));
}

// The closing prompt of a write run cannot read its input: status 1 with a
// report, after a write that completed (the chip holds the image) and after
// one that failed (its error line is shown; the failed read decides the
// status, which stays a failure).
TEST_F(ConsoleFailure, PromptInputFailsAfterAWrite) {
  const Bytes image = PatternImage(83);
  WriteFile("dump.bin", image);
  const ProgramRun closed =
      Run({.arguments = {"dump.bin"}, .sim = "save=chip.bin", .stdin_path = ""});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(closed.out),
                      PageHead() + Lines({Marks(64), "Done."}) + Closing());
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.signal, 0);
  EXPECT_NE(closed.err.find("cannot read standard input"), std::string::npos) << closed.err;
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);

  const ProgramRun directory = Run({.arguments = {"dump.bin"}, .sim = "nack=3", .stdin_path = "."});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(directory.out),
      PageHead() + Lines({">>error at 168:32", "", "ERROR: Write eeprom failed!"}) + Closing());
  EXPECT_EQ(directory.status, 1);
  EXPECT_EQ(directory.signal, 0);
  EXPECT_NE(directory.err.find("cannot read standard input"), std::string::npos) << directory.err;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// A private tmux server, with a terminal of its own for the program.
class TerminalPrompt : public ScratchDirectory {
 protected:
  void TearDown() override {
    Tmux("kill-server 2>/dev/null");
    ScratchDirectory::TearDown();
  }

  int Tmux(const std::string& arguments) const {
    return std::system(("tmux -S " + Quoted(Path("tmux.socket")) + " " + arguments).c_str());
  }

  std::string Screen() const {
    const std::string command =
        "tmux -S " + Quoted(Path("tmux.socket")) + " capture-pane -p -t ebrilo 2>/dev/null";
    std::string screen;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        screen.append(buffer, got);
      }
      pclose(pipe);
    }
    return screen;
  }

  bool Exists(const std::string& name) const {
    return std::filesystem::exists(Path(name));
  }

  // Waits up to limit for ready, polling.
  template <typename Ready>
  static bool WaitFor(Ready ready, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }
};

TEST_F(TerminalPrompt, WaitsForEnter) {
  if (WindowsTarget() || std::system("command -v tmux >/dev/null") != 0) {
    GTEST_SKIP() << "needs tmux and a POSIX build";
  }
  std::string program;
  for (const std::string& word : ProgramCommand()) {
    program += Quoted(word) + " ";
  }
  const std::string inner = "cd " + Quoted(directory_) +
                            " && EBRILO_SIM='app_save=app.bin;speed=" + std::to_string(kFastSpeed) +
                            "' " + program + "/P; echo $? >status.txt";
  ASSERT_EQ(Tmux("-f /dev/null new-session -d -s ebrilo -x 100 -y 40 " + Quoted(inner)), 0);

  ASSERT_TRUE(
      WaitFor([&] { return Screen().find("Hit <Enter> to exit...") != std::string::npos; }, 60s))
      << Screen();
  EXPECT_NE(Screen().find("Resetting APP...\nDone.\n"), std::string::npos) << Screen();
  // Still waiting a while later, and after a line's text without its Enter.
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(Exists("status.txt"));
  ASSERT_EQ(Tmux("send-keys -t ebrilo -l 'not yet'"), 0);
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(Exists("status.txt"));

  ASSERT_EQ(Tmux("send-keys -t ebrilo Enter"), 0);
  ASSERT_TRUE(
      WaitFor([&] { return Exists("status.txt") && !ReadFile("status.txt").empty(); }, 20s));
  const Bytes status = ReadFile("status.txt");
  EXPECT_EQ(std::string(status.begin(), status.end()), "0\n");
  const Bytes app = ReadFile("app.bin");
  ASSERT_GE(app.size(), 10U);
  EXPECT_EQ(Bytes(app.begin(), app.begin() + 10), Bytes(10, 0xFF));
}

}  // namespace
