// SPDX-License-Identifier: MIT
#include "bench/shell_run.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

std::string Quoted(const std::string& text) {
  std::string word = "'";
  for (const char c : text) {
    word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return word + "'";
}

int RunShell(const std::string& command) {
  return std::system(command.c_str());
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
