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
// level, and the trace records what changed. A simulated USB adapter adds its
// own delays on the simulated clock: each line operation costs its round trip
// before the line changes or is read, and CTS reaches the program late.
#include <atomic>
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
bool session_started = false;     // and its files not yet written out
bool exit_handlers_installed = false;

// The session's output files, made at OPENCOM: a path that cannot be written
// then stops the run before the bus has moved, and everything a stop signal's
// handler needs to write them out is ready. Each failure text names its file.
OutputFile data_file;
OutputFile app_file;
std::string data_failure;
std::string app_failure;
std::string trace_failure;

// The chip stores a page at the STOP that ends its write, byte by byte, inside
// one line change. A stop signal that arrived in the middle of that could save
// half a page, so while a port operation runs (or the session's files are
// being written) the handler only notes the signal, and the operation acts on
// it as it ends.
std::atomic<bool> stops_deferred = false;
std::atomic<int> deferred_stop = 0;

bool port_open = false;
bool port_failed = false;
std::string port_name;  // as the mode text names the port, for messages
// What the system says of a serial port whose device is there but whose
// hardware is not: a ttyS with no UART, a USB adapter being pulled out.
constexpr const char* kVanishedReason = "Input/output error";
bool tracing = false;
std::int32_t dtr = 0;  // port levels, 1 asserted
std::int32_t rts = 0;
bool scl = false;  // bus levels, true high
bool sda = true;
bool cts = false;  // port level, as CTS returns it
SimCounters counters;
std::int64_t operation_ns = 0;  // what each line operation costs

// A configuration or file problem is the test harness's fault, not the
// program's: it must stop the run loudly, never let it go on with a
// simulation other than the one asked for. Its status is none of the
// program's own (0 to 6).
constexpr int kHarnessErrorStatus = 125;

// An I2C adapter's kernel driver clocks its bus at standard mode's 100 kHz
// unless the system was set up otherwise.
constexpr int kStandardModeKhz = 100;

void DiscardFiles() {
  OutputDiscard(data_file);
  OutputDiscard(app_file);
  TraceDiscard();
}

