// SPDX-License-Identifier: MIT
// The ports are those the serial drivers registered under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (value: the driver's
// device, data: the COM name), described by the friendly name the device
// manager shows in its "Ports" class, where it has one. Nothing is opened.
#include <windows.h>
// setupapi.h needs the declarations of windows.h first.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "platform/port_mode.h"

namespace {

std::string RegistryText(HKEY key, const char* value) {
  char text[256] = {};
  DWORD size = sizeof(text) - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return text;
}

// The device manager's friendly name of the port called com_name, or empty.
std::string FriendlyName(const std::string& com_name) {
  const HDEVINFO devices =
      SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) {
    return {};
  }
  std::string friendly;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD index = 0; friendly.empty() && SetupDiEnumDeviceInfo(devices, index, &device) != 0;
       ++index) {
    const HKEY key =
        SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
      continue;
    }
    const bool match = RegistryText(key, "PortName") == com_name;
    RegCloseKey(key);
    char name[256] = {};
    if (match && SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                   reinterpret_cast<BYTE*>(name), sizeof(name) - 1,
                                                   nullptr) != 0) {
      friendly = name;
    }
  }
  SetupDiDestroyDeviceInfoList(devices);
  return friendly;
}

int ComNumber(const SerialPortInfo& port) {
  return ParsePortMode(port.name).port_number;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
  std::vector<SerialPortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char value[256] = {};
    DWORD value_size = sizeof(value);
    char data[256] = {};
    DWORD data_size = sizeof(data) - 1;
    DWORD type = 0;
    if (RegEnumValueA(key, index, value, &value_size, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &data_size) != ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ || data[0] == '\0') {
      continue;
    }
    SerialPortInfo port;
    port.name = data;
    port.device = PortDevicePath(port.name);
    if (port.device.empty()) {
      port.name = "\\\\.\\" + port.name;
      port.device = port.name;
    }
    port.description = FriendlyName(port.name);
    if (port.description.empty()) {
      port.description = value;
    }
    ports.push_back(port);
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return ComNumber(a) != ComNumber(b) ? ComNumber(a) < ComNumber(b) : a.name < b.name;
  });
  return ports;
}
