// SPDX-License-Identifier: MIT
// The pieces of the simulated port, each in its own file, as the port
// operations in sim.cpp drive them. Bus levels are booleans, true
// meaning high (released).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sim/sim.h"

// An adapter that runs the bus itself (the simulated I2C adapter and USB
// programmer), in sim.cpp. SimAdapterOpen starts a session as OPENCOM does,
// from the same configuration, with the adapter's master on the bus in place
// of the port and its circuit; SimAdapterClose ends it as CLOSECOM does.
// SimAdapterLines sets the master's SCL and SDA outputs (true releases the
// line) once after_ns of simulated time has passed, and the chip answers as
// to any line change; SimAdapterSda reads the bus's SDA. SimSession is the
// configuration in effect.
void SimAdapterOpen();
void SimAdapterClose();
void SimAdapterLines(bool scl, bool sda, std::int64_t after_ns);
bool SimAdapterSda();
const SimConfig& SimSession();
// The configuration the next session would take: the tests' choice, or
// EBRILO_SIM, whose bad item ends the run as at an opening.
SimConfig SimConfigInUse();

// The adapters' bus master (bus_master.cpp): I2C on the simulated clock,
// each bit four steps of a quarter of the clock's period. MasterClock sets
// the clock in kHz; SimAdapterOpen sets the 100 kHz of standard mode, at
// which an I2C adapter's kernel driver runs it. MasterStart makes a
// START (a repeated one inside a transfer) and leaves SCL low; MasterStop
// leaves both lines high. MasterWrite sends a byte and gives its
// acknowledge; MasterRead receives one and acknowledges it, or not.
void MasterClock(int khz);
void MasterStart();
void MasterStop();
bool MasterWrite(std::uint8_t byte);
std::uint8_t MasterRead(bool acknowledge);

// A chip the simulation can put on the bus: one row of the table in
// chip.cpp. Its device address has every pin the board straps low;
// board_pins are the address pins it compares (A2 in bit 2 to A0 in bit 0),
// block_bits those it takes as address bits 8 and up instead. A sequential
// read wraps at read_wrap bytes. The 24RF08 alone has the APP page and no
// address pins at all.
struct SimChipModel {
  std::string_view name;
  std::size_t size = 0;
  std::size_t page = 0;
  unsigned address_bytes = 1;
  std::uint8_t device = 0;
  std::uint8_t board_pins = 0;
  std::uint8_t block_bits = 0;
  std::size_t read_wrap = 0;
  bool app = false;
  bool address_pins = false;
};
// The row of that name, as SimConfig names chips, or null.
const SimChipModel* SimFindChip(std::string_view name);

// The simulated chip (chip.cpp). ChipChoose puts the named chip in place,
// fresh and erased, unless it is there already (false for a name not in the
// table). ChipAttach starts a port session: it takes the address pins and
// the faults of the configuration, restarts transaction numbering and, for
// the stuck fault, makes the chip hold SDA low. The memory and a running
// write cycle survive it, as they would on the real chip.
bool ChipChoose(std::string_view name);
void ChipAttach(const SimConfig& config);
void ChipReset();
void ChipSclEdge(bool scl, bool sda);
void ChipSdaEdge(bool sda, bool scl);
bool ChipSdaOut();
std::uint32_t ChipTransactions();
std::uint32_t ChipStoredWrites();
std::uint32_t ChipAddressOnlyWrites();

// The connection's transient read faults (transit.cpp). TransitAttach starts
// a session's count of the bytes the chip sends; InTransit takes each such
// byte as the chip puts it on SDA and gives it as it reaches the master.
void TransitAttach(const SimConfig& config);
std::uint8_t InTransit(std::uint8_t value);

// The simulated clock (simulated_time.cpp), in nanoseconds: N times faster
// than the steady clock at speed N, and moved on by SimTimeSpend without any
// real time passing. It never runs backwards. SimTimeStartFromEnvironment
// (sim.cpp) sets the speed EBRILO_SIM asks for before the port is opened, for
// the program's first clock reading; a text that does not parse leaves speed
// 1, and the OPENCOM that follows refuses it.
std::int64_t SimNanoseconds();
void SimTimeSetSpeed(std::uint32_t speed);
void SimTimeSpend(std::int64_t nanoseconds);
void SimTimeStartFromEnvironment();

