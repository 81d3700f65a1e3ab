// SPDX-License-Identifier: MIT
// The CH341A programmer through WinUSB, the driver that comes with Windows
// and that the user gives the programmer once with Zadig. The programmer is
// found among the present USB devices by its hardware id, which every
// device has whatever its driver, without opening any; it is named by its
// place (its hub's number and its port's); its service must be WinUSB. It
// is then opened through its device interface, and WinUSB's first
// interface is the programmer's only one: its bulk OUT pipe 0x02 takes the
// command packets and its bulk IN pipe 0x82 gives their answers.
#include <windows.h>
// These need the declarations of windows.h first; initguid.h makes
// usbiodef.h define the USB device interface's GUID here.
#include <cfgmgr32.h>
#include <initguid.h>
#include <setupapi.h>
#include <usbiodef.h>
#include <winusb.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ch341a_names.h"
#include "platform/ch341a_names_win32.h"
#include "platform/platform.h"
#include "platform/system_error_win32.h"

namespace {

constexpr UCHAR kCommandPipe = 0x02;
constexpr UCHAR kAnswerPipe = 0x82;
// A round trip takes a millisecond and the longest packet's bus work some
// 25 ms; WinUSB waits for ever unless told otherwise, and a programmer that
// has not answered within a second has stopped working.
constexpr ULONG kTimeoutMs = 1000;

HANDLE device = INVALID_HANDLE_VALUE;
WINUSB_INTERFACE_HANDLE usb = nullptr;
std::string place;

struct Chip {
  std::uint16_t product = 0;
  std::string place;
  std::string location;  // as Device Manager gives it
  std::string instance;  // the device instance id
  std::string service;   // its function driver, or empty for none
};

// Hardware and instance ids, locations and service names are plain ASCII;
// a device path is opened as Windows gives it and only shown narrowed.
std::string Narrow(const std::wstring& wide) {
  std::string text;
  for (const wchar_t c : wide) {
    text += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return text;
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// A text property of a device, or a list of texts (REG_MULTI_SZ) one by
// one; empty when the device has none.
std::vector<std::string> Property(HDEVINFO devices, SP_DEVINFO_DATA& info, DWORD property) {
  DWORD size = 0;
  SetupDiGetDeviceRegistryPropertyW(devices, &info, property, nullptr, nullptr, 0, &size);
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
  if (size == 0 ||
      SetupDiGetDeviceRegistryPropertyW(devices, &info, property, nullptr,
                                        reinterpret_cast<BYTE*>(text.data()), size, nullptr) == 0) {
    return {};
  }
  std::vector<std::string> texts;
  for (const wchar_t* at = text.data(); *at != L'\0'; at += wcslen(at) + 1) {
    texts.push_back(Narrow(at));
  }
  return texts;
}

std::string FirstProperty(HDEVINFO devices, SP_DEVINFO_DATA& info, DWORD property) {
  const std::vector<std::string> texts = Property(devices, info, property);
  return texts.empty() ? std::string() : texts.front();
}

std::string InstanceId(HDEVINFO devices, SP_DEVINFO_DATA& info) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  return SetupDiGetDeviceInstanceIdW(devices, &info, id, MAX_DEVICE_ID_LEN, nullptr) != 0
             ? Narrow(id)
             : std::string();
}

// The CH341 chips among the present USB devices, in either mode, in the
// order of their places; false, with the system's reason, when the devices
// cannot be listed.
bool FindChips(std::vector<Chip>& chips, std::string& reason) {
  const HDEVINFO devices =
      SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) {
    reason = SystemErrorText(GetLastError());
    return false;
  }
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &info) != 0; ++index) {
    const auto product = Ch341ProductOf(Property(devices, info, SPDRP_HARDWAREID));
    if (!product) {
      continue;
    }
    Chip chip;
    chip.product = *product;
    chip.location = FirstProperty(devices, info, SPDRP_LOCATION_INFORMATION);
    chip.instance = InstanceId(devices, info);
    chip.place = Ch341aPlaceOf(chip.location, chip.instance);
    chip.service = FirstProperty(devices, info, SPDRP_SERVICE);
    chips.push_back(chip);
  }
  SetupDiDestroyDeviceInfoList(devices);
  std::sort(chips.begin(), chips.end(),
            [](const Chip& a, const Chip& b) { return Ch341aPlaceBefore(a.place, b.place); });
  return true;
}

// The path that opens the device's USB device interface; empty, with the
// system's reason, when it has none (WinUSB has not started it).
std::wstring InterfacePath(const std::string& instance, std::string& reason) {
  const HDEVINFO interfaces =
      SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, Wide(instance).c_str(), nullptr,
                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (interfaces == INVALID_HANDLE_VALUE) {
    reason = SystemErrorText(GetLastError());
    return {};
  }
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof(interface_data);
  std::wstring path;
  DWORD size = 0;
  if (SetupDiEnumDeviceInterfaces(interfaces, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, 0,
                                  &interface_data) != 0) {
    SetupDiGetDeviceInterfaceDetailW(interfaces, &interface_data, nullptr, 0, &size, nullptr);
  }
  // The detail is a header and the path after it, its size given above.
  std::vector<DWORD> detail_space(
      std::max<DWORD>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) / sizeof(DWORD) + 1);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail_space.data());
  detail->cbSize = sizeof(*detail);
  if (size > 0 && SetupDiGetDeviceInterfaceDetailW(interfaces, &interface_data, detail, size,
                                                   nullptr, nullptr) != 0) {
    path = detail->DevicePath;
  } else {
    reason = SystemErrorText(GetLastError());
  }
  SetupDiDestroyDeviceInfoList(interfaces);
  return path;
}

