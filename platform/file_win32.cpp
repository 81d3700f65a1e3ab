// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

namespace {

// A name on a drive with no medium in it must simply fail, not stop the run
// behind a "no disk" message box that waits for someone to click it.
void QuietDriveErrors() {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

}  // namespace

bool NamesExistingFile(const char* name) {
  QuietDriveErrors();
  const DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::FILE* OpenForReading(const char* name) {
  QuietDriveErrors();
  // Others may go on reading, writing, renaming or deleting the dump while we
  // hold it: the program only reads it once. Opening never waits; a busy named
  // pipe or a device fails at once, and a device that does open is turned away
  // by its size before anything is read from it.
  const HANDLE handle =
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "rb");
  if (file == nullptr) {
    _close(descriptor);
  }
  return file;
}

std::int64_t FileSize(std::FILE* file) {
  // A character device (CON, NUL) has size 0 here, just as on other systems,
  // so it is turned away as a dump of the wrong size.
  struct _stat64 status {};
  if (_fstat64(_fileno(file), &status) != 0) {
    return -1;
  }
  return static_cast<std::int64_t>(status.st_size);
}
