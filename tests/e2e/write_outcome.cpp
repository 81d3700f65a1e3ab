// SPDX-License-Identifier: MIT
#include "tests/e2e/write_outcome.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

constexpr int kImageSize = 1024;
constexpr int kPageSize = 16;
constexpr int kBytesPerMark = 128;
constexpr std::string_view kErrorAt = "error at ";

// At most this many differences of the chip are listed; the rest add nothing.
constexpr int kChipProblemsListed = 5;

int UnitSize(bool byte_mode) {
  return byte_mode ? 1 : kPageSize;
}

std::string Location(int address) {
  const int control = ((address >> 8) + 0x54) * 2;
  return std::to_string(control) + ":" + std::to_string(address & 0xFF);
}

std::string Head(bool byte_mode) {
  return RunHead() +
         Lines({"Eeprom dump size: OK", "",
                byte_mode ? "Byte mode. Writing eeprom..." : "Page mode. Writing eeprom..."});
}

bool Failed(const std::vector<int>& failed, int unit) {
  return std::find(failed.begin(), failed.end(), unit) != failed.end();
}

// The progress text of a writer that goes through attempted units of which
// exactly those in failed fail, with its closing line end.
std::string ProgressFor(bool byte_mode, const std::vector<int>& failed, int attempted) {
  std::string text;
  for (int unit = 0; unit < attempted; ++unit) {
    if (Failed(failed, unit)) {
      text += std::string(kErrorAt) + ErrorLineFor(byte_mode, unit) + "\r\n";
    } else if (!byte_mode || unit % kBytesPerMark == kBytesPerMark - 1) {
      text += ">";
    }
  }
  return text + "\r\n";
}

int ParseNumber(std::string_view text) {
  int number = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc{} && end == text.data() + text.size() ? number : -1;
}

// The unit an error line names; the line itself is checked against
// ErrorLineFor later. -1 when it names none.
int UnitOfErrorLine(bool byte_mode, std::string_view line) {
  if (byte_mode) {
    return ParseNumber(line.substr(0, line.find(' ')));
  }
  const auto colon = line.find(':');
  const int control = ParseNumber(line.substr(0, colon));
  const int word = colon == std::string_view::npos ? -1 : ParseNumber(line.substr(colon + 1));
  if (control < 0 || word < 0 || word % kPageSize != 0) {
    return -1;
  }
  return ((control / 2 - 0x54) * 256 + word) / kPageSize;
}

// Reads the marks and error lines of the progress text (from the line after
// the mode line up to and including the writer's closing line end).
bool ParseProgress(bool byte_mode, std::string_view text, std::vector<int>& failed) {
  while (text != "\r\n") {
    if (text.starts_with('>')) {
      text.remove_prefix(1);
      continue;
    }
    const auto end = text.find("\r\n");
    if (!text.starts_with(kErrorAt) || end == std::string_view::npos) {
      return false;
    }
    failed.push_back(
        UnitOfErrorLine(byte_mode, text.substr(kErrorAt.size(), end - kErrorAt.size())));
    text.remove_prefix(end + 2);
  }
  return true;
}

std::string Hex(std::uint8_t byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 15]};
}

std::string CheckChip(const ImageWrite& write, const WriteReport& report) {
  if (write.after.size() != kImageSize || write.before.size() != kImageSize ||
      write.image.size() != kImageSize) {
    return "the chip's data was not saved\n";
  }
  std::string problems;
  int listed = 0;
  const int unit_size = UnitSize(write.byte_mode);
  for (int address = 0; address < kImageSize && listed < kChipProblemsListed; ++address) {
    const int unit = address / unit_size;
    const auto index = static_cast<std::size_t>(address);
    const std::uint8_t old_byte = write.before[index];
    const std::uint8_t new_byte = write.image[index];
    const std::uint8_t held = write.after[index];
    const bool failed = Failed(report.failed, unit);
    std::string expected;
    if (unit >= report.attempted) {
      expected = held == old_byte ? "" : "its old " + Hex(old_byte) + " (never written)";
    } else if (failed) {
      expected = held == old_byte || held == new_byte
                     ? ""
                     : "old " + Hex(old_byte) + " or new " + Hex(new_byte) + " (failed)";
    } else {
      expected = held == new_byte ? "" : "the new " + Hex(new_byte) + " (reported written)";
    }
    if (!expected.empty()) {
      problems +=
          "address " + std::to_string(address) + " holds " + Hex(held) + ", not " + expected + "\n";
      ++listed;
    }
  }
  return problems;
}

}  // namespace

int WriteUnits(bool byte_mode) {
  return kImageSize / UnitSize(byte_mode);
}

std::string ErrorLineFor(bool byte_mode, int unit) {
  return byte_mode ? std::to_string(unit) + " " + Location(unit) : Location(unit * kPageSize);
}

std::string CheckImageWrite(const ImageWrite& write, WriteReport& report) {
  report = {};
  const ProgramRun& run = write.run;
  const std::string out = MaskDelayCount(run.out);
  const std::string ended = "status " + std::to_string(run.status) + ", signal " +
                            std::to_string(run.signal) + ", standard error '" + run.err + "'";
  if (run.status == 4 || run.status == 5) {
    const std::string expected =
        RunHead() +
        Lines({"Eeprom dump size: OK", run.status == 4 ? "ERROR: Circuit not found or bus error!"
                                                       : "ERROR: Eeprom not available!"}) +
        Closing();
    const std::string difference = TextDifference(out, expected);
    return (difference.empty()
                ? ""
                : "output of the failed bus opening and the expected " + difference) +
           CheckChip(write, report);
  }
  if (run.status != 0 && run.status != 6) {
    return "the run ended with " + ended + "\n";
  }
  const bool stopped = run.status == 6;
  const std::string tail = Lines({stopped ? "ERROR: Write eeprom failed!" : "Done."}) + Closing();
  const std::string head = Head(write.byte_mode);
  if (!out.starts_with(head) || !out.ends_with(tail) || out.size() < head.size() + tail.size()) {
    return "unexpected output for " + ended + ": " + HeadOrTailDifference(out, head, tail);
  }
  const std::string progress = out.substr(head.size(), out.size() - head.size() - tail.size());
  if (!ParseProgress(write.byte_mode, progress, report.failed)) {
    return "unreadable progress: " + TextAround(progress, 0) + "\n";
  }
  report.attempted = WriteUnits(write.byte_mode);
  if (stopped && !report.failed.empty()) {
    report.attempted = report.failed.back() + 1;
  }
  std::string problems;
  if (stopped != (!write.ignore_errors && !report.failed.empty())) {
    problems += "error 6 does not match the failures listed (" +
                std::to_string(report.failed.size()) + ")\n";
  }
  if (!write.ignore_errors && report.failed.size() > 1) {
    problems += "the writer went on after a failure without /E\n";
  }
  // Rebuilt from the failures alone, the progress must come out the same:
  // each failure once, in address order, each naming its own address, and
  // a mark wherever one is due.
  const std::string expected = ProgressFor(write.byte_mode, report.failed, report.attempted);
  if (progress != expected) {
    problems +=
        "the progress and the one its own failures make " + TextDifference(progress, expected);
  }
  return problems + CheckChip(write, report);
}
