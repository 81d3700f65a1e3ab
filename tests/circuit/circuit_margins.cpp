// SPDX-License-Identifier: MIT
#include "tests/circuit/circuit_margins.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Milliseconds(double seconds) {
  return Format("%.3f ms", seconds * 1e3);
}

// The first row at or after time.
std::size_t RowAt(const Waveforms& waves, double time) {
  return static_cast<std::size_t>(std::lower_bound(waves.time.begin(), waves.time.end(), time) -
                                  waves.time.begin());
}

double ValueAt(const Waveforms& waves, const std::vector<double>& values, double time) {
  const std::size_t row = RowAt(waves, time);
  if (row == 0) {
    return values.front();
  }
  if (row >= values.size()) {
    return values.back();
  }
  const double span = waves.time[row] - waves.time[row - 1];
  const double part = span > 0 ? (time - waves.time[row - 1]) / span : 1;
  return values[row - 1] + part * (values[row] - values[row - 1]);
}

// How far a bus level is beyond the chip's threshold for the level meant.
double BusMargin(double volts, bool high, double vcc) {
  return high ? volts - 0.7 * vcc : 0.3 * vcc - volts;
}

// The least margin of values over [begin, end], both ends interpolated.
double LeastMargin(const Waveforms& waves, const std::vector<double>& values, double begin,
                   double end, const std::function<double(double)>& margin) {
  double least =
      std::min(margin(ValueAt(waves, values, begin)), margin(ValueAt(waves, values, end)));
  for (std::size_t row = RowAt(waves, begin); row < waves.time.size() && waves.time[row] <= end;
       ++row) {
    least = std::min(least, margin(values[row]));
  }
  return least;
}

// The step in effect at time.
const ScheduleStep& StepAt(const Schedule& schedule, double time) {
  const auto after =
      std::upper_bound(schedule.steps.begin(), schedule.steps.end(), time,
                       [](double when, const ScheduleStep& step) { return when < step.time; });
  return after == schedule.steps.begin() ? schedule.steps.front() : *(after - 1);
}

void Fail(Margins& margins, const std::string& line) {
  margins.failures += line + '\n';
}

// Each change of one bus line: how long it took, and how well the line then
// held its level up to its next change.
void CheckLevels(const Waveforms& waves, const std::vector<double>& values, const char* name,
                 bool LineLevels::*line, const Schedule& schedule, double vcc, Margins& margins) {
  const std::vector<ScheduleStep>& steps = schedule.steps;
  for (std::size_t first = 0; first < steps.size();) {
    std::size_t next = first + 1;
    while (next < steps.size() && steps[next].lines.*line == steps[first].lines.*line) {
      ++next;
    }
    const bool high = steps[first].lines.*line;
    const double begin = steps[first].time;
    const double end = next < steps.size() ? steps[next].time : schedule.end;
    double settled = begin;
    for (std::size_t row = RowAt(waves, begin); row < waves.time.size() && waves.time[row] <= end;
         ++row) {
      if (BusMargin(values[row], high, vcc) < 0) {
        settled = row + 1 < waves.time.size() ? waves.time[row + 1] : end;
      }
    }
    const double settle = std::min(settled, end) - begin;
    const double level = LeastMargin(waves, values, std::min(begin + kSettleLimit, end), end,
                                     [&](double volts) { return BusMargin(volts, high, vcc); });
    margins.settle = std::max(margins.settle, settle);
    margins.level = std::min(margins.level, level);
    if (settle > kSettleLimit || level < 0) {
      Fail(margins, std::string(name) + " changed to " + (high ? "high" : "low") + " at " +
                        Milliseconds(begin) + ": reached it after " +
                        Format("%.2f us", settle * 1e6) + ", then held it by " +
                        Format("%.2f V", level));
    }
    first = next;
  }
}

// While the chip may see SCL high, SDA keeps its side of the thresholds,
// except where the program makes a START or STOP: the level SDA had as SCL
// rose holds until SCL is low again, or until a START or STOP, whose new
// level must then hold from 10 us after it.
void CheckHeld(const Waveforms& waves, const Schedule& schedule, double vcc, Margins& margins) {
  const double threshold = 0.3 * vcc;
  const auto step_at = [&](double time) {
    return static_cast<std::size_t>(&StepAt(schedule, time) - schedule.steps.data());
  };
  bool inside = false;
  bool failed = false;
  bool high = false;
  double settled = 0;
  std::size_t step = 0;
  for (std::size_t row = 0; row < waves.time.size(); ++row) {
    const double time = waves.time[row];
    if (waves.scl[row] < threshold) {
      inside = false;
      continue;
    }
    const std::size_t now = step_at(time);
    if (!inside) {
      inside = true;
      failed = false;
      high = schedule.steps[now].lines.sda;
      settled = 0;
    } else {
      for (std::size_t index = step + 1; index <= now; ++index) {
        if (schedule.steps[index].start_or_stop) {
          high = schedule.steps[index].lines.sda;
          settled = schedule.steps[index].time + kSettleLimit;
        }
      }
    }
    step = now;
    if (time < settled) {
      continue;
    }
    const double margin = BusMargin(waves.sda[row], high, vcc);
    margins.held = std::min(margins.held, margin);
    if (margin < 0 && !failed) {
      failed = true;
      Fail(margins, "SDA left its level while SCL was high at " + Milliseconds(time));
    }
  }
}

