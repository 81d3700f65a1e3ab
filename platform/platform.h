// SPDX-License-Identifier: MIT
// The few things the program needs from the operating system, each provided by
// one file per OS (posix or win32) so that no shared code has to ask which
// system it runs on:
//  - the serial port library: open and close a port, drive DTR and RTS, read CTS;
//    the device a port name stands for, and the list of the machine's ports;
//  - the I2C adapters that run the bus themselves: the system's own (Linux
//    i2c-dev) and the CH341A USB programmer;
//  - a millisecond tick counter, a microsecond clock and one turn of the
//    thread's message queue;
//  - the console streams, the dump file and the output file of a read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Serial port library. The port named in the mode text (for example
// "COM1: baud=9600 parity=N data=8 stop=0") is opened by OPENCOM and acted on
// by the other four operations until CLOSECOM. A line level of 1 asserts the
// modem line, 0 releases it. Results are those of the library and are not
// relied on by the bus code.
std::int32_t OPENCOM(const char* mode);
std::int32_t CLOSECOM();
std::int32_t DTR(std::int32_t level);
std::int32_t RTS(std::int32_t level);
std::int32_t CTS();

// True once the port failed to open or any line operation on it failed (a
// USB adapter pulled out, a device that has no modem lines). The failure is
// remembered until the next OPENCOM; CTS reads 0 while it lasts.
bool PortFailed();

// The device that the port name at the start of a mode text stands for.
// POSIX: a name holding '/' is a path, used as given; "COMn" is
// /dev/ttyS(n-1); any other name is a device in /dev. Windows: "COMn", n from
// 1 to 255, is \\.\COMn (the bare name reaches only COM1 to COM9); a name
// beginning \\.\ is used as given. Empty when the name cannot be a port:
// OPENCOM then fails, after ReportUnusablePortName.
std::string PortDevicePath(std::string_view mode);

// The device the serial port library opens for the port the mode text
// names, as its messages name it: PortDevicePath for a real port; the
// simulated port answers to the name the mode text gives it.
std::string PortDevice(const char* mode);

// One line on standard error saying that the port named by the mode text
// cannot be a port, and what a port name looks like here.
void ReportUnusablePortName(std::string_view mode);

// A serial port this machine has, as the listing shows it.
struct SerialPortInfo {
  std::string name;         // what to name the port by in the mode text
  std::string device;       // the device that name opens
  std::string description;  // what it is, and who holds it
};

// The serial ports this machine has, found without opening any (opening a
// port moves its modem lines), in the order the system gives them.
std::vector<SerialPortInfo> ListSerialPorts();

// Message-level I2C adapters run the bus themselves and take whole
// transfers: a list of messages, each to one 7-bit address, with a repeated
// START between them and one STOP at the end. A message is never empty: an
// acknowledged write address followed at once by a STOP corrupts the 24RF08.
struct I2cMessage {
  std::uint8_t address = 0;       // 7-bit, without the read bit
  bool read = false;              // bytes are read into, or written from
  std::span<std::uint8_t> bytes;  // at least one
};

// How a transfer ended. The two refusals are the chip's answers; the rest
// are the adapter's, explained in the reason the transfer gives.
enum class I2cResult {
  kDone,
  kAddressRefused,  // no acknowledge at an address (the kernel's ENXIO)
  kDataRefused,     // a byte written was not acknowledged (EREMOTEIO, EIO)
  kBusError,        // the bus is held low or arbitration was lost (ETIMEDOUT, EAGAIN)
  kTooLong,         // a message longer than the adapter carries (EOPNOTSUPP, EINVAL)
  kFailed,          // the adapter failed or is gone
};

// The system's I2C adapters (Linux i2c-dev, /dev/i2c-N): IsI2cAdapter tells
// whether a device is one, by what the device is rather than by its name.
// I2cAdapterOpen opens it for this run alone, and checks that it can carry
// plain I2C transfers and that no kernel driver holds one of the chip's
// addresses, i2c_chip_addresses (7-bit; the 24RF08's until the program sets
// them); it says on standard error why it could not. I2cAdapterTransfer
// carries one transfer; on a result other than kDone and the two refusals it
// sets reason to the system's words for it.
extern std::vector<std::uint8_t> i2c_chip_addresses;
bool IsI2cAdapter(const std::string& device);
bool I2cAdapterOpen(const std::string& device);
I2cResult I2cAdapterTransfer(std::span<const I2cMessage> messages, std::string& reason);
void I2cAdapterClose();

