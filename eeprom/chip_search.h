// SPDX-License-Identifier: MIT
// Opening the bus on the current chip, and finding out where a chip answers
// when it does not answer where /CHIP: and /ADDR: say.
#pragma once

#include <string>
#include <vector>

// Opens the bus (bus/transfer.h) on the current chip's addresses. When the
// chip does not answer its probe, looks at the other addresses of the
// family, 0x50 to 0x57, with the same probe (and at 0x5C, the 24RF08's APP
// page, where that tells a 24RF08 from a 24C08), and ends the run through
// ReportChipMissing with a line for each chip found there, saying what to
// type. None when nothing answers, nor when the bus acknowledges an address
// no device has.
void OpenChip();

// After a chip answered the probe at the current chip's address but did not
// take its word address as the current chip does (eeprom/chip_check.h): a
// line for each chip the family's addresses show, the one that answered
// among them, as the search above tells them; none where no other address
// answers, as that one chip tells no more than it did.
std::vector<std::string> WhatElseAnswers();