[[noreturn]] void HarnessError(const std::string& message) {
  DiscardFiles();
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

void LoadMemory(const std::string& path, std::span<std::uint8_t> memory) {
  std::string reason;
  if (!path.empty() && !ReadExactly(path, memory, reason)) {
    HarnessError("cannot read '" + path + "': " + reason);
  }
}

// The memory goes into the new file at once as well: a disk that is already
// full is found before the bus moves, and the final save then only
// overwrites these bytes.
void CreateMemoryFile(const std::string& path, std::span<const std::uint8_t> memory,
                      OutputFile& file, std::string& failure) {
  if (path.empty()) {
    return;
  }
  failure = "cannot write '" + path + "'";
  std::string reason;
  if (!OutputCreate(path, file, reason)) {
    HarnessError(failure + ": " + reason);
  }
  if (!OutputWrite(file, 0, memory.data(), memory.size())) {
    const int error = errno;
    HarnessError(failure + ": " + std::strerror(error));
  }
}

bool SaveMemory(OutputFile& file, std::span<const std::uint8_t> memory) {
  if (file.descriptor == -1) {
    return true;
  }
  if (!OutputWrite(file, 0, memory.data(), memory.size())) {
    OutputDiscard(file);
    return false;
  }
  return OutputCommit(file);
}

// Writes out the memory files and the trace of the session, once. The chip's
// memory comes first, so that a trace that cannot be written never costs what
// the chip holds. Returns the failure text of the first file that could not
// be written, with errno set, or null. Allocates nothing: a stop signal's
// handler runs it too.
const std::string* FinishSession() {
  if (!session_started) {
    return nullptr;
  }
  session_started = false;
  tracing = false;
  const std::string* failed = nullptr;
  int error = 0;
  const auto check = [&](bool written, const std::string& failure) {
    if (!written && failed == nullptr) {
      failed = &failure;
      error = errno;
    }
  };
  check(SaveMemory(data_file, SimData()), data_failure);
  check(SaveMemory(app_file, SimAppRegisters()), app_failure);
  check(TraceClose(), trace_failure);
  errno = error;
  return failed;
}

void EndSession() {
  if (const std::string* failed = FinishSession()) {
    const int error = errno;
    HarnessError(*failed + ": " + std::strerror(error));
  }
}

// Ends the run as the stop signal would have, once the session's files are
// written out: the signal goes on to what handled it before (the program's
// own clean-up, then the default action, with the status a shell expects).
void StopBySignal(int number) {
  stops_deferred = true;
  if (const std::string* failed = FinishSession()) {
    WriteStandardError("ebrilo-sim: ");
    WriteStandardError(*failed);
    WriteStandardError("\n");
  }
  PassOnStopSignal(number);
}

void OnStopSignal(int number) {
  if (stops_deferred) {
    deferred_stop = number;
    return;
  }
  StopBySignal(number);
}

void DeferStops() {
  stops_deferred = true;
}

void AllowStops() {
  stops_deferred = false;
  if (const int number = deferred_stop.exchange(0); number != 0) {
    StopBySignal(number);
  }
}

void InstallExitHandlers() {
  if (exit_handlers_installed) {
    return;
  }
  exit_handlers_installed = true;
  std::atexit([] {
    DeferStops();
    EndSession();
    AllowStops();
  });
  CatchStopSignals(OnStopSignal);
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
  return {scl, sda, dtr != 0, rts != 0, cts, (ChipAddressOnlyWrites() & 1) != 0};
}

// CTS takes every level the adapter has brought to the program by until, and
// the trace shows each at the time the program could first read it.
void ReportCts(std::int64_t until) {
  std::int64_t time = 0;
  bool level = false;
  while (CtsNextReport(until, time, level)) {
    cts = level;
    if (tracing) {
      TraceLines(Levels(), time);
    }
  }
}

// The chip changes SDA only on a falling clock edge, so the clock is settled
// first and SDA after it; an SDA change can then only be a START or STOP if
// the master made it.
void Settle(std::int64_t now) {
  ReportCts(now);
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
  if (session.port_fail_at && ChipTransactions() > *session.port_fail_at && !port_failed) {
    port_failed = true;
    Diagnostic(port_name + ": the port stopped answering: " + kVanishedReason +
               " (it may have been unplugged)");
  }
  if (session.lag_change_at && ChipTransactions() > *session.lag_change_at) {
    CtsChangeLag(session.changed_lag_us);
  }
  CtsLineAt(CircuitCts(), now);
  ReportCts(now);
  if (tracing) {
    TraceLines(Levels(), now);
  }
}

// What every session begins with, at OPENCOM or when an adapter that runs
// the bus itself opens: the configuration, the chip it names in place (erased
// if another was there), and the chip's files, of its size, made before the
// bus moves.
void BeginSession() {
  EndSession();
  session = chosen ? *chosen : ConfigFromEnvironment();
  if (!ChipChoose(session.chip)) {
    HarnessError("no simulated chip '" + session.chip + "'");
  }
  SimTimeSetSpeed(session.speed);
  operation_ns = std::int64_t{session.op_us} * 1000;
  LoadMemory(session.load, SimData());
  LoadMemory(session.app_load, SimAppRegisters());
  CreateMemoryFile(session.save, SimData(), data_file, data_failure);
  CreateMemoryFile(session.app_save, SimAppRegisters(), app_file, app_failure);
  session_started = true;
  InstallExitHandlers();
}

// The chip and the bus monitor join the bus with the lines as they are now,
// and the trace starts.
void AttachBus() {
  ChipAttach(session);
  MonitorAttach();
  scl = (rts != 0) != session.invert_rts;
  sda = ((dtr != 0) != session.invert_dtr) && ChipSdaOut();
  cts = CircuitCts();
  CtsAttach(session, cts);
  tracing = !session.trace.empty();
  if (tracing) {
    trace_failure = "cannot write trace '" + session.trace + "'";
    std::string reason;
    if (!TraceOpen(session.trace, Levels(), reason)) {
      HarnessError(trace_failure + ": " + reason);
    }
  }
}

std::int32_t OpenSession() {
  ++counters.opencom_calls;
  port_open = false;
  BeginSession();
  port_failed = session.port_fail_at_open;
  if (port_failed) {
    Diagnostic("cannot open " + port_name + ": " + kVanishedReason);
    return -1;
  }
  dtr = 0;
  rts = 0;
  AttachBus();
  port_open = true;
  return 0;
}

std::int32_t DriveLine(std::int32_t& line, std::int32_t level) {
  if (!port_open) {
    return -1;
  }
  SimTimeSpend(operation_ns);
  if (port_failed) {
    return -1;
  }
  DeferStops();
  line = level != 0 ? 1 : 0;
  Settle(SimNanoseconds());
  AllowStops();
  return 0;
}

}  // namespace