// Wherever the program may sample CTS, the receiver sees the level meant.
void CheckCts(const Waveforms& waves, const PortModel& port, const Schedule& schedule,
              Margins& margins) {
  for (std::size_t index = 1; index < schedule.steps.size(); ++index) {
    const ScheduleStep& step = schedule.steps[index];
    if (!step.sampled_before) {
      continue;
    }
    const ScheduleStep& before = schedule.steps[index - 1];
    const bool asserted = before.lines.cts;
    const auto margin = [&](double volts) {
      if (port.rs232) {
        return asserted ? volts - 2.4 : 0.8 - volts;
      }
      return asserted ? 0.3 * port.volts - volts : volts - 0.7 * port.volts;
    };
    const double least =
        LeastMargin(waves, waves.cts, before.time + 2 * schedule.bit_delay, step.time, margin);
    margins.cts = std::min(margins.cts, least);
    if (least < 0) {
      Fail(margins, std::string("CTS did not read ") + (asserted ? "asserted" : "not asserted") +
                        " before " + Milliseconds(step.time) +
                        Format(" (short by %.2f V)", -least));
    }
  }
}

}  // namespace

Margins Evaluate(const Waveforms& waves, const PortModel& port, const Schedule& schedule) {
  Margins margins;
  margins.level = margins.held = margins.cts = kInfinity;
  margins.scl_high = margins.scl_low = margins.pins = kInfinity;
  const double vcc = port.chip_vcc;
  CheckLevels(waves, waves.scl, "SCL", &LineLevels::scl, schedule, vcc, margins);
  CheckLevels(waves, waves.sda, "SDA", &LineLevels::sda, schedule, vcc, margins);
  CheckHeld(waves, schedule, vcc, margins);
  CheckCts(waves, port, schedule, margins);
  // SCL as the chip sees it, from one crossing of 0.7 or 0.3 VCC to the next.
  for (std::size_t row = 0, since = 0; row < waves.time.size(); ++row) {
    const bool high = waves.scl[row] > 0.7 * vcc;
    if ((high || waves.scl[row] < 0.3 * vcc) && high != (waves.scl[since] > 0.7 * vcc)) {
      double& shortest = high ? margins.scl_low : margins.scl_high;
      shortest = std::min(shortest, since == 0 ? kInfinity : waves.time[row] - waves.time[since]);
      since = row;
    }
    for (const double volts : {waves.scl[row], waves.sda[row]}) {
      margins.pins = std::min({margins.pins, volts + 0.5, vcc + 0.5 - volts});
    }
    margins.clamp = std::max(margins.clamp, waves.clamp[row]);
    margins.supply = std::max(margins.supply, std::abs(waves.supply[row]));
    margins.port_output = std::max(margins.port_output, waves.port_output[row]);
  }
  if (margins.scl_high < 4.0e-6 || margins.scl_low < 4.7e-6) {
    Fail(margins, "SCL too short for 100 kHz: high at least 4.0 us, low 4.7 us");
  }
  margins.port_output_limit = port.rs232 ? port.volts / kRs232RatedLoad : kLogicOutputLimit;
  if (margins.pins < 0 || margins.clamp > kClampLimit) {
    Fail(margins, "a chip pin went past -0.5 V or VCC + 0.5 V, or its clamp current past 1 mA");
  }
  if (margins.supply > kSupplyLimit) {
    Fail(margins, "the supply current went past 5 mA");
  }
  if (margins.port_output > margins.port_output_limit) {
    Fail(margins, "a port output carried more than its rated load");
  }
  return margins;
}

std::string MarginsHead() {
  return "| Port | Bus lines settle (10 us) | Bus level margin | SDA held while SCL high | "
         "CTS margin at samples | SCL high, low (4.0, 4.7 us) | Pin voltage margin | "
         "Clamp current (1 mA) | Supply current (5 mA) | Port output current (limit) |\n"
         "|---|---|---|---|---|---|---|---|---|---|\n";
}

std::string MarginsRow(const std::string& name, const Margins& margins) {
  return "| " + name + " | " + Format("%.2f us", margins.settle * 1e6) + " | " +
         Format("%.2f V", margins.level) + " | " + Format("%.2f V", margins.held) + " | " +
         Format("%.2f V", margins.cts) + " | " + Format("%.2f us, ", margins.scl_high * 1e6) +
         Format("%.2f us", margins.scl_low * 1e6) + " | " + Format("%.2f V", margins.pins) + " | " +
         Format("%.3f mA", margins.clamp * 1e3) + " | " + Format("%.2f mA", margins.supply * 1e3) +
         " | " + Format("%.2f mA", margins.port_output * 1e3) + " (" +
         Format("%.2f mA", margins.port_output_limit * 1e3) + ") |\n";
}
