// SPDX-License-Identifier: MIT
// Preloaded before umockdev's library into the program under test. umockdev
// stands an emulated /dev/i2c-N in for the real one wherever a path names
// it, and its stat() shows i2c-dev's character device; but a descriptor
// opened on the node is one of umockdev's own files, and fstat() of it would
// not show that device. This library remembers the descriptors opened on an
// emulated /dev/i2c-N and answers fstat() for them with what stat() of their
// path shows through umockdev. It also answers realpath() for the node,
// which is no link: umockdev's writes past the end of its result for a path
// inside its testbed (a serial port's opening asks for one, on a run that
// took the adapter for a serial port).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdarg>
#include <cstring>
#include <string_view>

namespace {

// Descriptors above this are never one of the adapter's: the program opens
// a handful of files.
constexpr int kDescriptors = 256;
constexpr std::string_view kI2cDev = "/dev/i2c-";
constexpr std::size_t kLongest = 31;

// The path each descriptor was opened on, where it is an adapter's node.
std::array<std::array<char, kLongest + 1>, kDescriptors> paths{};

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The descriptor's entry, or nullptr for one that is never an adapter's.
char* PathOf(int descriptor) {
  return descriptor >= 0 && descriptor < kDescriptors
             ? paths[static_cast<std::size_t>(descriptor)].data()
             : nullptr;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  static const auto next = Next<int (*)(const char*, int, ...)>("open");
  const int descriptor = next(path, flags, mode);
  if (char* entry = PathOf(descriptor); entry != nullptr) {
    const bool node = std::string_view(path).starts_with(kI2cDev) && std::strlen(path) < kLongest;
    std::strcpy(entry, node ? path : "");
  }
  return descriptor;
}

extern "C" int close(int descriptor) {
  static const auto next = Next<int (*)(int)>("close");
  if (char* entry = PathOf(descriptor); entry != nullptr) {
    entry[0] = '\0';
  }
  return next(descriptor);
}

extern "C" int fstat(int descriptor, struct stat* status) noexcept {
  if (const char* entry = PathOf(descriptor); entry != nullptr && entry[0] != '\0') {
    return stat(entry, status);
  }
  static const auto next = Next<int (*)(int, struct stat*)>("fstat");
  return next(descriptor, status);
}

extern "C" char* realpath(const char* path, char* resolved) noexcept {
  static const auto next = Next<char* (*)(const char*, char*)>("realpath");
  if (!std::string_view(path).starts_with(kI2cDev)) {
    return next(path, resolved);
  }
  if (resolved == nullptr) {
    return strdup(path);
  }
  return std::strcpy(resolved, path);
}
