// SPDX-License-Identifier: MIT
#include "tests/circuit/spice_bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace {

constexpr double kRs232Output = 300;  // ohms
constexpr double kLogicOutput = 100;  // ohms
constexpr double kLogicEdge = 20e-9;
// The chip's open-drain output at its weakest: 3 mA at 0.4 V.
constexpr double kChipOutputOhms = 0.4 / 3e-3;
// The chip changes its output only once it sees SCL low, and then not in
// the same instant: its output follows a latch that opens as SCL goes 0.1 V
// below 0.3 VCC, with a time constant of about 200 ns. The level it is to
// take next is set 1 us before the program lets SCL fall, while the latch is
// still closed.
constexpr double kLatchConductance = 5e-3;  // into 1 nF

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// A piecewise-linear source that takes level(step) at each step, ramping for
// ramp seconds from advance seconds before the step's time.
std::string Pwl(const std::string& name, const std::string& node, const Schedule& schedule,
                const std::function<double(const ScheduleStep&)>& level, double ramp,
                double advance) {
  std::ostringstream text;
  double now = level(schedule.steps.front());
  text << name << ' ' << node << " 0 PWL(0 " << Number(now);
  int points = 1;
  // An edge that begins before the last one ended turns where that one got to.
  double end = 0;
  for (const ScheduleStep& step : schedule.steps) {
    const double next = level(step);
    if (next == now) {
      continue;
    }
    const double begin = step.time - advance;
    const double from = begin <= end ? now - (now - next) * (end - begin) / ramp : now;
    text << (begin <= end || end == 0 ? "" : ' ' + Number(end) + ' ' + Number(now)) << ' '
         << Number(begin) << ' ' << Number(from);
    end = begin + ramp * std::abs(next - from) / std::abs(next - now);
    now = next;
    if (++points % 4 == 0) {
      text << "\n+";
    }
  }
  text << (end == 0 ? "" : ' ' + Number(end) + ' ' + Number(now)) << ")\n";
  return text.str();
}

// One port output: the driver's source behind its output resistance, the
// cable, then a meter for the current the circuit draws.
std::string PortOutput(const std::string& line, const PortModel& port, const Schedule& schedule,
                       bool (*asserted)(const LineLevels&)) {
  const auto level = [&](const ScheduleStep& step) {
    if (port.rs232) {
      return asserted(step.lines) ? port.volts : -port.volts;
    }
    // A logic-level adapter's pins are active low.
    return asserted(step.lines) ? 0.0 : port.volts;
  };
  const double ramp = port.rs232 ? 2 * port.volts / kRs232Slew : kLogicEdge;
  return Pwl("V" + line, line + "_source", schedule, level, ramp, 0) + "R" + line + ' ' + line +
         "_source " + line + "_cable " + Number(port.rs232 ? kRs232Output : kLogicOutput) + '\n' +
         "C" + line + ' ' + line + "_cable 0 500p\n" + "Vmeter_" + line + ' ' + line + "_cable " +
         line + " 0\n";
}

// A chip pin's ESD diodes to VCC and ground, each behind a current meter.
std::string Clamps(const std::string& pin) {
  return "Vclamp_high_" + pin + ' ' + pin + ' ' + pin + "_high 0\n" + "Dclamp_high_" + pin + ' ' +
         pin + "_high vcc clamp\n" + "Vclamp_low_" + pin + ' ' + pin + "_low " + pin + " 0\n" +
         "Dclamp_low_" + pin + " 0 " + pin + "_low clamp\n";
}

