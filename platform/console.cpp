// SPDX-License-Identifier: MIT
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

void ConsoleWrite(std::string_view text) {
  // Every piece is flushed at once: progress marks must show during the
  // long writes, and a full disk or a vanished reader is seen at the write
  // that hit it rather than at exit.
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    IoFailure("cannot write to standard output", errno);
  }
}

void ConsoleLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  ConsoleWrite(line);
}

void ConsoleReadLine() {
  for (;;) {
    const int c = std::getchar();
    if (c == '\n') {
      return;
    }
    if (c == EOF) {
      if (std::ferror(stdin) != 0) {
        IoFailure("cannot read standard input", errno);
      }
      return;
    }
  }
}

void IoFailure(std::string_view what, int error_number) {
  std::string report(what);
  report += ": ";
  report += std::strerror(error_number);
  Diagnostic(report);
  std::exit(1);
}

void Diagnostic(std::string_view text) {
  std::string line = "ebrilo: ";
  line += text;
  line += "\r\n";
  std::fputs(line.c_str(), stderr);
}
