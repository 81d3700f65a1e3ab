// SPDX-License-Identifier: MIT
// The pieces of the simulated port, each in its own file, as the port
// operations in sim.cpp drive them. Bus levels are booleans, true
// meaning high (released).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "sim/sim.h"

// The 24RF08 (chip_24rf08.cpp). ChipAttach starts a port session: it takes
// the faults of the configuration, restarts transaction numbering and, for
// the stuck fault, makes the chip hold SDA low. The memory and a running
// write cycle survive it, as they would on the real chip.
void ChipAttach(const SimConfig& config);
void ChipReset();
void ChipSclEdge(bool scl, bool sda);
void ChipSdaEdge(bool sda, bool scl);
bool ChipSdaOut();
std::uint32_t ChipTransactions();
std::uint32_t ChipStoredWrites();

// The bus monitor (bus_monitor.cpp). MonitorAttach forgets a frame in
// progress but keeps the log.
void MonitorAttach();
void MonitorReset();
void MonitorSclEdge(bool scl, bool sda);
void MonitorSdaEdge(bool sda, bool scl);

// The VCD trace (vcd_trace.cpp). TraceClose writes out what is buffered and
// returns false if any write to the file failed; it does nothing when no
// trace is open.
struct LineLevels {
  bool scl = false;
  bool sda = false;
  bool dtr = false;
  bool rts = false;
  bool cts = false;
};
bool TraceOpen(const std::string& path, const LineLevels& levels);
void TraceLines(const LineLevels& levels);
bool TraceClose();

// Whole-file reads and writes of the chip's memory (memory_files.cpp).
bool ReadExactly(const std::string& path, std::span<std::uint8_t> bytes);
bool WriteWhole(const std::string& path, std::span<const std::uint8_t> bytes);