bool SetTimeout(UCHAR pipe) {
  ULONG timeout = kTimeoutMs;
  return WinUsb_SetPipePolicy(usb, pipe, PIPE_TRANSFER_TIMEOUT, sizeof(timeout), &timeout) != 0;
}

// Opens the programmer through WinUSB, saying why on standard error when it
// cannot.
bool Claim(const Chip& chip) {
  const std::string name = Ch341aPortName(place);
  if (!IsWinUsbService(chip.service)) {
    Diagnostic(Ch341aDriverText(name, chip.service));
    return false;
  }
  std::string reason;
  const std::wstring path = InterfacePath(chip.instance, reason);
  if (path.empty()) {
    Diagnostic(name + ": WinUSB gives no device interface to open it by (" + reason +
               "): plug it in again");
    return false;
  }
  // WinUSB takes only handles opened for overlapped I/O, and lets one
  // program at a time have the device.
  device =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    Diagnostic(Ch341aOpenFailureText(
        name, Narrow(path), error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION,
        SystemErrorText(error)));
    return false;
  }
  if (WinUsb_Initialize(device, &usb) == 0) {
    usb = nullptr;
    Diagnostic(name + ": WinUSB cannot use it: " + SystemErrorText(GetLastError()));
    return false;
  }
  if (!SetTimeout(kCommandPipe) || !SetTimeout(kAnswerPipe)) {
    Diagnostic(name + ": cannot set a timeout on its pipes: " + SystemErrorText(GetLastError()));
    return false;
  }
  return true;
}

bool OpenChosen(const std::vector<Chip>& chips, std::string_view selector) {
  const auto chosen = Ch341aChosenPlace(selector);
  std::vector<std::string> serial_mode;
  for (const Chip& chip : chips) {
    if (chip.product != kCh341aProduct) {
      serial_mode.push_back(Ch341SerialModeText(chip.product, chip.place));
    } else if (!chosen || *chosen == chip.place) {
      place = chip.place;
      return Claim(chip);
    }
  }
  Diagnostic(Ch341aNotFoundText(chosen, serial_mode));
  return false;
}

bool ReadAnswerPacket(std::span<std::uint8_t> buffer, std::size_t& received, std::string& reason) {
  ULONG size = 0;
  const BOOL read = WinUsb_ReadPipe(usb, kAnswerPipe, buffer.data(),
                                    static_cast<ULONG>(buffer.size()), &size, nullptr);
  received = size;
  if (read == 0) {
    reason = SystemErrorText(GetLastError());
  }
  return read != 0;
}

}  // namespace

bool Ch341aOpen(std::string_view selector) {
  std::vector<Chip> chips;
  std::string reason;
  if (!FindChips(chips, reason)) {
    Diagnostic("cannot list the USB devices: " + reason);
    return false;
  }
  const bool opened = OpenChosen(chips, selector);
  if (!opened) {
    Ch341aClose();
  }
  return opened;
}

std::string Ch341aName() {
  return Ch341aPortName(place);
}

// Without an OVERLAPPED structure each transfer waits for its end, or for
// the pipe's timeout.
bool Ch341aExchange(std::span<const std::uint8_t> packet, std::span<std::uint8_t> reply,
                    std::string& reason) {
  std::vector<UCHAR> out(packet.begin(), packet.end());
  ULONG sent = 0;
  if (WinUsb_WritePipe(usb, kCommandPipe, out.data(), static_cast<ULONG>(out.size()), &sent,
                       nullptr) == 0) {
    reason = "sending a command packet failed: " + SystemErrorText(GetLastError());
    return false;
  }
  if (sent != out.size()) {
    reason = "sending a command packet failed: it took " + std::to_string(sent) + " bytes of " +
             std::to_string(out.size());
    return false;
  }
  return Ch341aReadAnswer(reply, ReadAnswerPacket, reason);
}

void Ch341aClose() {
  if (usb != nullptr) {
    WinUsb_Free(usb);
    usb = nullptr;
  }
  if (device != INVALID_HANDLE_VALUE) {
    CloseHandle(device);
    device = INVALID_HANDLE_VALUE;
  }
}

std::vector<SerialPortInfo> ListCh341aProgrammers() {
  std::vector<Chip> chips;
  std::string reason;
  std::vector<SerialPortInfo> programmers;
  if (!FindChips(chips, reason)) {
    return programmers;
  }
  for (const Chip& chip : chips) {
    if (chip.product == kCh341aProduct) {
      programmers.push_back({Ch341aPortName(chip.place),
                             chip.location.empty() ? chip.instance : chip.location,
                             Ch341aListingText(chip.service)});
    }
  }
  return programmers;
}
