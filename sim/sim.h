// SPDX-License-Identifier: MIT
// The simulated port: a 24RF08 EEPROM, or a plain 24Cxx, behind the
// interface circuit, seen through the same five serial port operations (and
// PortFailed) that platform/platform.h declares. ebrilo-sim links these
// files in place of the real port; nothing else in the program changes.
//
// The program configures the simulation through the environment variable
// EBRILO_SIM, read at every OPENCOM. Tests in the same process use the
// functions below instead: they choose the configuration, reset everything,
// and look at the chip's memory, at what went over the bus and at counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kSimDataSize = 1024;          // the 24RF08's data bytes
inline constexpr std::size_t kSimLargestDataSize = 65536;  // the 24C512's
inline constexpr std::size_t kSimAppSize = 16;

// What is plugged into the port.
enum class SimCircuit {
  kNormal,    // the interface circuit, with the chip on its bus unless chip_absent
  kNone,      // nothing: CTS is never asserted
  kLoopback,  // a plug that wires DTR straight to CTS, with no bus behind it
};

// The chip does not acknowledge byte `byte` of transaction `transaction`:
// byte 1 is the control byte, 2 the word address, 3 the first data byte.
struct SimNack {
  std::uint32_t transaction = 0;
  std::uint32_t byte = 1;
};

// Transactions are numbered by the control bytes the chip receives after a
// START, from 0 at OPENCOM: the program's device probe is transaction 0. A
// random read counts twice: the control byte that sets the address, and the
// one with the read bit after the repeated START.
struct SimConfig {
  SimCircuit circuit = SimCircuit::kNormal;
  bool chip_absent = false;
  // The chip, named as in the makers' table: the 24RF08, or a plain chip
  // from "24C01" to "24C512". pins gives the levels the board straps its
  // address pins to (bit 2 A2, bit 1 A1, bit 0 A0): the chip answers at
  // 0x50 | pins, except for the pins it takes as block bits (24C04: A0;
  // 24C08: A1 and A0; 24C16: all), which are not connected inside. The
  // 24RF08 has no address pins and ignores it. The APP page's items below
  // (deaf_app, protect, locked, address_only_fault, app_load, app_save) are
  // the 24RF08's: EBRILO_SIM refuses them with a plain chip, which has no
  // use for them when a test sets them anyway.
  std::string chip = "24RF08";
  std::uint8_t pins = 0;
  bool invert_rts = false;        // the circuit inverts RTS on its way to SCL
  bool invert_dtr = false;        // ... DTR on its way to SDA
  bool invert_cts = false;        // ... bus SDA on its way to CTS
  std::uint32_t stuck_falls = 0;  // SDA held low until this many SCL falls
  std::vector<SimNack> nacks;
  bool deaf_app = false;         // the APP block (0xB8) never answers
  bool write_protected = false;  // every byte acknowledged, nothing stored
  // The chip enforces the access protection its APP registers set (blocks,
  // block 0's pages, the APP page's own), and bit 7 of registers 0 to 8 is
  // their sticky bit. Without it the registers are plain storage, and a chip
  // starting from registers of 0x00 is open.
  bool protect = false;
  // Bit k set: APP register k (0 to 8) has its sticky bit clear from the
  // opening of the port on, and refuses every write until the process ends
  // (the chip's power-off).
  std::uint16_t locked = 0;
  std::optional<std::uint32_t> weak_cell;  // data address whose bit 0 is stored inverted
  // A connection that brings bytes to the master wrong: each flip_at-th byte
  // the chip sends in the session (counted from 1), and every flip_every-th
  // (0: none), reaches the master with bit flip_bit inverted; the chip's
  // memory stays as it is.
  std::vector<std::uint32_t> flip_at;
  std::uint32_t flip_every = 0;
  std::uint32_t flip_bit = 4;
  std::optional<std::uint32_t> remove_at;  // the chip is gone from this transaction on
  std::uint32_t write_ms = 5;              // length of the write cycle
  // The 24RF08's documented fault: an odd number of acknowledged
  // address-only writes arms it, and the next acknowledged transaction then
  // sets the lowest clear bit of APP register 15, which no job writes.
  bool address_only_fault = false;
  bool port_fail_at_open = false;             // OPENCOM fails
  std::optional<std::uint32_t> port_fail_at;  // the port vanishes at this transaction
  std::string load;                           // the chip's data bytes to start from
  std::string app_load;                       // 16 APP registers to start from
  std::string save;                           // data bytes saved at CLOSECOM, exit, stop signal
  std::string app_save;                       // APP registers saved likewise
  std::string trace;                          // VCD trace of the lines
  // The simulated clock runs this many times faster than real time (1 to 100).
  std::uint32_t speed = 1;
  // A USB serial adapter, on the simulated clock: each DTR, RTS and CTS call
  // costs op_us; CTS reports the line as it was cts_lag_us earlier, sampled
  // only every cts_period_us. 0 is a port on the machine's own bus.
  std::uint32_t op_us = 0;
  std::uint32_t cts_lag_us = 0;
  std::uint32_t cts_period_us = 0;
  // From this transaction on (once the chip has its control byte), CTS lags
  // changed_lag_us instead: an adapter that grew slower after the check.
  std::optional<std::uint32_t> lag_change_at;
  std::uint32_t changed_lag_us = 0;
  // The simulated I2C adapter (a port named i2c-N): the longest message it
  // carries, in bytes, as i2c-dev's own limit by default; a refused address
  // reported as a refused data byte (EREMOTEIO), as the Raspberry Pi's and
  // DesignWare controllers report every refusal; an adapter that does not
  // open, or that is gone from transaction K on (unplugged).
  std::uint32_t i2c_max = 8192;
  bool i2c_remoteio = false;
  bool i2c_fail_at_open = false;
  std::optional<std::uint32_t> i2c_fail_at;
  // CH341A programmers on USB (0 to 2), the chip in the first one's socket;
  // each command packet's round trip costs round_trip_us; from its packet
  // unplug_at on (counted from 0 at the opening) the programmer is gone.
  std::uint32_t programmers = 1;
  std::uint32_t round_trip_us = 1000;
  std::optional<std::uint32_t> unplug_at;
};