// The CH341A programmer on USB (1a86:5512, its I2C mode), talked to in
// command packets of at most 32 bytes. Ch341aOpen finds the one selector
// names ("ch341a", the first found, or "ch341a:BUS-PORTS") and claims it for
// this run, saying on standard error why it could not. Ch341aName names it
// for messages. Ch341aExchange sends packet and, when reply is not empty,
// reads exactly that many bytes back: the answers of the packets sent before
// it with an empty reply, which the programmer keeps in order, then its own.
// A packet sent with an empty reply is not waited for. False, with the
// reason set, when the programmer failed or is gone.
bool Ch341aOpen(std::string_view selector);
std::string Ch341aName();
bool Ch341aExchange(std::span<const std::uint8_t> packet, std::span<std::uint8_t> reply,
                    std::string& reason);
void Ch341aClose();

// The adapters and programmers this machine has, as the port listing shows
// them after the serial ports, found without opening any.
std::vector<SerialPortInfo> ListI2cAdapters();
std::vector<SerialPortInfo> ListCh341aProgrammers();

// Milliseconds since some fixed point, unsigned 32-bit, wrapping.
std::uint32_t TickCount();

// Microseconds since some fixed point, monotonic: fine enough to time one
// port call, which takes about a microsecond on a UART of the machine's own
// and 0.1 ms or more through a USB adapter.
std::uint64_t MicrosecondCount();

// Removes and dispatches every message already queued for this thread,
// without waiting for one. Nothing to do where the platform has no queue.
void PumpMessages();

// Puts the standard streams into the state the console code expects: bytes
// pass through untranslated, and a closed pipe is an error result, not a signal.
void ConsoleInit();

// Writes text to standard output and flushes it. A failure ends the run
// through IoFailure.
void ConsoleWrite(std::string_view text);

// Writes text and the console's line end, CR LF on every platform.
void ConsoleLine(std::string_view text);

// Reads and discards one line of standard input. End of input returns at once;
// a read error ends the run through IoFailure.
void ConsoleReadLine();

// Ends the run after an input/output failure that has no error number of its
// own: a report naming what failed and the system's reason on standard error,
// and exit status 1.
[[noreturn]] void IoFailure(std::string_view what, int error_number);

// Writes "ebrilo: " and text as one line on standard error, and goes on: the
// reason behind an error whose console message cannot give it. A failure to
// write it is ignored, as there is nowhere left to report it.
void Diagnostic(std::string_view text);

// A job that changes the chip and is cut short leaves it holding part of
// what it was to hold; the user must hear so even when the run ends by
// Ctrl-C, SIGTERM or SIGHUP (a console control event on Windows). From
// SayWhenInterrupted on, such an interruption first writes one line on
// standard error: "ebrilo: ", head, the count CountForInterruption set last
// (0 at first), and tail. The line is put together and written from the
// signal's handler (the control handler's thread on Windows), so the texts
// are copied here, and cut short beyond 200 bytes each.
// SayNothingWhenInterrupted ends it: the job is over.
void SayWhenInterrupted(std::string_view head, std::string_view tail);
void CountForInterruption(int count);
void SayNothingWhenInterrupted();

// The dump file. NamesExistingFile is true when name exists and is not a
// directory. OpenForReading opens it for reading only, sharing it with other
// readers and writers, and never blocks (a named pipe without a writer opens
// at once); it returns null on failure. FileSize gives the size in bytes, or
// -1 with errno set.
bool NamesExistingFile(const char* name);
std::FILE* OpenForReading(const char* name);
std::int64_t FileSize(std::FILE* file);

// The output file of a read. CreateOutputFile makes a new, empty temporary
// file in the folder of name, called name + ".ebrilo-tmp-" + the process id,
// and from then on removes it again should the process be interrupted
// (Ctrl-C, SIGTERM or SIGHUP; a console control event on Windows) or end
// before it is published. It fails, creating nothing, when anything of that
// name exists already or the temporary cannot be made.
// PublishOutputFile writes bytes into the temporary, flushes them to the disk
// and gives the temporary the final name, never replacing a file that has
// appeared there meanwhile; on failure the temporary is left to
// DiscardOutputFile, which removes a temporary not published (and does
// nothing otherwise). Each failure is explained by a Diagnostic naming the
// call and the system's reason.
bool CreateOutputFile(const char* name);
bool PublishOutputFile(std::span<const std::uint8_t> bytes);
void DiscardOutputFile();
