// SPDX-License-Identifier: MIT
// A bus monitor clipped onto SCL and SDA, like a logic analyser's I2C
// decoder: it knows nothing of the chip and logs what the lines show.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

std::vector<SimBusEvent> events;
bool in_frame = false;  // between a START and a STOP
int bits = 0;           // rising edges of SCL in the current byte, the ninth included
std::uint8_t value = 0;

}  // namespace

void MonitorAttach() {
  in_frame = false;
}

void MonitorReset() {
  MonitorAttach();
  events.clear();
}

// Data bits and the acknowledge are valid while SCL is high, so the monitor
// takes them on its rising edge.
void MonitorSclEdge(bool scl, bool sda) {
  if (!scl || !in_frame) {
    return;
  }
  if (++bits <= 8) {
    value = static_cast<std::uint8_t>(value << 1 | (sda ? 1 : 0));
    return;
  }
  events.push_back({SimEventKind::kByte, value, !sda});
  bits = 0;
}

void MonitorSdaEdge(bool sda, bool scl) {
  if (!scl) {
    return;
  }
  events.push_back({sda ? SimEventKind::kStop : SimEventKind::kStart, 0, false});
  in_frame = !sda;
  bits = 0;
}

const std::vector<SimBusEvent>& SimBusLog() {
  return events;
}

std::string SimBusLogText() {
  std::string text;
  for (const SimBusEvent& event : events) {
    if (!text.empty()) {
      text += ' ';
    }
    if (event.kind == SimEventKind::kByte) {
      char byte[4];
      std::snprintf(byte, sizeof byte, "%02X%c", event.value, event.acked ? '+' : '-');
      text += byte;
    } else {
      text += event.kind == SimEventKind::kStart ? 'S' : 'P';
    }
  }
  return text;
}

void SimClearBusLog() {
  events.clear();
}
