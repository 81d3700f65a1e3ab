// SPDX-License-Identifier: MIT
#include "tests/first_difference.h"

#include <algorithm>
#include <cstdio>

namespace {

// Shown before and after the first difference.
constexpr std::size_t kTextBefore = 40;
constexpr std::size_t kTextAfter = 40;
constexpr std::size_t kBytesBefore = 4;
constexpr std::size_t kBytesAfter = 8;

// Where two sequences first differ: the size of the shorter when one
// begins with the other.
template <typename Sequence>
std::size_t FirstDifference(const Sequence& a, const Sequence& b) {
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t at = 0;
  while (at < common && a[at] == b[at]) {
    ++at;
  }
  return at;
}

std::string HexAround(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  const std::size_t begin = at > kBytesBefore ? at - kBytesBefore : 0;
  const std::size_t end = std::min(bytes.size(), at + kBytesAfter);
  std::string text = "[" + std::to_string(begin) + "]";
  for (std::size_t i = begin; i < end; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, i == at ? " <%02X>" : " %02X", bytes[i]);
    text += hex;
  }
  return text + (at >= bytes.size() ? " <end>" : "");
}

}  // namespace

std::string TextAround(const std::string& text, std::size_t at) {
  const std::size_t begin = at > kTextBefore ? at - kTextBefore : 0;
  const std::size_t end = std::min(text.size(), at + kTextAfter);
  std::string excerpt = begin > 0 ? "..." : "";
  excerpt += '"';
  for (std::size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      excerpt += "\\r";
    } else if (c == '\n') {
      excerpt += "\\n";
    } else if (c == '"' || c == '\\') {
      excerpt += '\\';
      excerpt += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      excerpt += escaped;
    } else {
      excerpt += static_cast<char>(c);
    }
  }
  excerpt += '"';
  return excerpt + (end < text.size() ? "..." : "");
}

std::string TextDifference(const std::string& actual, const std::string& expected) {
  if (actual == expected) {
    return "";
  }
  const std::size_t at = FirstDifference(actual, expected);
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < at; ++i) {
    if (actual[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "part at line " + std::to_string(line) + ", column " + std::to_string(column) +
         " (sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
         "):\n  actual:   " + TextAround(actual, at) + "\n  expected: " + TextAround(expected, at) +
         "\n";
}

std::string HeadOrTailDifference(const std::string& out, const std::string& head,
                                 const std::string& tail) {
  if (!out.starts_with(head)) {
    return "its head and the expected " + TextDifference(out.substr(0, head.size()), head);
  }
  if (out.size() < head.size() + tail.size() || !out.ends_with(tail)) {
    const std::size_t size = std::min(out.size() - head.size(), tail.size());
    return "its end and the expected " + TextDifference(out.substr(out.size() - size), tail);
  }
  return "";
}

testing::AssertionResult TextsMatch(const char* actual_expression, const char* expected_expression,
                                    const std::string& actual, const std::string& expected) {
  if (actual == expected) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << actual_expression << " and " << expected_expression << " "
                                     << TextDifference(actual, expected);
}

testing::AssertionResult BytesMatch(const char* actual_expression, const char* expected_expression,
                                    const std::vector<std::uint8_t>& actual,
                                    const std::vector<std::uint8_t>& expected) {
  if (actual == expected) {
    return testing::AssertionSuccess();
  }
  const std::size_t common = std::min(actual.size(), expected.size());
  std::size_t differing = std::max(actual.size(), expected.size()) - common;
  for (std::size_t i = 0; i < common; ++i) {
    if (actual[i] != expected[i]) {
      ++differing;
    }
  }
  const std::size_t at = FirstDifference(actual, expected);
  return testing::AssertionFailure()
         << actual_expression << " and " << expected_expression << " part at byte " << at
         << " (sizes " << actual.size() << " and " << expected.size() << ", " << differing
         << " bytes differ):\n  actual:   " << HexAround(actual, at)
         << "\n  expected: " << HexAround(expected, at);
}
