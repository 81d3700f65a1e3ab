// SPDX-License-Identifier: MIT
#include "platform/port_lock_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/interruption_posix.h"
#include "platform/platform.h"

namespace {

constexpr const char* kLockFolder = "/run/lock";

std::string held_lock;  // the lock file this run made, or empty
bool unlock_at_exit = false;

std::string BaseName(std::string_view path) {
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// "         123\n", as the convention has it.
std::string LockText(pid_t pid) {
  std::string digits = std::to_string(pid);
  return std::string(digits.size() < 10 ? 10 - digits.size() : 0, ' ') + digits + "\n";
}

// The process id in a lock file's text, or 0 where there is none: the ten
// digits of the convention, with or without their leading spaces.
pid_t LockTextOwner(std::string_view text) {
  const auto start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    return 0;
  }
  text.remove_prefix(start);
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
  const bool ends_well = end == text.data() + text.size() || *end == '\n';
  return error == std::errc{} && ends_well && pid > 0 ? pid : 0;
}

// A process we may not signal still runs.
bool Runs(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

pid_t ReadOwner(int file) {
  char text[32];
  const ssize_t size = pread(file, text, sizeof(text), 0);
  return size > 0 ? LockTextOwner(std::string_view(text, static_cast<std::size_t>(size))) : 0;
}

// The lock's own file, opened to read who holds it. The folder is writable by
// everyone, so anything may be waiting there. O_NOFOLLOW: a planted symbolic
// link must not make us open anything else. O_NONBLOCK: a planted named pipe
// must not hang the open.
int OpenLockFile(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool IsRegularFile(int file) {
  struct stat status {};
  return fstat(file, &status) == 0 && S_ISREG(status.st_mode);
}

// The lock file with this run's process id, made under a name of its own and
// then linked to the lock's name: link fails where the name exists, so of two
// runs that find the port free only one gets it, and nobody ever sees the
// lock file without its process id.
bool MakeOwnLockFile(const std::string& path) {
  unlink(path.c_str());
  const int file =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
  if (file == -1) {
    return false;
  }
  const std::string text = LockText(getpid());
  const bool written = write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = errno;
  close(file);
  if (!written) {
    unlink(path.c_str());
    errno = error == 0 ? ENOSPC : error;
  }
  return written;
}

// A stale lock is removed only by the run that holds its file's flock and
// finds the file still under the lock's name: of two runs taking over the
// same stale lock, the second either fails to get the flock or finds the
// name gone or given to another file, and starts again. The flock stays
// until the new lock is linked. Returns false when another run is taking it
// over.
bool RemoveStaleLock(const std::string& lock_path, int file, pid_t stale_pid) {
  if (flock(file, LOCK_EX | LOCK_NB) != 0) {
    return false;
  }
  struct stat opened {};
  struct stat named {};
  if (fstat(file, &opened) != 0 || lstat(lock_path.c_str(), &named) != 0 ||
      opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    return true;
  }
  if (ReadOwner(file) != stale_pid || unlink(lock_path.c_str()) != 0) {
    return true;
  }
  Diagnostic(lock_path + ": stale lock " +
             (stale_pid == 0
                  ? std::string("naming no process")
                  : "of process " + std::to_string(stale_pid) + ", which no longer runs") +
             "; taken over");
  return true;
}

void NoLockFile(const char* shown, const std::string& what, int error) {
  Diagnostic(std::string("no lock file for ") + shown + ": " + what + ": " + std::strerror(error) +
             "; the port is locked only against programs that lock the device");
}

}  // namespace

std::string PortLockPath(const char* device) {
  char* resolved = realpath(device, nullptr);
  const std::string name = BaseName(resolved != nullptr ? resolved : device);
  std::free(resolved);
  return std::string(kLockFolder) + "/LCK.." + name;
}

pid_t LockOwner(const std::string& lock_path) {
  const int file = OpenLockFile(lock_path);
  if (file == -1) {
    return 0;
  }
  const pid_t pid = IsRegularFile(file) ? ReadOwner(file) : 0;
  close(file);
  return Runs(pid) ? pid : 0;
}

bool LockPort(const std::string& device, const char* shown) {
  UnlockPort();
  const std::string lock_path = PortLockPath(device.c_str());
  const std::string own_path =
      std::string(kLockFolder) + "/LTMP.ebrilo." + std::to_string(getpid());
  if (!MakeOwnLockFile(own_path)) {
    NoLockFile(shown, "cannot create " + own_path, errno);
    return true;
  }
  if (!unlock_at_exit) {
    unlock_at_exit = true;
    std::atexit(UnlockPort);
  }
  bool locked = true;
  bool settled = false;
  int stale_file = -1;
  for (int attempt = 0; attempt < 4 && !settled; ++attempt) {
    settled = true;
    HoldInterruptions();
    if (link(own_path.c_str(), lock_path.c_str()) == 0) {
      held_lock = lock_path;
      RemoveWhenInterrupted(Leftover::PortLock, held_lock);
      AllowInterruptions();
      break;
    }
    const int link_error = errno;
    AllowInterruptions();
    if (link_error != EEXIST) {
      NoLockFile(shown, "cannot link " + lock_path, link_error);
      break;
    }
    const int file = OpenLockFile(lock_path);
    if (file == -1 && errno == ENOENT) {
      settled = false;
      continue;
    }
    if (file == -1 && errno != ELOOP) {
      Diagnostic(std::string("cannot open ") + shown + ": cannot read its lock " + lock_path +
                 ": " + std::strerror(errno));
      locked = false;
      break;
    }
    if (file == -1 || !IsRegularFile(file)) {
      Diagnostic(lock_path + ": not a regular file; passed over");
      if (file != -1) {
        close(file);
      }
      break;
    }
    const pid_t owner = ReadOwner(file);
    if (Runs(owner) && owner != getpid()) {
      Diagnostic(std::string("cannot open ") + shown + ": held by process " +
                 std::to_string(owner) + " (" + lock_path + ")");
      close(file);
      locked = false;
      break;
    }
    if (stale_file != -1) {
      close(stale_file);
    }
    stale_file = file;
    if (!RemoveStaleLock(lock_path, file, owner)) {
      Diagnostic(std::string("cannot open ") + shown +
                 ": another run is taking over its stale lock " + lock_path);
      locked = false;
      break;
    }
    settled = false;
  }
  if (!settled) {
    Diagnostic(std::string("cannot open ") + shown + ": its lock " + lock_path +
               " keeps changing hands");
    locked = false;
  }
  if (stale_file != -1) {
    close(stale_file);
  }
  unlink(own_path.c_str());
  return locked;
}

void UnlockPort() {
  if (!held_lock.empty()) {
    unlink(held_lock.c_str());
    KeepWhenInterrupted(Leftover::PortLock);
    held_lock.clear();
  }
}
