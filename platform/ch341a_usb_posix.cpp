// SPDX-License-Identifier: MIT
// The CH341A programmer through libusb. It is found by its USB ids in the
// device descriptors, which libusb reads without opening the device, named
// by its place on USB (the bus and the ports from the root hub down, as
// sysfs names it), and claimed for the run: interface 0, whose bulk OUT
// endpoint takes the command packets and whose bulk IN endpoint gives their
// answers.
#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ch341a_names.h"
#include "platform/platform.h"

namespace {

constexpr int kInterface = 0;
constexpr unsigned char kCommandEndpoint = 0x02;
constexpr unsigned char kAnswerEndpoint = 0x82;
// A round trip takes a millisecond and the longest packet's bus work, a
// 256-byte read at 100 kHz, some 25 ms: a programmer that has not answered
// within a second has stopped working.
constexpr unsigned kTimeoutMs = 1000;
// USB allows seven tiers of hubs below the root.
constexpr int kDeepestPlace = 7;

libusb_context* context = nullptr;
libusb_device_handle* handle = nullptr;
bool claimed = false;
std::string place;

struct Chip {
  libusb_device* device = nullptr;
  std::uint16_t product = 0;
  std::string place;
};

std::string Reason(int result) {
  return libusb_strerror(result);
}

// libusb says nothing on standard error unless LIBUSB_DEBUG asks it to: the
// program says what went wrong in its own words.
bool StartLibusb(libusb_context*& started, std::string& reason) {
  const int result = libusb_init(&started);
  if (result != 0) {
    started = nullptr;
    reason = Reason(result);
    return false;
  }
  libusb_set_option(started, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
  return true;
}

std::string DeviceNode(libusb_device* device) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                libusb_get_device_address(device));
  return node;
}

std::string PlaceOf(libusb_device* device) {
  std::uint8_t ports[kDeepestPlace];
  const int count = libusb_get_port_numbers(device, ports, kDeepestPlace);
  return Ch341aPlace(libusb_get_bus_number(device),
                     std::span(ports, static_cast<std::size_t>(std::max(count, 0))));
}

// The CH341 chips on USB, in either mode, in the order of their places.
std::vector<Chip> FindChips(libusb_device* const* list, ssize_t count) {
  std::vector<Chip> chips;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0 ||
        descriptor.idVendor != kCh341aVendor) {
      continue;
    }
    const std::uint16_t product = descriptor.idProduct;
    if (product == kCh341aProduct ||
        std::find(std::begin(kCh341SerialProducts), std::end(kCh341SerialProducts), product) !=
            std::end(kCh341SerialProducts)) {
      chips.push_back({list[i], product, PlaceOf(list[i])});
    }
  }
  std::sort(chips.begin(), chips.end(),
            [](const Chip& a, const Chip& b) { return Ch341aPlaceBefore(a.place, b.place); });
  return chips;
}

// Opens the device and claims its interface, saying why on standard error
// when it cannot.
bool Claim(libusb_device* device) {
  const std::string who = Ch341aPortName(place) + ": ";
  int result = libusb_open(device, &handle);
  if (result != 0) {
    handle = nullptr;
    std::string line = who + "cannot open " + DeviceNode(device) + ": " + Reason(result);
    if (result == LIBUSB_ERROR_ACCESS) {
      line += "; this udev rule lets the user logged in at the machine open it: ";
      line += kCh341aUdevRule;
      line += " (in /etc/udev/rules.d/70-ebrilo-ch341a.rules, then plug the programmer in again)";
    }
    Diagnostic(line);
    return false;
  }
  // No kernel driver takes a 1a86:5512 on a stock Linux; one that does is
  // let go of for the run and bound again when the interface is released.
  libusb_set_auto_detach_kernel_driver(handle, 1);
  result = libusb_claim_interface(handle, kInterface);
  if (result == LIBUSB_ERROR_BUSY) {
    Diagnostic(who + "its interface is held by another program (" + Reason(result) + ")");
    return false;
  }
  if (result != 0) {
    Diagnostic(who + "cannot claim its interface: " + Reason(result));
    return false;
  }
  claimed = true;
  return true;
}

bool OpenChosen(libusb_device* const* list, ssize_t count, std::string_view selector) {
  const auto chosen = Ch341aChosenPlace(selector);
  std::vector<std::string> serial_mode;
  for (const Chip& chip : FindChips(list, count)) {
    if (chip.product != kCh341aProduct) {
      serial_mode.push_back(Ch341SerialModeText(chip.product, chip.place));
    } else if (!chosen || *chosen == chip.place) {
      place = chip.place;
      return Claim(chip.device);
    }
  }
  Diagnostic(Ch341aNotFoundText(chosen, serial_mode));
  return false;
}

bool ReadAnswerPacket(std::span<std::uint8_t> buffer, std::size_t& received, std::string& reason) {
  int size = 0;
  const int result = libusb_bulk_transfer(handle, kAnswerEndpoint, buffer.data(),
                                          static_cast<int>(buffer.size()), &size, kTimeoutMs);
  received = static_cast<std::size_t>(size);
  if (result != 0) {
    reason = Reason(result);
  }
  return result == 0;
}

// The packets sent and not yet seen taken, each with its state: 0 on its
// way, 1 taken whole, -1 failed with its reason.
struct InFlight {
  libusb_transfer* transfer = nullptr;
  int state = 0;
  std::string reason;
};
std::vector<InFlight*> in_flight;