// The mode text names a port and its serial settings; the simulated port has
// no data lines, so it needs none of them. The circuit is behind whatever
// name is given, as long as it could name a port at all.
std::int32_t OPENCOM(const char* mode) {
  if (PortDevicePath(mode).empty()) {
    ReportUnusablePortName(mode);
    port_failed = true;
    return -1;
  }
  port_name = PortDevice(mode);
  DeferStops();
  const std::int32_t result = OpenSession();
  AllowStops();
  return result;
}

std::int32_t CLOSECOM() {
  DeferStops();
  ++counters.closecom_calls;
  port_open = false;
  EndSession();
  AllowStops();
  return 0;
}

std::int32_t DTR(std::int32_t level) {
  ++counters.dtr_calls;
  return DriveLine(dtr, level);
}

std::int32_t RTS(std::int32_t level) {
  ++counters.rts_calls;
  return DriveLine(rts, level);
}

std::int32_t CTS() {
  ++counters.cts_calls;
  if (!port_open) {
    return 0;
  }
  SimTimeSpend(operation_ns);
  DeferStops();
  ReportCts(SimNanoseconds());
  AllowStops();
  return !port_failed && cts ? 1 : 0;
}

bool PortFailed() {
  return port_failed;
}

// An adapter's master drives the bus with nothing between: no circuit, no
// inversion, no port whose lines cost time. DTR and RTS stand for its SDA
// and SCL outputs in the trace, both released (high) when it opens.
void SimAdapterOpen() {
  DeferStops();
  port_open = false;
  BeginSession();
  session.circuit = SimCircuit::kNormal;
  session.invert_rts = session.invert_dtr = session.invert_cts = false;
  session.port_fail_at_open = false;
  session.port_fail_at.reset();
  session.lag_change_at.reset();
  session.cts_lag_us = session.cts_period_us = 0;
  operation_ns = 0;
  port_failed = false;
  dtr = 1;
  rts = 1;
  MasterClock(kStandardModeKhz);
  AttachBus();
  port_open = true;
  AllowStops();
}

void SimAdapterClose() {
  CLOSECOM();
}

void SimAdapterLines(bool scl_out, bool sda_out, std::int64_t after_ns) {
  SimTimeSpend(after_ns);
  DeferStops();
  rts = scl_out ? 1 : 0;
  dtr = sda_out ? 1 : 0;
  Settle(SimNanoseconds());
  AllowStops();
}

bool SimAdapterSda() {
  return sda;
}

const SimConfig& SimSession() {
  return session;
}

SimConfig SimConfigInUse() {
  return chosen ? *chosen : ConfigFromEnvironment();
}

// The simulated port has no device of its own: it answers to the name the
// mode text gives the port.
std::string PortDevice(const char* mode) {
  const std::string_view text = mode;
  return std::string(text.substr(0, text.find(':')));
}

void SimTimeStartFromEnvironment() {
  SimConfig config;
  std::string bad_item;
  const char* text = std::getenv("EBRILO_SIM");
  if (text != nullptr && SimParseConfig(text, config, bad_item)) {
    SimTimeSetSpeed(config.speed);
  }
}

// A session in progress with another chip is ended first: its files get the
// memory of the chip it had.
void SimConfigure(const SimConfig& config) {
  chosen = config;
  if (session_started && config.chip != session.chip) {
    DeferStops();
    EndSession();
    AllowStops();
  }
  ChipChoose(config.chip);
}

bool SimConfigureText(std::string_view text) {
  SimConfig config;
  std::string bad_item;
  if (!SimParseConfig(text, config, bad_item)) {
    return false;
  }
  SimConfigure(config);
  return true;
}

void SimReset() {
  DiscardFiles();
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
  operation_ns = 0;
  deferred_stop = 0;
  SimTimeSetSpeed(1);
  CtsAttach(SimConfig{}, false);
  ChipReset();
  MonitorReset();
}

SimCounters SimGetCounters() {
  SimCounters now = counters;
  now.transactions = ChipTransactions();
  now.stored_writes = ChipStoredWrites();
  now.address_only_writes = ChipAddressOnlyWrites();
  return now;
}
