// SPDX-License-Identifier: MIT
// The serial port library, simulated. The interface circuit joins the modem
// lines to the two-wire bus: RTS (DB9 pin 7) drives SCL, DTR (pin 4) drives
// SDA-Out, and CTS (pin 8) reads SDA-In. An asserted line is a high bus line
// unless the circuit inverts it. SDA is open-drain: the master's output and
// the chip's are wired together and either can pull the line low.
//
// Each call to DTR or RTS settles the whole circuit before it returns, as the
// real lines would long before the program's next bit delay ends: the chip
// and the bus monitor see the edge, the chip answers, CTS takes its new
// level, and the trace records what changed.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

std::optional<SimConfig> chosen;  // set by tests in place of EBRILO_SIM
SimConfig session;                // in effect since the latest OPENCOM
bool session_started = false;     // and not yet saved
bool exit_handler_registered = false;

bool port_open = false;
bool port_failed = false;
bool tracing = false;
std::int32_t dtr = 0;  // port levels, 1 asserted
std::int32_t rts = 0;
bool scl = false;  // bus levels, true high
bool sda = true;
bool cts = false;  // port level, as CTS returns it
SimCounters counters;

// A configuration or file problem is the test harness's fault, not the
// program's: it must stop the run loudly, never let it go on with a
// simulation other than the one asked for. Its status is none of the
// program's own (0 to 6).
constexpr int kHarnessErrorStatus = 125;

[[noreturn]] void HarnessError(const std::string& message) {
  std::fprintf(stderr, "ebrilo-sim: %s\n", message.c_str());
  std::fflush(nullptr);
  std::_Exit(kHarnessErrorStatus);
}

[[noreturn]] void BadItem(std::string_view item) {
  HarnessError("bad EBRILO_SIM item '" + std::string(item) + "'");
}

SimConfig ConfigFromEnvironment() {
  SimConfig config;
  std::string bad_item;
  const char* text = std::getenv("EBRILO_SIM");
  if (text != nullptr && !SimParseConfig(text, config, bad_item)) {
    BadItem(bad_item);
  }
  return config;
}

void LoadMemory(std::string_view key, const std::string& path, std::span<std::uint8_t> memory) {
  if (!path.empty() && !ReadExactly(path, memory)) {
    BadItem(std::string(key) + "=" + path);
  }
}

void SaveMemory(const std::string& path, std::span<const std::uint8_t> memory) {
  if (!path.empty() && !WriteWhole(path, memory)) {
    HarnessError("cannot write '" + path + "': " + std::strerror(errno));
  }
}

// Writes out the trace and the memory files of the session, once.
void EndSession() {
  if (!session_started) {
    return;
  }
  session_started = false;
  if (tracing && !TraceClose()) {
    HarnessError("cannot write trace '" + session.trace + "': " + std::strerror(errno));
  }
  tracing = false;
  SaveMemory(session.save, SimData());
  SaveMemory(session.app_save, SimAppRegisters());
}

bool CircuitCts() {
  if (port_failed || session.circuit == SimCircuit::kNone) {
    return false;
  }
  if (session.circuit == SimCircuit::kLoopback) {
    return dtr != 0;
  }
  return sda != session.invert_cts;
}

LineLevels Levels() {
  return {scl, sda, dtr != 0, rts != 0, cts};
}

// The chip changes SDA only on a falling clock edge, so the clock is settled
// first and SDA after it; an SDA change can then only be a START or STOP if
// the master made it.
void Settle() {
  const bool new_scl = (rts != 0) != session.invert_rts;
  if (new_scl != scl) {
    scl = new_scl;
    counters.scl_falls += scl ? 0 : 1;
    ChipSclEdge(scl, sda);
    MonitorSclEdge(scl, sda);
  }
  const bool new_sda = ((dtr != 0) != session.invert_dtr) && ChipSdaOut();
  if (new_sda != sda) {
    sda = new_sda;
    ChipSdaEdge(sda, scl);
    MonitorSdaEdge(sda, scl);
  }
  if (session.port_fail_at && ChipTransactions() > *session.port_fail_at) {
    port_failed = true;
  }
  cts = CircuitCts();
  if (tracing) {
    TraceLines(Levels());
  }
}

}  // namespace

// The mode text names a port and its serial settings; the simulated port has
// no data lines, so it needs none of them.
std::int32_t OPENCOM(const char*) {
  ++counters.opencom_calls;
  port_open = false;
  EndSession();
  session = chosen ? *chosen : ConfigFromEnvironment();
  LoadMemory("load", session.load, SimData());
  LoadMemory("app_load", session.app_load, SimAppRegisters());
  session_started = true;
  if (!exit_handler_registered) {
    std::atexit([] { EndSession(); });
    exit_handler_registered = true;
  }
  port_failed = session.port_fail_at_open;
  if (port_failed) {
    return -1;
  }
  dtr = 0;
  rts = 0;
  ChipAttach(session);
  MonitorAttach();
  scl = session.invert_rts;
  sda = session.invert_dtr && ChipSdaOut();
  cts = CircuitCts();
  tracing = !session.trace.empty();
  if (tracing && !TraceOpen(session.trace, Levels())) {
    BadItem("trace=" + session.trace);
  }
  port_open = true;
  return 0;
}

std::int32_t CLOSECOM() {
  ++counters.closecom_calls;
  port_open = false;
  EndSession();
  return 0;
}

std::int32_t DTR(std::int32_t level) {
  ++counters.dtr_calls;
  if (!port_open || port_failed) {
    return -1;
  }
  dtr = level != 0 ? 1 : 0;
  Settle();
  return 0;
}

std::int32_t RTS(std::int32_t level) {
  ++counters.rts_calls;
  if (!port_open || port_failed) {
    return -1;
  }
  rts = level != 0 ? 1 : 0;
  Settle();
  return 0;
}

std::int32_t CTS() {
  ++counters.cts_calls;
  return port_open && cts ? 1 : 0;
}

bool PortFailed() {
  return port_failed;
}

void SimConfigure(const SimConfig& config) {
  chosen = config;
}

bool SimConfigureText(std::string_view text) {
  SimConfig config;
  std::string bad_item;
  if (!SimParseConfig(text, config, bad_item)) {
    return false;
  }
  chosen = config;
  return true;
}

void SimReset() {
  TraceClose();
  chosen.reset();
  session = SimConfig{};
  session_started = false;
  port_open = false;
  port_failed = false;
  tracing = false;
  dtr = 0;
  rts = 0;
  scl = false;
  sda = true;
  cts = false;
  counters = SimCounters{};
  ChipReset();
  MonitorReset();
}

SimCounters SimGetCounters() {
  SimCounters now = counters;
  now.transactions = ChipTransactions();
  now.stored_writes = ChipStoredWrites();
  return now;
}
