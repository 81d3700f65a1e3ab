// SPDX-License-Identifier: MIT
// The benchmark's result: sections of rows (measure, value, target, whether
// the target was met), printed as plain text and written as Markdown.
#pragma once

#include <string>

void AddSection(const std::string& title);
// An empty target means the row is for information only.
void AddRow(const std::string& measure, const std::string& value, const std::string& target = "",
            const std::string& met = "");

// "yes" or "NO", for the met column.
std::string MetText(bool met);
// A number with a fixed count of decimals.
std::string Fixed(double value, int decimals);

void PrintTable();
bool WriteMarkdown(const std::string& path, const std::string& heading);
