// SPDX-License-Identifier: MIT
#include "tests/e2e/bus_trace.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>

namespace {

// Calls change(time, name, level) for each change of a one-bit variable, in
// the order of the file, the initial levels included.
void ReadChanges(const std::string& path,
                 const std::function<void(std::int64_t, const std::string&, bool)>& change) {
  std::ifstream trace(path);
  std::string names[128];
  std::int64_t now = 0;
  for (std::string line; std::getline(trace, line);) {
    if (line.starts_with("$var ")) {
      char id = 0;
      char name[64] = {};
      if (std::sscanf(line.c_str(), "$var wire 1 %c %63s", &id, name) == 2 && id > 0) {
        names[static_cast<unsigned char>(id)] = name;
      }
    } else if (line.starts_with('#')) {
      now = std::stoll(line.substr(1));
    } else if (line.size() == 2 && (line[0] == '0' || line[0] == '1') && line[1] > 0) {
      change(now, names[static_cast<unsigned char>(line[1])], line[0] == '1');
    }
  }
}

}  // namespace

std::string TraceTransactions(const std::string& path) {
  std::string events;
  std::string frame;  // since the last START: "S" and the bytes so far
  bool scl = false;
  bool sda = false;
  int bits = 0;
  unsigned value = 0;
  const auto end_frame = [&](const char* end) {
    if (frame.size() > 1) {
      events += (events.empty() ? "" : " ") + frame + end;
    }
    frame.clear();
  };
  ReadChanges(path, [&](std::int64_t, const std::string& name, bool level) {
    if (name == "scl") {
      // Data and the acknowledge are valid while SCL is high.
      if (level && !scl && !frame.empty() && ++bits == 9) {
        char byte[8];
        std::snprintf(byte, sizeof byte, " %02X%c", value & 0xFF, sda ? '-' : '+');
        frame += byte;
        bits = 0;
        value = 0;
      } else if (level && !scl && !frame.empty()) {
        value = value << 1 | (sda ? 1 : 0);
      }
      scl = level;
    } else if (name == "sda") {
      // SDA changing under a high SCL is a START (falling) or a STOP; a
      // frame that carried no byte is left out.
      if (scl && level != sda) {
        end_frame(level ? " P" : "");
        frame = level ? "" : "S";
        bits = 0;
        value = 0;
      }
      sda = level;
    }
  });
  end_frame("");
  return events;
}

std::vector<double> SclHighTimes(const std::string& path) {
  std::vector<double> times;
  std::int64_t rise = -1;
  ReadChanges(path, [&](std::int64_t now, const std::string& name, bool level) {
    if (name != "scl") {
      return;
    }
    if (level) {
      rise = now;
    } else if (rise >= 0) {
      times.push_back(static_cast<double>(now - rise) / 1000);
      rise = -1;
    }
  });
  return times;
}

double MedianSclHigh(const std::string& path) {
  std::vector<double> highs = SclHighTimes(path);
  if (highs.empty()) {
    return 0;
  }
  std::nth_element(highs.begin(), highs.begin() + static_cast<std::ptrdiff_t>(highs.size() / 2),
                   highs.end());
  return highs[highs.size() / 2];
}
