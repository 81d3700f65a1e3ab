// SPDX-License-Identifier: MIT
// Reading the chip back: the whole data memory into an image, with ">"
// marks and an "error at" line like the writers print, and the checks that
// compare what the chip holds with what it should hold, listing each
// differing page (or APP register) on a "mismatch at" line.
//
// Nothing read is trusted on one read. A loose clip, long wires or a
// USB-serial adapter that samples CTS late now and then turn a bit on its
// way from a sound chip, so every unit (a 128-byte block, an APP register)
// is taken only once two reads of it agree, read again as often as that
// takes, up to kMostReads reads. A unit that needed more than two says so on
// standard error once the job's reads are done; one that never reads the
// same twice fails its job, and standard error names the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "eeprom/image_file.h"
#include "eeprom/writers.h"

// Reads of one unit before the connection is given up: a transient spoils
// one read, so a sound connection never needs more than three, and a clip
// that spoils most reads is no connection to trust a backup to.
inline constexpr int kMostReads = 8;

// Reads the whole chip into image (sized to the chip), one 128-byte block per
// transaction (the 24RF08's sequential read wraps inside its block), each
// block until two reads agree, a mark for each block, or for each 1/64 of a
// chip of more than 64 blocks. Stops at the first failed transaction or
// block that never read the same twice, with its error line, and returns
// false. Ends with a line end.
bool ReadImage(EepromImage& image);

// Reads the whole chip into found (sized to expected) as CompareImage reads
// it, listing nothing: a block that reads as expected is taken on that one
// read. Of one that does not, only the pages that differ are read again, a
// page a read, each until two reads agree: what differs is written a page
// at a time, and a page costs a fraction of a block's read. False, after
// its error line, as ReadImage.
bool ReadImageExpecting(const EepromImage& expected, EepromImage& found);

// Reads the whole chip again, or only the chip's pages that pages selects (a
// page a read), and compares it with image, listing each differing page on
// a "mismatch at" line and then how many bytes differ: that number, or -1
// when the read failed. A block or page that reads as image is taken on
// that one read; one that does not is read again until two reads agree, and
// what they agree on is compared. Given found, leaves there what the chip
// was found to hold, once the whole chip was read (not where pages chose).
int CompareImage(const EepromImage& image, const UnitSelection& pages = {},
                 EepromImage* found = nullptr);

// True only when CompareImage found the chip holding image.
bool VerifyImage(const EepromImage& image, EepromImage* found = nullptr,
                 const UnitSelection& pages = {});

// How a unit read until two reads agree ended.
enum class UnitRead { kAgreed, kNeverAgreed, kFailed };

// Reads bytes.size() bytes from start on (one random read each, as
// ReadEepromBytes does) until two reads agree, as every unit of the jobs is
// read, and leaves the latest in bytes. Stops at a failed transaction. A
// read that needed more than two is noted for TellRereads under the
// addresses it covers, and sets reread. No line of its own on the console.
UnitRead ReadBytesAgreed(std::uint32_t start, std::span<std::uint8_t> bytes, bool& reread);

// Reads APP registers 0 to 9 back, one register per transaction: true only
// when each read succeeded and each register holds what the APP reset writes
// in the bits the datasheets define (AppVerifyMask), agreed on by two reads
// where the first did not show it.
bool VerifyApp();

// The same read of the registers as VerifyApp, with the same lines: the
// number of registers that differ, or -1 when a read failed.
int CompareApp();

// Reads one APP register until two reads agree in the bits the datasheets
// define (AppVerifyMask): value is the latest of them. False, with value
// unchanged, when the chip refused a read (failed set) or no two of
// kMostReads reads agreed (failed clear; standard error then names the
// connection).
bool ReadAppRegisterAgreed(std::uint8_t index, std::uint8_t& value, bool& failed);

// Says on standard error which units of the job needed more than two reads,
// and forgets them. Called by the jobs above and the APP listing at their
// end.
void TellRereads();

// The bits of APP registers that read back as written, or as the chip sets
// them: in registers 0 to 7 the sticky bit, the RFID field and the
// protection field (0xB3), in register 8 the sticky bit and the APP page's
// protection field (0x83), in register 10 the coil-detect and tamper bits
// (0xC1), the others whole. The other bits are undefined and read back as
// anything.
std::uint8_t AppVerifyMask(std::size_t index);

// Set by the latest VerifyImage or VerifyApp that found differences: they
// look like a chip that kept its old contents rather than like a weak cell
// (the rule is in readers.cpp). After a write whose every byte was
// acknowledged, that means nothing was stored.
extern bool verify_saw_old_contents;
