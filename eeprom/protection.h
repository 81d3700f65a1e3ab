// SPDX-License-Identifier: MIT
// The chip's access protection, as its APP page sets it: registers 0 to 7
// guard the eight 128-byte blocks (bits 1:0: 00 and 01 no access, 10 read
// only, 11 read and write), register 8 guards the APP page's registers 9 to
// 15 and the ID page likewise, and register 9 enables writes to block 0's
// eight pages. Bit 7 of registers 0 to 8 is the register's sticky bit: once
// cleared, the chip refuses to change the register until it is powered off
// and on. Here the page is shown (/P /R), and read to say why the chip
// refused a job's transactions. Every register is read in a transaction of
// its own: the APP page takes one byte per transaction.
#pragma once

// Reads the 16 APP registers, one line each on standard output: the index,
// the value in hex and what it means, or that the chip refused to give it.
// False when it refused one.
bool ListAppPage();

// Says on standard error why the chip refused what the job asked, from what
// chip_refusals holds: for each block whose protection forbids what was
// refused there, its addresses, the register and its value, and that /P
// opens every block; for each APP register /P could not change, the sticky
// bit or the APP page's protection that keeps it. It reads registers 0 to 8
// (and 9 when block 0's pages are in question), one transaction each, and
// writes nothing; a chip that refuses to show them is said to do so. wrote:
// the job wrote the chip; if its verify then found the old contents although
// every byte was acknowledged, the chip's WP pin is named. Call once, after
// the job's last transaction, before its error message or "Done.".
void ExplainRefusals(bool wrote);
