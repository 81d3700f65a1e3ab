// SPDX-License-Identifier: MIT
// Comparing (/C) and updating (/U) a chip: a verified update with /F of a
// chip that differs from the dump in four pages, and of one that already
// holds it, each beside the same job's whole verified write; and a compare
// of a chip that holds the dump beside a read of it (/R, every unit read
// twice). A 24C64 on the serial port, a 24C512 through an I2C adapter and
// the CH341A.
#pragma once

#include <string>

void BenchUpdates(const std::string& work_dir);
