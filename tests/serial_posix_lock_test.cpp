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
#include <signal.h>
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
#include "platform/port_lock_posix.h"
#include "platform/serial_posix.h"
#include "tests/pseudo_terminal.h"

namespace {

constexpr const char* kNineSixHundred = "COM1: baud=9600 parity=N data=8 stop=0";
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

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

// A lock file in the convention's format, as another program leaves it.
void PlantLock(const std::string& path, pid_t pid) {
  unlink(path.c_str());
  char text[16];
  std::snprintf(text, sizeof(text), "%10d\n", static_cast<int>(pid));
  std::ofstream(path) << text;
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
    lock_path_ = PortLockPath(slave_.c_str());
    // A lock left by an earlier test on a pty of the same number.
    unlink(lock_path_.c_str());
  }

  // The lock goes before the pseudo-terminal: once it is closed, another
  // test (of this run or of another on the machine) may get its number and
  // take a lock of the same name.
  void TearDown() override {
    CLOSECOM();
    unlink(lock_path_.c_str());
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

  // Whether the port still has the settings of kNineSixHundred: 9600 baud, 8N1.
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
  std::string lock_path_;
};

// Root gets past TIOCEXCL to the open, but not past the lock: its settings
// never reach the port, and the run keeps its hold. That holds too once the
// run's own port has failed (a pty has no modem lines to drive): the failed
// port is still open and still locked until the run closes it.
TEST_F(PortLock, SecondOpenerIsTurnedAwayWithoutTouchingThePort) {
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kNineSixHundred), 0);
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
  ASSERT_EQ(OpenSerialDevice(slave_.c_str(), kNineSixHundred), 0);
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
// is turned away before its open could touch the lines: while a running
// process holds that lock, even a free port is not opened.
TEST_F(PortLock, LockFileIsTakenBeforeTheDeviceIsOpened) {
  PlantLock(lock_path_, getpid());
  const std::string held = FileText(lock_path_);
  EXPECT_EQ(InChild([this] { return SecondOpener(); }), kTurnedAway);
  EXPECT_TRUE(OthersCanLock()) << "the device was opened and locked";
  EXPECT_EQ(FileText(lock_path_), held) << "the lock was not left as it was";
  unlink(lock_path_.c_str());
  EXPECT_EQ(
      InChild([this] { return OpenSerialDevice(slave_.c_str(), kNineSixHundred) == 0 ? 0 : 1; }),
      0);
}

// The lock file is the one terminal programs look for: LCK.. and the base
// name of the device that symbolic links lead to, so a by-id style link and
// the device share it; it holds the process id as ten digits and a newline,
// and goes with the port.
TEST_F(PortLock, LockFileFollowsTheConventionAndGoesWithThePort) {
  EXPECT_EQ(lock_path_, "/run/lock/LCK.." + slave_.substr(slave_.rfind('/') + 1));
  const std::string by_id = testing::TempDir() + "ebrilo-by-id-" + std::to_string(getpid());
  unlink(by_id.c_str());
  ASSERT_EQ(symlink(slave_.c_str(), by_id.c_str()), 0);
  EXPECT_EQ(PortLockPath(by_id.c_str()), lock_path_);

  ASSERT_EQ(OpenSerialDevice(by_id.c_str(), kNineSixHundred), 0);
  char expected[16];
  std::snprintf(expected, sizeof(expected), "%10d\n", static_cast<int>(getpid()));
  EXPECT_EQ(FileText(lock_path_), expected);
  EXPECT_EQ(FileText(lock_path_).size(), 11U);
  EXPECT_EQ(LockOwner(lock_path_), getpid());
  EXPECT_EQ(InChild([this] { return SecondOpener(); }), kTurnedAway);
  EXPECT_EQ(CLOSECOM(), 0);
  EXPECT_FALSE(Exists(lock_path_));
  unlink(by_id.c_str());
}

// A lock whose process has ended is taken over and said so; one that names a
// running process refuses the port, naming that process.
TEST_F(PortLock, StaleLockIsTakenOverAndALiveOneRefusesThePort) {
  const pid_t ended = EndedProcess();
  PlantLock(lock_path_, ended);
  EXPECT_EQ(LockOwner(lock_path_), 0);
  EXPECT_EQ(StandardErrorOf([this] {
              const bool opened = OpenSerialDevice(slave_.c_str(), kNineSixHundred) == 0;
              return opened && LockOwner(lock_path_) == getpid() && CLOSECOM() == 0 ? 0 : 1;
            }),
            "ebrilo: " + lock_path_ + ": stale lock of process " + std::to_string(ended) +
                ", which no longer runs; taken over\r\n");
  EXPECT_FALSE(Exists(lock_path_)) << "the run removed its lock at its end";

  PlantLock(lock_path_, getpid());
  EXPECT_EQ(StandardErrorOf([this] { return OpenSerialDevice(slave_.c_str(), kNineSixHundred); }),
            "ebrilo: cannot open " + slave_ + ": held by process " + std::to_string(getpid()) +
                " (" + lock_path_ + ")\r\n");
  EXPECT_EQ(LockOwner(lock_path_), getpid());
}

