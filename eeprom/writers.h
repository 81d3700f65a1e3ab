// SPDX-License-Identifier: MIT
// The three jobs: the whole image in the chip's pages, the whole image byte
// by byte, and the APP reset. Progress shows as ">" marks, every failed
// transaction as an "error at" line; an interruption (Ctrl-C, a kill, a
// closed console) in the middle of a job says on standard error how many of
// its pages, bytes or registers were written. Each waits after every
// transaction for the chip's write cycle, the fixed time or, with
// ack_polling, until the chip answers again.
#pragma once

#include <cstdint>
#include <vector>

#include "eeprom/image_file.h"

// The APP reset sets registers 0 to kAppRegisters - 1 to kAppResetValue.
inline constexpr int kAppRegisters = 10;
inline constexpr std::uint8_t kAppResetValue = 0xFF;

// /E: a failed transaction is listed and the image writer goes on.
extern bool ignore_errors;

// The write transactions of the job that failed, each listed on its error
// line: none means the chip acknowledged every byte it was sent.
extern int failed_writes;

// /F: after each write transaction, poll the chip until it acknowledges
// again instead of always waiting the fixed time.
extern bool ack_polling;

// The units of a job (the chip's pages, or its bytes) that it covers: unit
// n stands for addresses n * unit size on. An empty selection covers all.
using UnitSelection = std::vector<bool>;

// Both image writers cover addresses 0 to last and return false when they
// stopped at a failed transaction (never with ignore_errors). Page mode
// shows a mark for each page, byte mode one for each 128 bytes: 64 and 8
// on the 24RF08; on a larger chip, where that would make more than 64, one
// for each 1/64 of the chip (MarkDue). Given only (an update, /U), they
// write only the pages or bytes it selects, send nothing for the others,
// and show a mark for each written unit, or as many as the whole job would
// show, spread evenly over them, where there are more (SpreadMarks).
bool WriteImagePaged(const EepromImage& image, int last, const UnitSelection& only = {});
bool WriteImageBytewise(const EepromImage& image, int last, const UnitSelection& only = {});

// The units of unit bytes in which found differs from image.
UnitSelection DifferingUnits(const EepromImage& image, const EepromImage& found,
                             std::uint32_t unit);

// Whether a progress mark is due once a job that works in units of unit
// bytes has done the addresses below done: at the end of each unit, or of
// each 1/64 of the chip where its units are more than 64. A console line
// holds 64 marks.
bool MarkDue(std::uint32_t done, std::uint32_t unit);

// The marks a job over the whole chip in units of unit bytes shows.
int MarksOfWholeJob(std::uint32_t unit);

// The marks due once the done-th of total selected units is done, in a job
// whose whole line holds most: one a unit where total is at most most,
// else most spread evenly over the units.
int SpreadMarks(int done, int total, int most);

// Sets APP registers 0 to 9 to 0xFF, listing failures; always true.
bool ResetApp();
