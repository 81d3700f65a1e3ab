// SPDX-License-Identifier: MIT
#include "bench/trace_reader.h"

#include <cstdlib>
#include <sstream>

#include "bench/shell_run.h"

namespace {

constexpr int kClocksPerByte = 9;

// What the clock pulse now high counts as.
enum class HighPhase { kOther, kDataBit, kAcknowledge, kReadDataBit, kReadAcknowledge };

struct BusState {
  bool scl = false;
  bool sda = false;
  std::int64_t rise = -1;
  std::int64_t fall = -1;
  std::int64_t master_sda_change = -1;  // in the current SCL low phase
  HighPhase high = HighPhase::kOther;
  bool in_frame = false;
  int clocks = 0;        // SCL rises since the frame's latest START or repeated START
  int bytes_before = 0;  // whole bytes before the frame's latest repeated START
  int restarts = 0;
  bool reads = false;         // the frame has turned the bus round for a read
  bool read_control = false;  // the control byte since the latest START asks for a read
  std::uint8_t shift = 0;
  bool stop_seen = false;
  bool start_seen = false;
};

// The line changes that share one time stamp.
struct Changes {
  bool scl_changed = false;
  bool scl = false;
  bool sda_changed = false;
  bool sda = false;
  bool dtr_changed = false;
};

struct SignalIds {
  std::string scl;
  std::string sda;
  std::string dtr;
};

std::int64_t NumberAfter(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  return at == std::string::npos ? -1 : std::strtoll(text.c_str() + at + label.size(), nullptr, 10);
}

// After a control byte that asks for a read (and its acknowledge), the chip
// sends every byte until the next START or STOP.
bool Receiving(const BusState& bus, int clock) {
  return bus.read_control && clock > kClocksPerByte;
}

void SclRises(BusState& bus, TraceFigures& figures, std::int64_t time) {
  // While the chip sends, SCL low spans a varying number of primitives.
  if (bus.fall >= 0 && !(bus.in_frame && Receiving(bus, bus.clocks + 1))) {
    figures.scl_low.push_back(static_cast<double>(time - bus.fall));
  }
  if (bus.master_sda_change >= 0) {
    figures.data_setup.push_back(static_cast<double>(time - bus.master_sda_change));
  }
  bus.rise = time;
  bus.high = HighPhase::kOther;
  if (!bus.in_frame) {
    return;
  }
  ++bus.clocks;
  const bool acknowledge = bus.clocks % kClocksPerByte == 0;
  if (Receiving(bus, bus.clocks)) {
    bus.high = acknowledge ? HighPhase::kReadAcknowledge : HighPhase::kReadDataBit;
    return;
  }
  bus.high = acknowledge ? HighPhase::kAcknowledge : HighPhase::kDataBit;
  bus.shift = static_cast<std::uint8_t>(bus.shift << 1 | (bus.sda ? 1 : 0));
  // The control byte comes first after a START; its last bit asks for a read.
  if (bus.clocks == kClocksPerByte - 1 && (bus.shift & 1) != 0) {
    bus.read_control = true;
    bus.reads = true;
  }
}

void SclFalls(BusState& bus, TraceFigures& figures, std::int64_t time) {
  const auto high = static_cast<double>(time - bus.rise);
  switch (bus.high) {
    case HighPhase::kDataBit:
      figures.scl_high_data.push_back(high);
      break;
    case HighPhase::kAcknowledge:
      figures.scl_high_ack.push_back(high);
      break;
    case HighPhase::kReadDataBit:
      figures.read_scl_high_data.push_back(high);
      break;
    case HighPhase::kReadAcknowledge:
      figures.read_scl_high_ack.push_back(high);
      break;
    case HighPhase::kOther:
      break;
  }
  bus.fall = time;
  bus.master_sda_change = -1;
  if (bus.stop_seen && !bus.start_seen) {
    ++figures.clearing_pulses;
  }
}

// SDA moving while SCL is high is a START (falling) or a STOP (rising).
void SdaMoves(BusState& bus, TraceFigures& figures, std::int64_t time, bool by_master) {
  if (!bus.scl) {
    if (by_master) {
      bus.master_sda_change = time;
    }
    return;
  }
  // SCL high around a START or STOP spans the condition's own primitives.
  bus.high = HighPhase::kOther;
  if (!bus.sda) {
    if (bus.in_frame) {
      bus.bytes_before += bus.clocks / kClocksPerByte;
      ++bus.restarts;
    } else {
      figures.frame_starts.push_back(time);
      bus.bytes_before = 0;
      bus.restarts = 0;
      bus.reads = false;
    }
    bus.in_frame = true;
    bus.start_seen = true;
    bus.clocks = 0;
    bus.read_control = false;
  } else {
    if (bus.in_frame) {
      figures.frame_bytes.push_back(bus.bytes_before + bus.clocks / kClocksPerByte);
      figures.frame_restarts.push_back(bus.restarts);
      figures.frame_reads.push_back(bus.reads);
      figures.frame_stops.push_back(time);
    }
    bus.in_frame = false;
    bus.read_control = false;
    bus.stop_seen = true;
  }
}

// The simulated circuit settles SCL before SDA, and the trace lists them in
// that order, so an SDA change stamped with an SCL change follows it.
void Apply(BusState& bus, TraceFigures& figures, std::int64_t time, const Changes& changes) {
  if (changes.scl_changed && changes.scl != bus.scl) {
    bus.scl = changes.scl;
    if (bus.scl) {
      SclRises(bus, figures, time);
    } else {
      SclFalls(bus, figures, time);
    }
  }
  if (changes.sda_changed && changes.sda != bus.sda) {
    bus.sda = changes.sda;
    SdaMoves(bus, figures, time, changes.dtr_changed);
  }
  figures.end_ns = time;
}

void ReadVar(const std::string& line, SignalIds& ids) {
  std::istringstream words(line);
  std::string keyword;
  std::string type;
  std::string size;
  std::string id;
  std::string name;
  words >> keyword >> type >> size >> id >> name;
  if (name == "scl") {
    ids.scl = id;
  } else if (name == "sda") {
    ids.sda = id;
  } else if (name == "dtr") {
    ids.dtr = id;
  }
}

void ReadChange(const std::string& line, const SignalIds& ids, Changes& changes) {
  const std::string id = line.substr(1);
  const bool level = line[0] == '1';
  if (id == ids.scl) {
    changes.scl_changed = true;
    changes.scl = level;
  } else if (id == ids.sda) {
    changes.sda_changed = true;
    changes.sda = level;
  } else if (id == ids.dtr) {
    changes.dtr_changed = true;
  }
}

}  // namespace

