// SPDX-License-Identifier: MIT
// The ports are found in sysfs, never by opening them: opening a port moves
// its modem lines. A port backed by hardware has a "device" link in
// /sys/class/tty/NAME; the virtual consoles and the pseudo-terminals have
// none. The kernel keeps a ttyS entry for every slot the serial driver knows,
// with a UART or without one: "type" is 0 where none answered.
#include "platform/port_list_posix.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/port_lock_posix.h"
#include "platform/sysfs_posix.h"

namespace {

namespace fs = std::filesystem;

// The number that ends a name such as ttyS12, or -1.
int TrailingNumber(const std::string& name) {
  const auto digits = name.find_last_not_of("0123456789") + 1;
  if (digits == name.size() || name.size() - digits > 6) {
    return -1;
  }
  return std::stoi(name.substr(digits));
}

// ttyS2 before ttyS10.
bool ListedBefore(const std::string& a, const std::string& b) {
  const auto stem_a = a.substr(0, a.find_last_not_of("0123456789") + 1);
  const auto stem_b = b.substr(0, b.find_last_not_of("0123456789") + 1);
  if (stem_a != stem_b) {
    return stem_a < stem_b;
  }
  return TrailingNumber(a) != TrailingNumber(b) ? TrailingNumber(a) < TrailingNumber(b) : a < b;
}

std::string UartName(const std::string& type) {
  if (type == "1") {
    return "8250";
  }
  if (type == "2") {
    return "16450";
  }
  if (type == "3") {
    return "16550";
  }
  if (type == "4") {
    return "16550A";
  }
  if (type == "8") {
    return "16750";
  }
  return "type " + type;
}

void Append(std::string& text, const std::string& piece, const char* separator) {
  if (!piece.empty()) {
    text += text.empty() ? piece : separator + piece;
  }
}

// A USB adapter's maker, product, serial number and USB ids: the USB device
// is the tty's interface or one of its parents, whichever holds idVendor.
std::string UsbDescription(fs::path device) {
  for (int level = 0; level < 4 && device.has_relative_path(); ++level) {
    if (fs::exists(device / "idVendor")) {
      std::string text;
      Append(text, SysfsAttribute(device / "manufacturer"), " ");
      Append(text, SysfsAttribute(device / "product"), " ");
      if (text.empty()) {
        text = "USB serial adapter";
      }
      const std::string serial = SysfsAttribute(device / "serial");
      if (!serial.empty()) {
        text += ", serial " + serial;
      }
      return text + ", USB " + SysfsAttribute(device / "idVendor") + ":" +
             SysfsAttribute(device / "idProduct");
    }
    device = device.parent_path();
  }
  return {};
}

std::string Description(const fs::path& tty, const std::string& name) {
  std::error_code error;
  const fs::path device = fs::canonical(tty / "device", error);
  const std::string usb = error ? std::string() : UsbDescription(device);
  if (!usb.empty()) {
    return usb;
  }
  if (name.starts_with("ttyS")) {
    return "UART " + UartName(SysfsAttribute(tty / "type"));
  }
  const fs::path driver = fs::read_symlink(tty / "device" / "driver", error);
  return error ? std::string("serial device") : "UART, driver " + driver.filename().string();
}

// The /dev/serial/by-id link of the device: a name that stays the same
// whichever USB socket the adapter is plugged into, and in whatever order.
std::string LastingName(const std::string& root, const std::string& name) {
  const fs::path folder = root + "/dev/serial/by-id";
  std::error_code error;
  std::vector<std::string> links;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const fs::path target = fs::read_symlink(entry.path(), error);
    if (!error && target.filename() == name) {
      links.push_back("/dev/serial/by-id/" + entry.path().filename().string());
    }
  }
  std::sort(links.begin(), links.end());
  return links.empty() ? std::string() : links.front();
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortsUnder(const std::string& root) {
  const fs::path classes = root + "/sys/class/tty";
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(classes, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end(), ListedBefore);
  std::vector<SerialPortInfo> ports;
  for (const std::string& name : names) {
    const fs::path tty = classes / name;
    if (!fs::exists(tty / "device", error)) {
      continue;
    }
    const bool on_board = name.starts_with("ttyS") && name.size() > 4 &&
                          name.find_first_not_of("0123456789", 4) == std::string::npos;
    if (on_board && (SysfsAttribute(tty / "type").empty() || SysfsAttribute(tty / "type") == "0")) {
      continue;
    }
    SerialPortInfo port;
    port.name = on_board ? "COM" + std::to_string(TrailingNumber(name) + 1) : name;
    port.device = "/dev/" + name;
    port.description = Description(tty, name);
    Append(port.description, LastingName(root, name), ", ");
    const pid_t owner = LockOwner(root + "/run/lock/LCK.." + name);
    if (owner != 0) {
      port.description += "; in use by process " + std::to_string(owner);
    }
    ports.push_back(port);
  }
  return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  return ListSerialPortsUnder("");
}
