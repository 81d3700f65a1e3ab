// SPDX-License-Identifier: MIT
// The CH341A programmer on Windows, as plain text work: what its hardware
// ids, its place on USB and its driver are taken to mean, and the lines
// that say why it cannot be used. Apart from the system calls, so that the
// build machine tests them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The CH341 chip's product (0x5512, or a serial mode's) that a device's
// hardware ids name ("USB\VID_1A86&PID_5512&REV_0304", in any case), or
// none for another device.
std::optional<std::uint16_t> Ch341ProductOf(const std::vector<std::string>& hardware_ids);

// The place a device is known by: the number of its hub and of its port
// there, "4-2" for the location Windows gives as "Port_#0002.Hub_#0004"
// (Device Manager's Location), which stays the same for a programmer
// plugged into the same port. A location of another form leaves the device
// instance id as its place.
std::string Ch341aPlaceOf(std::string_view location, std::string_view instance_id);

// True when the device's service, its function driver, is WinUSB.
bool IsWinUsbService(std::string_view service);

// The line that says the programmer called name has another driver than
// WinUSB (service, or none when empty) and how to give it WinUSB with Zadig.
std::string Ch341aDriverText(std::string_view name, std::string_view service);

// The listing's description of a programmer, its driver named when it is
// not WinUSB.
std::string Ch341aListingText(std::string_view service);

// The line that says the programmer could not be opened: held by another
// program (or refused to this user), or failing for reason.
std::string Ch341aOpenFailureText(std::string_view name, std::string_view path, bool held,
                                  std::string_view reason);