TraceFigures ReadTrace(const std::string& path) {
  TraceFigures figures;
  const std::string text = FileText(path);
  const auto definitions_end = text.find("$enddefinitions");
  figures.origin_ns = NumberAfter(text.substr(0, definitions_end), "steady clock ");
  figures.program_ns = NumberAfter(text.substr(0, definitions_end), "program start + ");
  SignalIds ids;
  BusState bus;
  Changes changes;
  bool levels_known = false;  // the first time stamp only gives the levels at time 0
  std::int64_t time = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("$var", 0) == 0) {
      ReadVar(line, ids);
    } else if (line.size() > 1 && line[0] == '#') {
      if (levels_known) {
        Apply(bus, figures, time, changes);
      } else if (changes.scl_changed && changes.sda_changed) {
        bus.scl = changes.scl;
        bus.sda = changes.sda;
        levels_known = true;
      }
      changes = Changes{};
      time = std::strtoll(line.c_str() + 1, nullptr, 10);
    } else if (line.size() > 1 && (line[0] == '0' || line[0] == '1')) {
      ReadChange(line, ids, changes);
    }
  }
  if (levels_known) {
    Apply(bus, figures, time, changes);
  }
  figures.read = figures.origin_ns > 0 && figures.program_ns > 0 && !ids.scl.empty() &&
                 !ids.sda.empty() && !figures.frame_bytes.empty();
  return figures;
}
