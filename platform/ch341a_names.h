// SPDX-License-Identifier: MIT
// What the real and the simulated CH341A programmers share: the USB ids,
// the names the port listing gives them, the texts that explain why no
// programmer could be used, and how an answer is read back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The programmer's I2C mode, and the same chip strapped as a serial adapter.
inline constexpr std::uint16_t kCh341aVendor = 0x1a86;
inline constexpr std::uint16_t kCh341aProduct = 0x5512;
inline constexpr std::uint16_t kCh341SerialProducts[] = {0x5523, 0x7523};

// The place on USB that a selector such as "ch341a:1-4.2" names ("1-4.2"),
// or none for the bare keyword, which chooses the first programmer found.
std::optional<std::string_view> Ch341aChosenPlace(std::string_view selector);

// The name to give /PORT: for the programmer at a place: "ch341a:1-4.2".
std::string Ch341aPortName(std::string_view place);

// A place as the bus number and the port numbers from the root hub down,
// "1-4.2"; and the order the listing and the bare keyword go by: bus, then
// port by port, numerically.
std::string Ch341aPlace(int bus, std::span<const std::uint8_t> ports);
bool Ch341aPlaceBefore(std::string_view a, std::string_view b);

// What a chip in its serial mode is, and where: "1a86:7523 at USB 1-3".
std::string Ch341SerialModeText(std::uint16_t product, std::string_view place);

// The line that says no programmer was found (at the place chosen, if any),
// and what the serial-mode chips found are (Ch341SerialModeText).
std::string Ch341aNotFoundText(std::optional<std::string_view> place,
                               const std::vector<std::string>& serial_mode);

// One read from the programmer's bulk IN endpoint into buffer, whose size
// is whole 32-byte packets; received is how many bytes came. False, with the
// system's reason, when the read failed.
using Ch341aReadFunction = bool (*)(std::span<std::uint8_t> buffer, std::size_t& received,
                                    std::string& reason);

// Reads the answer to a command packet, exactly reply.size() bytes, in as
// many reads as it takes: the programmer sends it in packets of up to 32
// bytes. Each read asks for whole packets, so that a full one never
// overflows it; more than the answer due is a programmer out of step.
bool Ch341aReadAnswer(std::span<std::uint8_t> reply, Ch341aReadFunction read, std::string& reason);

// The udev rule that lets the user logged in at the machine open the
// programmer, as the Debian package installs it.
inline constexpr std::string_view kCh341aUdevRule =
    R"(SUBSYSTEM=="usb", ATTR{idVendor}=="1a86", ATTR{idProduct}=="5512", TAG+="uaccess")";