// Reads the EBRILO_SIM syntax: items separated by ';', each "key=value" or a
// bare key. On a bad item returns false with that item in bad_item, and
// leaves config in an unspecified state.
bool SimParseConfig(std::string_view text, SimConfig& config, std::string& bad_item);

// Makes the following OPENCOMs use this configuration instead of EBRILO_SIM,
// until SimReset. A chip other than the one in place is put in place at
// once, erased, so that a test can fill its memory before OPENCOM. The text
// form returns false, changing nothing, when the text does not parse.
void SimConfigure(const SimConfig& config);
bool SimConfigureText(std::string_view text);

// Puts every part of the simulation back as at process start: port closed
// without saving, no configuration chosen, the 24RF08 in place with its
// memory erased (data 0xFF, APP 0x00), chip idle and not busy, bus log and
// counters empty, trace closed.
void SimReset();

// The chip's memory, live, at the size of the chip in place: tests may fill
// it before OPENCOM and read it after. A session (or SimConfigure) that puts
// another chip in place starts that chip erased (0xFF); sessions with the
// same chip keep what it holds.
std::span<std::uint8_t> SimData();
std::span<std::uint8_t, kSimAppSize> SimAppRegisters();

// True while the chip is in the write cycle that follows a stored write.
bool SimChipBusy();

// The bus monitor decodes the bus lines on its own, whatever the chip does:
// a START, a STOP, or a byte with the acknowledge given in its ninth clock.
// Bits outside a START ... STOP frame and bytes cut short are not logged.
enum class SimEventKind { kStart, kStop, kByte };
struct SimBusEvent {
  SimEventKind kind = SimEventKind::kStart;
  std::uint8_t value = 0;
  bool acked = false;
};
const std::vector<SimBusEvent>& SimBusLog();
// The log as text: "S" for START, "P" for STOP, and each byte in upper-case
// hex followed by '+' (acknowledged) or '-', separated by spaces:
// "S A8+ 00+ P".
std::string SimBusLogText();
void SimClearBusLog();

// Counts since SimReset, except transactions, which restarts at each OPENCOM
// and so is the number the next control byte will get.
struct SimCounters {
  std::uint64_t opencom_calls = 0;
  std::uint64_t closecom_calls = 0;
  std::uint64_t dtr_calls = 0;
  std::uint64_t rts_calls = 0;
  std::uint64_t cts_calls = 0;
  std::uint64_t scl_falls = 0;  // falling edges of the bus clock
  std::uint32_t transactions = 0;
  std::uint32_t stored_writes = 0;  // page or register writes the chip stored
  // Write control bytes the chip acknowledged and then saw a STOP after,
  // with no further byte: what confuses the real chip.
  std::uint32_t address_only_writes = 0;
};
SimCounters SimGetCounters();

// The simulated CH341A programmer's command packets since it was opened,
// each with the answer it gave, in order. The program read the answers
// after a packet marked answered: the answers of the packets it sent since
// the last such, and one USB round trip went by.
struct SimPacket {
  std::vector<std::uint8_t> command;
  std::vector<std::uint8_t> answer;
  bool answered = false;
};
const std::vector<SimPacket>& SimProgrammerPackets();

// A session of the programmer with the chip in its socket, for a device
// that stands in front of the real USB code: opened as the program's opening
// of a simulated programmer opens it, closed with the session's files saved.
void SimProgrammerOpen();
void SimProgrammerClose();

// The programmer's side of one command packet, against the session's bus:
// what a device in front of the real USB code runs for each packet it gets.
// False, with the reason, for a packet the device could not take.
bool SimProgrammerRun(std::span<const std::uint8_t> command, std::vector<std::uint8_t>& answer,
                      std::string& reason);
