// SPDX-License-Identifier: MIT
// Comparisons of long values, an output, a trace's transactions or a chip's
// image, for EXPECT_PRED_FORMAT2: a failure says where the two part, with a
// little of each around that place, never the whole of either.
//   EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), expected);
//   EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Where actual parts from expected, and a little of each there, on three
// lines; empty when they are equal.
std::string TextDifference(const std::string& actual, const std::string& expected);

// Where an output that must start with head and end with tail parts from
// the first that it does not, as TextDifference says it; empty when it has
// both.
std::string HeadOrTailDifference(const std::string& out, const std::string& head,
                                 const std::string& tail);

// A little of text around offset at, quoted on one line.
std::string TextAround(const std::string& text, std::size_t at);

testing::AssertionResult TextsMatch(const char* actual_expression, const char* expected_expression,
                                    const std::string& actual, const std::string& expected);

testing::AssertionResult BytesMatch(const char* actual_expression, const char* expected_expression,
                                    const std::vector<std::uint8_t>& actual,
                                    const std::vector<std::uint8_t>& expected);
