// SPDX-License-Identifier: MIT
// Choosing the port with /PORT: and listing the ports with /PORT:?. With the
// simulated circuit behind whatever name is given, a run through /PORT: must
// be the run without it. The real program's lock file is checked on a
// pseudo-terminal: it opens like a port but has no modem lines, so the run
// gets through the open and its lock and then finds no circuit (error 4).
// Under Wine, ebrilo.exe reaches COM12 through the prefix's dosdevices/com12,
// which the test points at a pseudo-terminal, never at this machine's ports.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/e2e/e2e_support.h"
#include "tests/pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;

std::string NoCircuitRun() {
  return RunHead() + Lines({"Eeprom dump size: OK", "ERROR: Circuit not found or bus error!"}) +
         Closing();
}

class PortRun : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    master_ = OpenPseudoTerminal(pty_);
    ASSERT_NE(master_, -1);
    lock_path_ = "/run/lock/LCK.." + pty_.substr(pty_.rfind('/') + 1);
    unlink(lock_path_.c_str());
  }
  void TearDown() override {
    unlink(lock_path_.c_str());
    close(master_);
    ScratchDirectory::TearDown();
  }

  // A page-mode write of image through these extra arguments; the chip ends
  // up in chip.bin.
  ProgramRun Write(const Bytes& image, std::vector<std::string> switches) {
    fs::remove(Path("chip.bin"));
    WriteFile("dump.bin", image);
    switches.insert(switches.begin(), "dump.bin");
    return Run({.arguments = switches, .sim = "save=chip.bin"});
  }

  // The real program on the pseudo-terminal.
  ProgramRun RealRun() const {
    WriteFile("dump.bin", PatternImage(9));
    return Run({.command = {RealProgram()}, .arguments = {"dump.bin", "/PORT:" + pty_}});
  }

  void PlantLock(pid_t pid) const {
    char text[16];
    std::snprintf(text, sizeof(text), "%10d\n", static_cast<int>(pid));
    std::ofstream(lock_path_) << text;
  }

  int master_ = -1;
  std::string pty_;
  std::string lock_path_;
};

// The simulated circuit is behind a path, a by-id style link to it, or (on
// Windows) a COM port above 9 and a \\.\ device path: every run is the run
// without /PORT:, on standard output, in its status and in the chip.
TEST_F(PortRun, PageModeRunThroughAnyNameIsTheRunWithout) {
  const Bytes image = PatternImage(7);
  const ProgramRun plain = Write(image, {});
  ASSERT_EQ(plain.status, 0);
  ASSERT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
  const std::string link = Path("usb-Maker_Adapter_A1B2-if00-port0");
  fs::create_symlink(pty_, link);
  const std::vector<std::string> names = WindowsTarget()
                                             ? std::vector<std::string>{"COM12", R"(\\.\COM7)"}
                                             : std::vector<std::string>{pty_, link};
  for (const std::string& name : names) {
    const ProgramRun run = Write(image, {"/port:COM3", "/PORT:" + name});
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), MaskDelayCount(plain.out)) << name;
    EXPECT_EQ(run.err, "") << name;
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image) << name;
  }
}

// An empty name cannot be a port: error 4, and standard error says why.
TEST_F(PortRun, EmptyNameEndsLikeAPortThatWillNotOpen) {
  WriteFile("dump.bin", PatternImage(8));
  const ProgramRun run = Run({.arguments = {"dump.bin", "/PORT:"}});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), NoCircuitRun());
  EXPECT_EQ(run.status, 4);
  EXPECT_TRUE(run.err.starts_with("ebrilo: cannot open port '': ")) << run.err;
  EXPECT_TRUE(run.err.ends_with("\r\n")) << run.err;
}

// The listing, in place of any job: the ports this machine has (or a line
// saying there are none), then the prompt; nothing written, status 0.
TEST_F(PortRun, PortListingReplacesTheJob) {
  for (const auto& arguments : {std::vector<std::string>{"/PORT:?"},
                                std::vector<std::string>{"dump.bin", "/port:?", "/B"}}) {
    const ProgramRun run = Write(PatternImage(3), arguments);
    const std::string head = Banner() + Lines({"", Separator()});
    EXPECT_TRUE(run.out.starts_with(head)) << run.out;
    EXPECT_TRUE(run.out.ends_with(Closing())) << run.out;
    EXPECT_EQ(run.out.find("Initializing timer"), std::string::npos);
    EXPECT_GT(run.out.size(), head.size() + Closing().size() + 2) << "no line about the ports";
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(fs::exists(Path("chip.bin"))) << "the port was opened";
  }
}

// A lock naming a running process keeps the real program off the port; a
// stale one is taken over, said so, and removed at the end of the run.
TEST_F(PortRun, RealPortLockFileLiveAndStale) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "the lock file is the POSIX port's";
  }
  PlantLock(getpid());
  ProgramRun run = RealRun();
  std::cout << run.err;
  EXPECT_EQ(run.err, "ebrilo: cannot open " + pty_ + ": held by process " +
                         std::to_string(getpid()) + " (" + lock_path_ + ")\r\n");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), NoCircuitRun());
  EXPECT_EQ(run.status, 4);
  EXPECT_TRUE(fs::exists(lock_path_));

  const pid_t ended = fork();
  if (ended == 0) {
    _exit(0);
  }
  waitpid(ended, nullptr, 0);
  PlantLock(ended);
  run = RealRun();
  std::cout << run.err;
  EXPECT_EQ(run.err, "ebrilo: " + lock_path_ + ": stale lock of process " + std::to_string(ended) +
                         ", which no longer runs; taken over\r\nebrilo: " + pty_ +
                         ": its modem lines cannot be driven: Inappropriate ioctl for device (a "
                         "device that has no modem lines)\r\n");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), NoCircuitRun());
  EXPECT_EQ(run.status, 4);
  EXPECT_FALSE(fs::exists(lock_path_));
}

// ebrilo.exe under Wine reaches \\.\COM12 through the prefix's
// dosdevices/com12, here a pseudo-terminal: it opens and sets it up at
// 9600 baud, finds no modem lines, says so, and so no circuit (error 4).
TEST_F(PortRun, WindowsProgramReachesComTwelve) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (!WindowsTarget() || prefix == nullptr) {
    GTEST_SKIP() << "for the Windows build under Wine";
  }
  std::vector<std::string> command = ProgramCommand();
  std::string& program = command.back();
  program.replace(program.rfind("ebrilo-sim.exe"), std::string("ebrilo-sim.exe").size(),
                  "ebrilo.exe");
  const std::string com12 = std::string(prefix) + "/dosdevices/com12";
  fs::remove(com12);
  fs::create_symlink(pty_, com12);
  termios settings{};
  ASSERT_EQ(tcgetattr(master_, &settings), 0);
  cfsetospeed(&settings, B1200);
  cfsetispeed(&settings, B1200);
  ASSERT_EQ(tcsetattr(master_, TCSANOW, &settings), 0);

  WriteFile("dump.bin", PatternImage(10));
  const ProgramRun run = Run({.command = command, .arguments = {"dump.bin", "/PORT:COM12"}});
  fs::remove(com12);
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), NoCircuitRun());
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err,
            "ebrilo: \\\\.\\COM12: its modem lines cannot be driven: Request not "
            "supported (a device that has no modem lines)\r\n");
  ASSERT_EQ(tcgetattr(master_, &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), B9600) << "the settings did not reach the pty";
}

}  // namespace
