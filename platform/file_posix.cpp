// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/interruption_posix.h"
#include "platform/platform.h"

bool NamesExistingFile(const char* name) {
  struct stat status {};
  return stat(name, &status) == 0 && !S_ISDIR(status.st_mode);
}

std::FILE* OpenForReading(const char* name) {
  // O_NONBLOCK: opening a named pipe that has no writer, or a device that
  // waits for carrier, must not hang the program; such a file is then turned
  // away by its size before anything is read from it.
  const int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor == -1) {
    return nullptr;
  }
  std::FILE* file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    close(descriptor);
  }
  return file;
}

std::int64_t FileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return -1;
  }
  return static_cast<std::int64_t>(status.st_size);
}

namespace {

std::string output_name;
std::string temporary_name;
int temporary = -1;
bool temporary_pending = false;
bool discard_at_exit = false;

// Explains a failed call by errno, which is taken before anything else can
// change it.
bool Failed(const char* call, const std::string& name) {
  const int error_number = errno;
  Diagnostic(std::string(call) + " '" + name + "': " + std::strerror(error_number));
  return false;
}

bool WriteAll(int descriptor, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno != EINTR) {
      return false;
    }
    if (written > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
  }
  return true;
}

// A rename that fails where the target exists, decided by the file system
// itself, so that no file can slip in between a check and the rename. A
// file system that cannot refuse a replacing rename still cannot make a
// hard link over an existing name.
bool MoveWithoutReplacing(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    return false;
  }
  if (link(from, to) != 0) {
    return false;
  }
  unlink(from);
  return true;
}

}  // namespace

bool CreateOutputFile(const char* name) {
  output_name = name;
  struct stat status {};
  if (output_name.empty() || lstat(name, &status) == 0) {
    errno = output_name.empty() ? ENOENT : EEXIST;
    return Failed("cannot create", output_name);
  }
  if (errno != ENOENT) {
    return Failed("cannot create", output_name);
  }
  temporary_name = output_name + ".ebrilo-tmp-" + std::to_string(getpid());
  if (!discard_at_exit) {
    discard_at_exit = true;
    std::atexit(DiscardOutputFile);
  }
  // No signal may come between the creation and the note that there is
  // something to remove.
  HoldInterruptions();
  temporary =
      open(temporary_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
  const int open_error = errno;
  temporary_pending = temporary != -1;
  if (temporary_pending) {
    RemoveWhenInterrupted(Leftover::OutputTemporary, temporary_name);
  }
  AllowInterruptions();
  if (temporary == -1) {
    errno = open_error;
    return Failed("cannot create", temporary_name);
  }
  return true;
}

bool PublishOutputFile(std::span<const std::uint8_t> bytes) {
  if (!WriteAll(temporary, bytes)) {
    return Failed("cannot write", temporary_name);
  }
  if (fsync(temporary) != 0) {
    return Failed("cannot flush to disk", temporary_name);
  }
  const int closed = close(temporary);
  temporary = -1;
  if (closed != 0) {
    return Failed("cannot close", temporary_name);
  }
  if (!MoveWithoutReplacing(temporary_name.c_str(), output_name.c_str())) {
    return Failed("cannot give the temporary file its name", output_name);
  }
  KeepWhenInterrupted(Leftover::OutputTemporary);
  temporary_pending = false;
  return true;
}

void DiscardOutputFile() {
  if (temporary != -1) {
    close(temporary);
    temporary = -1;
  }
  if (temporary_pending) {
    unlink(temporary_name.c_str());
    KeepWhenInterrupted(Leftover::OutputTemporary);
    temporary_pending = false;
  }
}