// A program that holds a flock on a stale lock file, even a shared one, may be
// taking it over: the run refuses the port and leaves the lock as it was.
TEST_F(PortLock, StaleLockSharedByAnotherProgramRefusesThePort) {
  PlantLock(lock_path_, EndedProcess());
  const std::string stale = FileText(lock_path_);
  const int holder = open(lock_path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_SH | LOCK_NB), 0);
  EXPECT_EQ(StandardErrorOf([this] { return OpenSerialDevice(slave_.c_str(), kNineSixHundred); }),
            "ebrilo: cannot open " + slave_ + ": another run is taking over its stale lock " +
                lock_path_ + "\r\n");
  EXPECT_EQ(FileText(lock_path_), stale);
  close(holder);
}

// Several runs find the same stale lock at once: exactly one of them gets the
// port's lock. Each winner keeps it until all have tried.
TEST_F(PortLock, OnlyOneRunTakesOverAStaleLock) {
  constexpr int kRuns = 4;
  for (int round = 0; round < 5; ++round) {
    PlantLock(lock_path_, EndedProcess());
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t runs[kRuns];
    for (pid_t& run : runs) {
      run = fork();
      if (run == 0) {
        close(start[1]);
        char go = 0;
        const bool started = read(start[0], &go, 1) == 0;
        const bool locked =
            started && LockPort(slave_, slave_.c_str()) && LockOwner(lock_path_) == getpid();
        usleep(300000);
        _exit(locked ? 0 : 1);
      }
    }
    close(start[0]);
    close(start[1]);
    int winners = 0;
    for (const pid_t run : runs) {
      int status = 0;
      waitpid(run, &status, 0);
      winners += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
    }
    EXPECT_EQ(winners, 1) << "round " << round;
  }
}

// SIGTERM (like Ctrl-C and a closed terminal) removes the lock on its way out
// and still ends the run as the signal does.
TEST_F(PortLock, InterruptedRunRemovesItsLock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t run = fork();
  if (run == 0) {
    close(ready[0]);
    if (OpenSerialDevice(slave_.c_str(), kNineSixHundred) == 0) {
      (void)!write(ready[1], "r", 1);
    }
    for (;;) {
      pause();
    }
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  EXPECT_EQ(LockOwner(lock_path_), run);
  kill(run, SIGTERM);
  int status = 0;
  waitpid(run, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_FALSE(Exists(lock_path_));
}

// The lock folder is writable by everyone: a named pipe or a symbolic link
// planted at the lock's name must neither hang the open nor be followed nor
// keep the port from a run. It is passed over, said so, and left alone; the
// device is still locked.
TEST_F(PortLock, NamedPipeOrSymbolicLinkAtTheLockPathIsPassedOver) {
  const std::string target = testing::TempDir() + "ebrilo-lock-target-" + std::to_string(getpid());
  unlink(target.c_str());
  ASSERT_EQ(mkfifo(lock_path_.c_str(), 0666), 0) << "no lock directory";
  const std::string passed_over = "ebrilo: " + lock_path_ + ": not a regular file; passed over\r\n";
  for (int planted = 0; planted < 2; ++planted) {
    EXPECT_EQ(
        StandardErrorOf([this] {
          return OpenSerialDevice(slave_.c_str(), kNineSixHundred) == 0 && !OthersCanLock() ? 0 : 1;
        }),
        passed_over);
    struct stat status {};
    EXPECT_EQ(lstat(lock_path_.c_str(), &status), 0);
    EXPECT_TRUE(planted == 0 ? S_ISFIFO(status.st_mode) : S_ISLNK(status.st_mode));
    unlink(lock_path_.c_str());
    ASSERT_EQ(symlink(target.c_str(), lock_path_.c_str()), 0);
  }
  EXPECT_FALSE(Exists(target)) << "the link was followed";
}

// A port that does not open is explained on standard error: the device, the
// system's reason and, where it helps, what to do about it.
TEST_F(PortLock, OpenFailureIsExplainedOnStandardError) {
  const auto open_port = [this] {
    return OpenSerialDevice(slave_.c_str(), kNineSixHundred) == 0 ? 1 : 0;
  };

  EXPECT_EQ(StandardErrorOf([] { return OpenSerialDevice("/nonexistent/ttyS0", kNineSixHundred); }),
            "ebrilo: cannot open /nonexistent/ttyS0: No such file or directory\r\n");

  ASSERT_EQ(chmod(slave_.c_str(), 0), 0);
  EXPECT_EQ(StandardErrorOf([&] {
              return geteuid() == 0 && !DropToNobody() ? kCannotDropPrivileges : open_port();
            }),
            "ebrilo: cannot open " + slave_ +
                ": Permission denied (the user must be in the dialout group)\r\n");
  ASSERT_EQ(chmod(slave_.c_str(), 0666), 0);

  // A program that locks the device but writes no lock file.
  const int holder = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(StandardErrorOf(open_port),
            "ebrilo: cannot open " + slave_ +
                ": Device or resource busy (held by another run or program)\r\n");
  close(holder);
}

}  // namespace
