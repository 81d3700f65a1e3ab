// SPDX-License-Identifier: MIT
// What the end-to-end suites share: a scratch directory per test, the fixed
// pieces of the program's output, and access to what the simulated chip holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/program_run.h"
#include "tests/first_difference.h"

using Bytes = std::vector<std::uint8_t>;

// Lines joined with the console's CR LF, each line ended.
std::string Lines(std::initializer_list<std::string_view> lines);

std::string Separator();
// The two banner lines.
std::string Banner();
// Banner, empty line, separator and the timer line as MaskDelayCount leaves
// it; without the timer line for a run through an I2C adapter or the CH341A.
std::string RunHead(bool timer = true);
// The closing sequence: empty line, separator, prompt.
std::string Closing();
// count progress marks.
std::string Marks(int count);
// The whole output of a page-mode write with /V that succeeded.
std::string VerifiedPageWrite(bool timer = true);
std::string Usage();

// The delay count differs between runs and machines: checks that the timer
// line carries a plain decimal of 1 or more and replaces it with "N".
std::string MaskDelayCount(const std::string& out);

// True when the program under test is a Windows build (run under Wine).
bool WindowsTarget();

// A fresh directory for one test, removed again with its contents.
class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const;
  void WriteFile(const std::string& name, const Bytes& bytes) const;
  Bytes ReadFile(const std::string& name) const;

  // Runs the program in the scratch directory.
  ProgramRun Run(const ProgramSetup& setup) const;

  std::string directory_;
};

// A reproducible image whose bytes differ from page to page and from an
// erased chip.
Bytes PatternImage(std::uint32_t seed);
