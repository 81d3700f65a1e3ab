// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
