// SPDX-License-Identifier: MIT
// A second program that wants the port while a run holds it must be turned
// away before its settings or line changes reach the port. The run's port
// holds an exclusive flock, which binds root too, and sets TIOCEXCL, which
// stops everyone else already at the open. Each test owns a pseudo-terminal,
// never one of this machine's serial ports; the second program is a child
// process.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "platform/serial_posix.h"
#include "tests/pseudo_terminal.h"

namespace {

constexpr const char* kMode = "COM1: baud=9600 parity=N data=8 stop=0";
// What a second program would set, were it let through.
constexpr const char* kOtherMode = "COM1: baud=1200 parity=E data=7 stop=2";
constexpr uid_t kNobody = 65534;

// Exit statuses of the children.
constexpr int kTurnedAway = 0;
constexpr int kLetThrough = 1;
constexpr int kCannotDropPrivileges = 2;

// Runs body in a child process; returns the child's exit status, or -1 when
// it did not exit (a child that hangs is ended after some seconds).
int InChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool DropToNobody() {
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// Runs body in a child process whose standard error goes to a file; returns
// what it wrote there.
std::string StandardErrorOf(const std::function<int()>& body) {
  const std::string path = testing::TempDir() + "ebrilo_stderr_" + std::to_string(getpid());
  InChild([&] {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file == -1 || dup2(file, STDERR_FILENO) == -1) {
      return kCannotDropPrivileges;
    }
    return body();
  });
  std::ifstream file(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::filesystem::remove(path);
  return text;
}

class PortLock : public testing::Test {
 protected:
  void SetUp() override {
    master_ = OpenPseudoTerminal(slave_);
    ASSERT_NE(master_, -1);
    // Open to everyone, so that only the run's hold on it can keep an
    // ordinary user out.
    ASSERT_EQ(chmod(slave_.c_str(), 0666), 0);
  }

  void TearDown() override {
    CLOSECOM();
    close(master_);
  }

  // The second program: it tries to take the port, then to drive its lines.
  int SecondOpener() const {
    if (OpenSerialDevice(slave_.c_str(), kOtherMode) == 0) {
      return kLetThrough;
    }
    return DTR(1) != 0 && RTS(0) != 0 && PortFailed() ? kTurnedAway : kLetThrough;
  }

  // The port's settings, read through the master side, which shares them.
  termios Settings() const {
    termios settings{};
    EXPECT_EQ(tcgetattr(master_, &settings), 0);
    return settings;
  }

  // Whether the port still has the settings of kMode: 9600 baud, 8N1.
  void ExpectRunSettings() const {
    const termios settings = Settings();
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0U);
  }

  bool OthersCanLock() const {
    const int other = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool locked = other != -1 && flock(other, LOCK_EX | LOCK_NB) == 0;
    close(other);
    return locked;
  }

  int master_ = -1;
  std::string slave_;
};

// Root gets past TIOCEXCL to the open, but not past the lock: its settings
// never reach the port, and the run keeps its hold. That holds too once the
// run's own port has failed (a pty has no modem lines to drive): the failed
// port is still open and still locked until the run closes it.
TEST_F(PortLock, SecondOpenerIsTurnedAwayWithoutTouchingThePort) {
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  ExpectRunSettings();
  EXPECT_EQ(InChild([this] { return SecondOpener(); }), kTurnedAway);
  ExpectRunSettings();
  EXPECT_FALSE(PortFailed());
  EXPECT_FALSE(OthersCanLock());

  EXPECT_NE(DTR(1), 0);
  ASSERT_TRUE(PortFailed());
  EXPECT_EQ(InChild([this] { return SecondOpener(); }), kTurnedAway);
  ExpectRunSettings();
  EXPECT_FALSE(OthersCanLock());

  EXPECT_EQ(CLOSECOM(), 0);
  EXPECT_TRUE(OthersCanLock());
}

// An ordinary user could open the port before the run took it; while the
// run holds it, the open itself is refused (EBUSY), so not even the open's
// own effects on the port take place.
TEST_F(PortLock, OrdinaryUserIsRefusedAtTheOpen) {
  const auto open_as_nobody = [this] {
    if (geteuid() == 0 && !DropToNobody()) {
      return kCannotDropPrivileges;
    }
    const int device = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (device != -1) {
      close(device);
      return kLetThrough;
    }
    return errno == EBUSY ? kTurnedAway : errno;
  };
  ASSERT_EQ(InChild(open_as_nobody), kLetThrough);
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_EQ(InChild(open_as_nobody), kTurnedAway);
  const auto second_opener_as_nobody = [this] {
    if (geteuid() == 0 && !DropToNobody()) {
      return kCannotDropPrivileges;
    }
    return SecondOpener();
  };
  EXPECT_EQ(InChild(second_opener_as_nobody), kTurnedAway);
  ExpectRunSettings();
}

// Opening a tty raises DTR and RTS, even for root, whom TIOCEXCL does not
// stop. The lock file is taken before the device is opened, so a second run
// is turned away before its open could touch the lines: while another process
// holds that lock, even a free port is not opened.
TEST_F(PortLock, LockFileIsTakenBeforeTheDeviceIsOpened) {
  const int held = open(PortLockPath(slave_.c_str()).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_NE(held, -1) << "no lock directory";
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(InChild([this] { return SecondOpener(); }), kTurnedAway);
  EXPECT_TRUE(OthersCanLock()) << "the device was opened and locked";
  close(held);
  EXPECT_EQ(InChild([this] { return OpenSerialDevice(slave_.c_str(), kMode) == 0 ? 0 : 1; }), 0);
}

// The lock directory is writable by everyone: a named pipe planted at the
// lock path must neither hang the open nor keep the port from a run. It is
// passed over as if no lock file could be made; the device is still locked.
TEST_F(PortLock, NamedPipeAtTheLockPathIsPassedOver) {
  const std::string lock_path = PortLockPath(slave_.c_str());
  unlink(lock_path.c_str());
  ASSERT_EQ(mkfifo(lock_path.c_str(), 0666), 0) << "no lock directory";
  EXPECT_EQ(InChild([this] {
              return OpenSerialDevice(slave_.c_str(), kMode) == 0 && !OthersCanLock() ? 0 : 1;
            }),
            0);
  struct stat status {};
  EXPECT_EQ(lstat(lock_path.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  unlink(lock_path.c_str());
}

// A port that does not open is explained on standard error: the device, the
// system's reason and, where it helps, what to do about it.
TEST_F(PortLock, OpenFailureIsExplainedOnStandardError) {
  const auto open_port = [this] { return OpenSerialDevice(slave_.c_str(), kMode) == 0 ? 1 : 0; };

  EXPECT_EQ(StandardErrorOf([] { return OpenSerialDevice("/nonexistent/ttyS0", kMode); }),
            "ebrilo: cannot open /nonexistent/ttyS0: No such file or directory\r\n");

  ASSERT_EQ(chmod(slave_.c_str(), 0), 0);
  EXPECT_EQ(StandardErrorOf([&] {
              return geteuid() == 0 && !DropToNobody() ? kCannotDropPrivileges : open_port();
            }),
            "ebrilo: cannot open " + slave_ +
                ": Permission denied (the user must be in the dialout group)\r\n");
  ASSERT_EQ(chmod(slave_.c_str(), 0666), 0);

  const std::string busy = "ebrilo: cannot open " + slave_ +
                           ": Device or resource busy (held by another run or program)\r\n";
  const int held = open(PortLockPath(slave_.c_str()).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(StandardErrorOf(open_port), busy) << "lock file held by another run";
  close(held);
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kMode), 0);
  EXPECT_EQ(StandardErrorOf(open_port), busy) << "device held by another program";
}

}  // namespace
