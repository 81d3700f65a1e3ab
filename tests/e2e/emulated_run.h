// SPDX-License-Identifier: MIT
// Runs of the real program, ebrilo, against a device that umockdev emulates
// in front of its unchanged system code, with the simulated chip behind it
// in this process: erased at the start of each test, with a write cycle of
// 5 ms.
#pragma once

#include <string>
#include <vector>

#include "sim/sim.h"
#include "tests/e2e/e2e_support.h"

class EmulatedDeviceRun : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    SimReset();
    ASSERT_TRUE(SimConfigureText("write_ms=5"));
  }
  void TearDown() override {
    SimReset();
    ScratchDirectory::TearDown();
  }

  // The program with the preload entry in its environment, as the user
  // nobody where asked. A program built with AddressSanitizer wants its
  // runtime first among the libraries; the preloaded ones come first here,
  // which changes nothing the sanitizer looks at.
  ProgramRun RunReal(std::vector<std::string> arguments, const char* preload,
                     bool as_nobody = false) const {
    return Run({.command = {RealProgram()},
                .arguments = std::move(arguments),
                .environment = {preload, "ASAN_OPTIONS=verify_asan_link_order=0"},
                .as_nobody = as_nobody,
                .speed = 1});
  }
};
