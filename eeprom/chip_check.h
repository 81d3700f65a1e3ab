// SPDX-License-Identifier: MIT
// Whether the chip on the bus takes its word address as the chip /CHIP:
// names, checked with reads alone before a job on a plain chip goes to work
// on it; and what the job's own reads show of a chip smaller or larger than
// named.
//
// The program can only address a chip as its name says: one word-address
// byte or two, the top address bits in the control byte or not. A chip
// given one address byte too many takes the low one as a data byte; one
// given one too few takes it as the high byte and reads from wherever its
// low byte was. Either answers every read with bytes from elsewhere, and a
// write scatters the dump over the wrong pages before its verify says a
// word. A chip as wide as named but smaller ignores the top address bits:
// it reads as its own contents repeated, and keeps the last copy of a
// write. One larger than named wraps nowhere near its end.
#pragma once

#include "eeprom/image_file.h"

// Before the first read or write of a job on a plain chip, once the bus is
// open; nothing on a chip with the APP page (the 24RF08, and every run
// without /CHIP:, keep their transactions exactly). Checks with reads in the
// current chip's own addressing, each taken once two reads agree, that the
// chip takes its word address as the current chip does. When it does not,
// says on standard error what the chip does and what it may be, with what
// the family's other addresses show, and ends the run with error 5: nothing
// written, no file made. When it does, and the chip reads other bytes past
// the current chip's size than at address 0, says that the chip holds more
// and that the job (writing, or reading into a file) covers its first bytes
// only. A read the chip refuses ends the check, telling nothing: the job
// meets the same refusal and reports it as it always has.
void CheckChip(bool writing);

// After a whole read of a plain chip: when image is one stretch of a size
// that a chip of the family shows under the current chip's name, repeated
// (and not all one value), says so on standard error with those chips. A
// finding, not a fault: a chip may hold its data twice.
void TellRepeats(const EepromImage& image);

// After the verify of a write to a plain chip found found there instead of
// the dump (nothing, with found empty, where the read-back failed): the repeat above, and what the
// check finds now that the chip holds the write (an erased chip tells it nothing). Where the chip
// does not take its word address as named, or repeats and changed under the write (a smaller chip
// keeps the last of the copies written over each other), verify_saw_old_contents is cleared: the
// chip's WP pin is not to blame.
void ExplainFailedVerify(const EepromImage& found);
