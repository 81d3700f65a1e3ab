// SPDX-License-Identifier: MIT
// The CH341A USB programmer's I2C command language: whole transfers turned
// into command packets, with the acknowledge of every byte sent looked at
// before anything after it goes out.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

// True when a port name chooses a CH341A programmer: "ch341a" in any case,
// alone (the first one found) or followed by ':' and the programmer's place
// on USB, as the port listing gives it.
bool IsProgrammerName(std::string_view name);

// Opens the programmer the name chooses (Ch341aOpen, which says on standard
// error why it could not); the first packet sent after it sets the bus speed.
bool Ch341aBusOpen(std::string_view name);

// Carries one transfer through the programmer opened by Ch341aBusOpen. Every
// byte written is sent with its own acknowledge report and nothing goes out
// after it until the report is back: the programmer itself would go on
// sending after a refused byte. The first refused byte ends the transfer
// with a STOP (kAddressRefused at an address, kDataRefused at a data byte).
// Read messages end with an unacknowledged byte. kFailed, with the reason,
// when the programmer failed.
I2cResult Ch341aTransfer(std::span<const I2cMessage> messages, std::string& reason);
