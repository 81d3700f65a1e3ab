// SPDX-License-Identifier: MIT
#include <string_view>
#include <vector>

#include "app/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  ConsoleInit();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  RunSequence(arguments);
}