std::string Netlist(const Design& design, const PortModel& port, const Schedule& schedule) {
  std::ostringstream text;
  text << "* " << design.subcircuit << " on " << port.name << "\n"
       << ".include design.cir\n"
       << "* The port\n"
       << PortOutput("rts", port, schedule, [](const LineLevels& lines) { return lines.rts; })
       << PortOutput("dtr", port, schedule, [](const LineLevels& lines) { return lines.dtr; })
       << "Ccts cts 0 500p\n";
  if (port.rs232) {
    text << "Rreceiver cts 0 " << Number(kRs232Receiver) << '\n';
  }
  const double latch_open = 0.3 * port.chip_vcc - 0.1;
  text << "* The chip: its supply, pins and open-drain SDA output\n"
       << "Vsupply vcc 0 DC " << Number(port.chip_vcc) << '\n'
       << "Cscl scl 0 10p\nCsda sda 0 10p\n"
       << Clamps("scl") << Clamps("sda") << ".model clamp D(Is=1f N=1)\n"
       << Pwl(
              "Vchip", "chip_low", schedule,
              [](const ScheduleStep& step) { return step.chip_low ? 1.0 : 0.0; }, 10e-9, 1e-6)
       << "Blatch 0 latch I=" << Number(kLatchConductance)
       << "*(v(chip_low)-v(latch))/(1+exp((v(scl)-" << Number(latch_open) << ")/0.02))\n"
       << "Clatch latch 0 1n\nRlatch latch 0 1G\n"
       << "Boutput sda 0 I=v(latch)*v(sda)/" << Number(kChipOutputOhms) << '\n'
       << "* The interface\n"
       << "X1 rts dtr cts scl sda vcc 0 " << design.subcircuit
       << '\n'
       // With steps of microseconds the trapezoidal rule rings at the
       // sources' corners, showing overshoots that are not there.
       << ".options method=gear\n"
       << ".control\n"
       << "set wr_singlescale\n"
       << "tran 0.2u " << Number(schedule.end) << " 0 2u\n"
       << "wrdata waves.txt v(scl) v(sda) v(cts) i(Vsupply) i(Vclamp_high_scl) "
          "i(Vclamp_low_scl) i(Vclamp_high_sda) i(Vclamp_low_sda) i(Vmeter_rts) i(Vmeter_dtr)\n"
       << "quit 0\n"
       << ".endc\n"
       << ".end\n";
  return text.str();
}

std::string LogTail(const std::string& path) {
  std::ifstream file(path);
  std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return log.size() > 2000 ? log.substr(log.size() - 2000) : log;
}

Waveforms ReadWaveforms(const std::string& path) {
  std::ifstream file(path);
  Waveforms waves;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream row(line);
    double values[11];
    int count = 0;
    while (count < 11 && row >> values[count]) {
      ++count;
    }
    if (count != 11) {
      throw std::runtime_error("unexpected line in " + path + ": " + line);
    }
    waves.time.push_back(values[0]);
    waves.scl.push_back(values[1]);
    waves.sda.push_back(values[2]);
    waves.cts.push_back(values[3]);
    // The supply's current is counted into its positive terminal.
    waves.supply.push_back(-values[4]);
    waves.clamp.push_back(std::max(
        {std::abs(values[5]), std::abs(values[6]), std::abs(values[7]), std::abs(values[8])}));
    waves.port_output.push_back(std::max(std::abs(values[9]), std::abs(values[10])));
  }
  return waves;
}

}  // namespace

Waveforms SimulateBench(const Design& design, const PortModel& port, const Schedule& schedule,
                        const std::string& directory) {
  std::ofstream(directory + "/design.cir") << design.text;
  std::ofstream(directory + "/bench.cir") << Netlist(design, port, schedule);
  const std::string command = "cd '" + directory + "' && ngspice -b -n bench.cir >bench.log 2>&1";
  const int status = std::system(command.c_str());
  Waveforms waves;
  if (status == 0) {
    waves = ReadWaveforms(directory + "/waves.txt");
  }
  if (waves.time.empty() || waves.time.back() < schedule.end * 0.999) {
    throw std::runtime_error("ngspice did not complete the simulation:\n" +
                             LogTail(directory + "/bench.log"));
  }
  return waves;
}
