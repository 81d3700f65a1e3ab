// SPDX-License-Identifier: MIT
// The simulation's files and stop signals on POSIX systems. The chip's memory
// files are raw: exactly 1024 data bytes, or 16 APP registers, with nothing
// else in the file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "sim/sim_parts.h"

namespace {

// Reads until bytes is full or the file ends; the count read, or -1.
ssize_t ReadFull(int descriptor, std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(descriptor, bytes.data() + done, bytes.size() - done);
    if (got == 0) {
      break;
    }
    if (got < 0 && errno != EINTR) {
      return -1;
    }
    done += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  return static_cast<ssize_t>(done);
}

// What the new file's permissions are to be: the target's where there is
// one, else what a plain create would give.
mode_t ModeFor(const struct stat& target, bool target_exists) {
  if (target_exists) {
    return target.st_mode & 07777;
  }
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool ReadExactly(const std::string& path, std::span<std::uint8_t> bytes, std::string& reason) {
  // O_NONBLOCK: a named pipe without a writer, or a device waiting for
  // carrier, must not hang the run; it is then turned away as no regular file.
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor == -1) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat status {};
  std::uint8_t beyond = 0;
  if (fstat(descriptor, &status) != 0) {
    reason = std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    reason = "not a regular file";
  } else if (const ssize_t got = ReadFull(descriptor, bytes); got < 0) {
    reason = std::strerror(errno);
  } else if (got != static_cast<ssize_t>(bytes.size()) ||
             ReadFull(descriptor, std::span(&beyond, 1)) != 0) {
    reason = "not exactly " + std::to_string(bytes.size()) + " bytes";
  } else {
    reason.clear();
  }
  if (close(descriptor) != 0 && reason.empty()) {
    reason = std::strerror(errno);
  }
  return reason.empty();
}

bool OutputCreate(const std::string& target, OutputFile& file, std::string& reason) {
  // Renaming over a named pipe, a device or a directory would replace it
  // (as root, even /dev/null), and a symbolic link would lose its target.
  struct stat status {};
  const bool exists = lstat(target.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) {
    reason = "not a regular file";
    return false;
  }
  std::string temporary = target + ".XXXXXX";
  const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor == -1 || fchmod(descriptor, ModeFor(status, exists)) != 0) {
    reason = std::strerror(errno);
    if (descriptor != -1) {
      close(descriptor);
      unlink(temporary.c_str());
    }
    return false;
  }
  file = {descriptor, target, temporary};
  return true;
}

bool OutputWrite(const OutputFile& file, std::int64_t offset, const void* bytes, std::size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t put = pwrite(file.descriptor, next, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      errno = put == 0 ? ENOSPC : errno;
      return false;
    }
    next += put;
    size -= static_cast<std::size_t>(put);
    offset += put;
  }
  return true;
}

bool OutputCommit(OutputFile& file) {
  if (file.descriptor == -1) {
    return true;
  }
  const int descriptor = file.descriptor;
  file.descriptor = -1;
  if (close(descriptor) == 0 && rename(file.temporary.c_str(), file.target.c_str()) == 0) {
    return true;
  }
  const int error = errno;
  unlink(file.temporary.c_str());
  errno = error;
  return false;
}

void OutputDiscard(OutputFile& file) {
  if (file.descriptor == -1) {
    return;
  }
  const int error = errno;
  close(file.descriptor);
  file.descriptor = -1;
  unlink(file.temporary.c_str());
  errno = error;
}

std::int64_t HostNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// A terminal's interrupt, kill's default and a terminal that went away.
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// What handled each stop signal before the simulation caught it.
std::array<struct sigaction, kStopSignals.size()> earlier_actions{};

void CatchStopSignals(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (const int number : kStopSignals) {
    sigaddset(&action.sa_mask, number);
  }
  for (std::size_t index = 0; index < kStopSignals.size(); ++index) {
    if (sigaction(kStopSignals[index], nullptr, &earlier_actions[index]) == 0 &&
        earlier_actions[index].sa_handler != SIG_IGN) {
      sigaction(kStopSignals[index], &action, nullptr);
    }
  }
}

// Raised from the handler, the signal stays blocked until the handler
// returns and is then delivered to the earlier action.
void PassOnStopSignal(int number) {
  for (std::size_t index = 0; index < kStopSignals.size(); ++index) {
    if (kStopSignals[index] == number) {
      sigaction(number, &earlier_actions[index], nullptr);
    }
  }
  raise(number);
}

void WriteStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = write(STDERR_FILENO, text.data(), text.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
}
