// SPDX-License-Identifier: MIT
// The CH341A USB programmer's I2C command language: whole transfers turned
// into as few command packets as hold them, sent one after another and
// answered together, with the acknowledge of every byte sent reported and
// looked at once the answers are back.
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
// error why it could not); the first packets sent after it set the bus speed
// to bus_clock_khz (bus/bus_speed.h).
bool Ch341aBusOpen(std::string_view name);

// Carries one transfer through the programmer opened by Ch341aBusOpen in
// packets of 32 bytes, sent without waiting for each other's answers: one
// round trip for any chip's page, a poll or a read of any length (two for a
// write that follows another message). Every byte written is sent with its
// acknowledge reported; the first refused byte fails the transfer
// (kAddressRefused at an address, kDataRefused at a data byte), which ends
// with a STOP all the same. Read messages end with an unacknowledged byte. kFailed, with the
// reason, when the programmer failed.
I2cResult Ch341aTransfer(std::span<const I2cMessage> messages, std::string& reason);
