// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/system_error_win32.h"

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

namespace {

std::string output_name;
std::string temporary_name;
HANDLE temporary = INVALID_HANDLE_VALUE;
// Set while the temporary exists under its own name. The console control
// handler runs on a thread of its own, so the flag is atomic, and whichever
// thread takes it down removes the file.
std::atomic<bool> temporary_pending{false};
bool cleanup_installed = false;

// Explains a failed call by the system's text for GetLastError, which is
// taken before anything else can change it.
bool Failed(const char* call, const std::string& name) {
  const std::string reason = SystemErrorText(GetLastError());
  Diagnostic(std::string(call) + " '" + name + "': " + reason);
  return false;
}

// Ctrl-C, Ctrl-Break, a closed console window, logoff and shutdown. The
// temporary is still open here; having been opened for sharing deletion, it
// is gone once the process has ended and closed it. FALSE hands the event
// on to the system's handler, which ends the process as it would have.
BOOL WINAPI RemoveTemporaryOnControlEvent(DWORD) {
  if (temporary_pending.exchange(false)) {
    DeleteFileA(temporary_name.c_str());
  }
  return FALSE;
}

void InstallCleanup() {
  if (cleanup_installed) {
    return;
  }
  cleanup_installed = true;
  SetConsoleCtrlHandler(RemoveTemporaryOnControlEvent, TRUE);
  std::atexit(DiscardOutputFile);
}

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

}  // namespace

bool CreateOutputFile(const char* name) {
  QuietDriveErrors();
  output_name = name;
  if (output_name.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return Failed("cannot create", output_name);
  }
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_EXISTS);
    return Failed("cannot create", output_name);
  }
  if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
    return Failed("cannot create", output_name);
  }
  temporary_name = output_name + ".ebrilo-tmp-" + std::to_string(GetCurrentProcessId());
  InstallCleanup();
  // CREATE_NEW fails where anything of that name exists.
  temporary =
      CreateFileA(temporary_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (temporary == INVALID_HANDLE_VALUE) {
    return Failed("cannot create", temporary_name);
  }
  temporary_pending = true;
  return true;
}

bool PublishOutputFile(std::span<const std::uint8_t> bytes) {
  if (!WriteAll(temporary, bytes)) {
    return Failed("cannot write", temporary_name);
  }
  if (!FlushFileBuffers(temporary)) {
    return Failed("cannot flush to disk", temporary_name);
  }
  const BOOL closed = CloseHandle(temporary);
  temporary = INVALID_HANDLE_VALUE;
  if (!closed) {
    return Failed("cannot close", temporary_name);
  }
  // Without MOVEFILE_REPLACE_EXISTING the move fails where the name is taken.
  if (!MoveFileExA(temporary_name.c_str(), output_name.c_str(), MOVEFILE_WRITE_THROUGH)) {
    return Failed("cannot give the temporary file its name", output_name);
  }
  temporary_pending = false;
  return true;
}

void DiscardOutputFile() {
  if (temporary != INVALID_HANDLE_VALUE) {
    CloseHandle(temporary);
    temporary = INVALID_HANDLE_VALUE;
  }
  if (temporary_pending.exchange(false)) {
    DeleteFileA(temporary_name.c_str());
  }
}