// CTS as a USB adapter reports it (adapter_cts.cpp), on the simulated clock.
// CtsAttach starts a port session with the line at level and nothing queued;
// CtsLineAt tells the line's level at a time (no earlier than the last one
// told); CtsNextReport takes the oldest change the program can see by until,
// with the time it became visible, and false when there is none.
// CtsChangeLag gives the changes told from then on another lag; none is seen
// before a change told earlier.
void CtsAttach(const SimConfig& config, bool level);
void CtsChangeLag(std::uint32_t lag_us);
void CtsLineAt(bool level, std::int64_t time);
bool CtsNextReport(std::int64_t until, std::int64_t& time, bool& level);

// The bus monitor (bus_monitor.cpp). MonitorAttach forgets a frame in
// progress but keeps the log.
void MonitorAttach();
void MonitorReset();
void MonitorSclEdge(bool scl, bool sda);
void MonitorSdaEdge(bool sda, bool scl);

// What the simulation needs from the system it runs on (host_posix.cpp or
// host_win32.cpp).
//
// ReadExactly fills bytes from a regular file that holds exactly that many;
// anything else fails, and so does a file whose opening could wait (a named
// pipe, a device). On failure it sets reason: the system's, or what is wrong
// with the file.
bool ReadExactly(const std::string& path, std::span<std::uint8_t> bytes, std::string& reason);

// A file the simulation writes replaces its target whole or not at all: it is
// written as a new file beside the target and renamed over it once complete,
// so that a full disk or a stopped run never leaves a target cut short.
// OutputCreate makes the new file, once it has checked that the target is a
// regular file or does not exist yet; on failure it sets reason. The other
// three return false with errno set on failure; they allocate nothing and,
// on POSIX systems, are safe in a signal handler. OutputCommit and
// OutputDiscard end the file either way (a failed commit leaves the target as
// it was); both do nothing when no file is open.
struct OutputFile {
  int descriptor = -1;
  std::string target;
  std::string temporary;
};
bool OutputCreate(const std::string& target, OutputFile& file, std::string& reason);
bool OutputWrite(const OutputFile& file, std::int64_t offset, const void* bytes, std::size_t size);
bool OutputCommit(OutputFile& file);
void OutputDiscard(OutputFile& file);

// The signals that stop a run from outside, after which the session's files
// are still written out. CatchStopSignals puts handler in front of whatever
// handles each of them now (a signal ignored from the start stays ignored);
// PassOnStopSignal, safe in the handler, hands the signal on to that earlier
// action (the program's own clean-up, or the default action that ends the
// process). WriteStandardError is safe in the handler too.
void CatchStopSignals(void (*handler)(int));
// The system's monotonic clock in nanoseconds, at its finest resolution: the
// simulated clock multiplies its steps by the speed. On POSIX systems it is
// the steady clock.
std::int64_t HostNanoseconds();
void PassOnStopSignal(int number);
void WriteStandardError(std::string_view text);

// The VCD trace (vcd_trace.cpp), timed on the simulated clock. TraceOpen
// creates the trace file or sets reason; TraceLines records the levels as
// they are from time on (simulated nanoseconds, never earlier than the last). TraceClose writes out
// what is buffered and the time the trace ends, and returns false with errno set if any write to
// the file failed; it is safe in a signal handler where the output functions are. TraceDiscard
// drops the trace without writing it. Both do nothing when no trace is open.
struct LineLevels {
  bool scl = false;
  bool sda = false;
  bool dtr = false;
  bool rts = false;
  bool cts = false;
  // Changes at every address-only write the chip acknowledged.
  bool address_only = false;
};
bool TraceOpen(const std::string& path, const LineLevels& levels, std::string& reason);
void TraceLines(const LineLevels& levels, std::int64_t time);
bool TraceClose();
void TraceDiscard();
