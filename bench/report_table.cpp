// SPDX-License-Identifier: MIT
#include "bench/report_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr std::size_t kColumns = 4;
const std::array<std::string, kColumns> kHeader = {"Measure", "Value", "Target", "Met"};

// A row whose title is set starts a section; its cells are unused.
struct Row {
  std::string title;
  std::array<std::string, kColumns> cells;
};

std::vector<Row> rows;

// Display width: each UTF-8 character (such as µ or ±) counts once.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Padded(const std::string& text, std::size_t width) {
  return text + std::string(width - std::min(width, Width(text)), ' ');
}

std::array<std::size_t, kColumns> ColumnWidths() {
  std::array<std::size_t, kColumns> widths{};
  for (std::size_t column = 0; column < kColumns; ++column) {
    widths[column] = Width(kHeader[column]);
    for (const Row& row : rows) {
      widths[column] = std::max(widths[column], Width(row.cells[column]));
    }
  }
  return widths;
}

std::string TextLine(const std::array<std::string, kColumns>& cells,
                     const std::array<std::size_t, kColumns>& widths) {
  std::string line;
  for (std::size_t column = 0; column < kColumns; ++column) {
    line += Padded(cells[column], widths[column]) + (column + 1 < kColumns ? "  " : "");
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return line + "\n";
}

std::string MarkdownLine(const std::array<std::string, kColumns>& cells) {
  std::string line = "|";
  for (const std::string& cell : cells) {
    line += " " + cell + " |";
  }
  return line + "\n";
}

}  // namespace

void AddSection(const std::string& title) {
  rows.push_back({title, {}});
}

void AddRow(const std::string& measure, const std::string& value, const std::string& target,
            const std::string& met) {
  rows.push_back({"", {measure, value, target, met}});
}

std::string MetText(bool met) {
  return met ? "yes" : "NO";
}

std::string Fixed(double value, int decimals) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  return text.data();
}

void PrintTable() {
  const auto widths = ColumnWidths();
  for (const Row& row : rows) {
    if (!row.title.empty()) {
      std::printf("\n%s\n%s", row.title.c_str(), TextLine(kHeader, widths).c_str());
    } else {
      std::fputs(TextLine(row.cells, widths).c_str(), stdout);
    }
  }
  std::fflush(stdout);
}

bool WriteMarkdown(const std::string& path, const std::string& heading) {
  std::string text = "# " + heading + "\n";
  for (const Row& row : rows) {
    if (!row.title.empty()) {
      text += "\n## " + row.title + "\n\n" + MarkdownLine(kHeader) + "|---|---|---|---|\n";
    } else {
      text += MarkdownLine(row.cells);
    }
  }
  std::ofstream file(path, std::ios::binary);
  file << text;
  return static_cast<bool>(file.flush());
}