void LIBUSB_CALL PacketTaken(libusb_transfer* transfer) {
  auto* packet = static_cast<InFlight*>(transfer->user_data);
  if (transfer->status == LIBUSB_TRANSFER_COMPLETED &&
      transfer->actual_length == transfer->length) {
    packet->state = 1;
    return;
  }
  packet->state = -1;
  packet->reason = transfer->status == LIBUSB_TRANSFER_COMPLETED
                       ? "it took " + std::to_string(transfer->actual_length) + " bytes of " +
                             std::to_string(transfer->length)
                   : transfer->status == LIBUSB_TRANSFER_NO_DEVICE ? Reason(LIBUSB_ERROR_NO_DEVICE)
                   : transfer->status == LIBUSB_TRANSFER_TIMED_OUT ? Reason(LIBUSB_ERROR_TIMEOUT)
                                                                   : Reason(LIBUSB_ERROR_IO);
}

bool SubmitPacket(std::span<const std::uint8_t> packet, std::string& reason) {
  auto* sending = new InFlight;
  sending->transfer = libusb_alloc_transfer(0);
  auto* buffer = static_cast<unsigned char*>(std::malloc(packet.size()));
  if (sending->transfer == nullptr || buffer == nullptr) {
    std::free(buffer);
    libusb_free_transfer(sending->transfer);
    delete sending;
    reason = "sending a command packet failed: " + Reason(LIBUSB_ERROR_NO_MEM);
    return false;
  }
  std::copy(packet.begin(), packet.end(), buffer);
  libusb_fill_bulk_transfer(sending->transfer, handle, kCommandEndpoint, buffer,
                            static_cast<int>(packet.size()), PacketTaken, sending, kTimeoutMs);
  sending->transfer->flags = LIBUSB_TRANSFER_FREE_BUFFER | LIBUSB_TRANSFER_FREE_TRANSFER;
  const int result = libusb_submit_transfer(sending->transfer);
  if (result != 0) {
    libusb_free_transfer(sending->transfer);
    delete sending;
    reason = "sending a command packet failed: " + Reason(result);
    return false;
  }
  in_flight.push_back(sending);
  return true;
}

// Waits until every packet sent was taken or failed (each ends within its
// timeout), and forgets them: false, with the first failure's reason, when
// one failed.
bool AwaitPackets(std::string& reason) {
  bool taken = true;
  for (InFlight* packet : in_flight) {
    while (packet->state == 0) {
      if (libusb_handle_events(context) != 0) {
        libusb_cancel_transfer(packet->transfer);
      }
    }
    if (packet->state < 0 && taken) {
      taken = false;
      reason = "sending a command packet failed: " + packet->reason;
    }
    delete packet;
  }
  in_flight.clear();
  return taken;
}

}  // namespace

bool Ch341aOpen(std::string_view selector) {
  std::string reason;
  if (!StartLibusb(context, reason)) {
    Diagnostic("cannot use USB to look for a CH341A programmer: " + reason);
    return false;
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  if (count < 0) {
    Diagnostic("cannot list the USB devices: " + Reason(static_cast<int>(count)));
    Ch341aClose();
    return false;
  }
  // The device handle holds its own reference to the device.
  const bool opened = OpenChosen(list, count, selector);
  libusb_free_device_list(list, 1);
  if (!opened) {
    Ch341aClose();
  }
  return opened;
}

std::string Ch341aName() {
  return Ch341aPortName(place);
}

// Every packet goes out as a transfer of its own in the background, in
// order on the one endpoint, and a packet with a reply is followed by reads
// of the answers until they are all in: the programmer may hold back a
// packet until the answers before it are read, which a wait for each packet
// to be taken before the reads begin would never see happen.
bool Ch341aExchange(std::span<const std::uint8_t> packet, std::span<std::uint8_t> reply,
                    std::string& reason) {
  const bool submitted = SubmitPacket(packet, reason);
  const bool answered = submitted && Ch341aReadAnswer(reply, ReadAnswerPacket, reason);
  if (!reply.empty() || !submitted) {
    std::string sending;
    if (!AwaitPackets(sending) && answered) {
      reason = sending;
      return false;
    }
  }
  return answered;
}

void Ch341aClose() {
  std::string ignored;
  AwaitPackets(ignored);
  if (claimed) {
    libusb_release_interface(handle, kInterface);
    claimed = false;
  }
  if (handle != nullptr) {
    libusb_close(handle);
    handle = nullptr;
  }
  if (context != nullptr) {
    libusb_exit(context);
    context = nullptr;
  }
}

std::vector<SerialPortInfo> ListCh341aProgrammers() {
  libusb_context* listing = nullptr;
  std::string reason;
  if (!StartLibusb(listing, reason)) {
    return {};
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(listing, &list);
  std::vector<SerialPortInfo> programmers;
  for (const Chip& chip : FindChips(list, count)) {
    if (chip.product == kCh341aProduct) {
      programmers.push_back({Ch341aPortName(chip.place), DeviceNode(chip.device),
                             "CH341A programmer, USB 1a86:5512"});
    }
  }
  if (count >= 0) {
    libusb_free_device_list(list, 1);
  }
  libusb_exit(listing);
  return programmers;
}
