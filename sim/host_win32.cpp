// SPDX-License-Identifier: MIT
// The simulation's files and stop signals on Windows. The chip's memory files
// are raw: exactly 1024 data bytes, or 16 APP registers, with nothing else in
// the file.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "sim/sim_parts.h"

bool ReadExactly(const std::string& path, std::span<std::uint8_t> bytes, std::string& reason) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) {
    reason = error.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    reason = "not a regular file";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  const std::size_t count = std::fread(bytes.data(), 1, bytes.size(), file);
  const bool at_end = std::fgetc(file) == EOF && std::feof(file) != 0;
  const bool failed = std::ferror(file) != 0;
  const int error_number = errno;
  const bool closed = std::fclose(file) == 0;
  if (failed || !closed) {
    reason = std::strerror(failed ? error_number : errno);
  } else if (count != bytes.size() || !at_end) {
    reason = "not exactly " + std::to_string(bytes.size()) + " bytes";
  } else {
    return true;
  }
  return false;
}

bool OutputCreate(const std::string& target, OutputFile& file, std::string& reason) {
  // Replacing a directory or a device would not do what was asked.
  std::error_code error;
  const auto status = std::filesystem::symlink_status(target, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    reason = "not a regular file";
    return false;
  }
  std::string temporary = target + ".XXXXXX";
  int descriptor = -1;
  if (_mktemp_s(temporary.data(), temporary.size() + 1) != 0 ||
      _sopen_s(&descriptor, temporary.c_str(),
               _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
               _S_IREAD | _S_IWRITE) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  file = {descriptor, target, temporary};
  return true;
}

bool OutputWrite(const OutputFile& file, std::int64_t offset, const void* bytes, std::size_t size) {
  if (_lseeki64(file.descriptor, offset, SEEK_SET) != offset) {
    return false;
  }
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const unsigned int piece = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
    const int put = _write(file.descriptor, next, piece);
    if (put <= 0) {
      errno = put == 0 ? ENOSPC : errno;
      return false;
    }
    next += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool OutputCommit(OutputFile& file) {
  if (file.descriptor == -1) {
    return true;
  }
  const int descriptor = file.descriptor;
  file.descriptor = -1;
  if (_close(descriptor) != 0) {
    const int error = errno;
    _unlink(file.temporary.c_str());
    errno = error;
    return false;
  }
  if (MoveFileExA(file.temporary.c_str(), file.target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
    // The system's reason has no errno; a target that cannot be replaced is
    // most often one that another program holds open.
    _unlink(file.temporary.c_str());
    errno = EACCES;
    return false;
  }
  return true;
}

void OutputDiscard(OutputFile& file) {
  if (file.descriptor == -1) {
    return;
  }
  const int error = errno;
  _close(file.descriptor);
  file.descriptor = -1;
  _unlink(file.temporary.c_str());
  errno = error;
}

// The performance counter: the runtime's steady clock counts whole
// microseconds, which at speed 50 would be steps longer than a bit delay.
std::int64_t HostNanoseconds() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER hertz{};
    QueryPerformanceFrequency(&hertz);
    return static_cast<std::int64_t>(hertz.QuadPart);
  }();
  LARGE_INTEGER count{};
  QueryPerformanceCounter(&count);
  const std::int64_t ticks = count.QuadPart;
  return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
}

// None are caught: the console's Ctrl+C handler runs on a thread of its own,
// where the chip could be in the middle of a line change; a stopped run
// writes nothing.
void CatchStopSignals(void (*)(int)) {}

void PassOnStopSignal(int) {}

void WriteStandardError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}
