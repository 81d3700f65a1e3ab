// SPDX-License-Identifier: MIT
// A test-only setupapi.dll for the Windows program under Wine: it lists the
// USB devices EBRILO_STANDIN_USB describes, and no others, so that the
// program's search for a CH341A runs as on Windows without any of this
// machine's own devices. Each device is "PRODUCT,LOCATION,SERVICE,PATH",
// devices separated by ';': its product id (hex) under vendor 1a86, its
// location as Device Manager gives it, its service (empty for none) and
// the path its USB device interface opens (empty for none: a device that
// WinUSB has not started). The serial ports' class has no devices here.
#include <windows.h>
// The functions are defined here, not imported.
#define _SETUPAPI_
#include <setupapi.h>
#include <usbiodef.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Device {
  std::wstring hardware_ids;  // REG_MULTI_SZ, without its final terminator
  std::wstring location;
  std::wstring service;
  std::wstring instance;
  std::wstring path;
};

// What SetupDiGetClassDevs hands out: the devices it chose, or their
// interfaces.
struct DeviceSet {
  std::vector<Device> devices;
  bool interfaces = false;
};

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::vector<Device> Described() {
  std::vector<Device> devices;
  const char* text = std::getenv("EBRILO_STANDIN_USB");
  std::stringstream list(text != nullptr ? text : "");
  std::string item;
  for (int index = 1; std::getline(list, item, ';'); ++index) {
    std::stringstream fields(item);
    std::string product;
    std::string location;
    std::string service;
    std::string path;
    std::getline(fields, product, ',');
    std::getline(fields, location, ',');
    std::getline(fields, service, ',');
    std::getline(fields, path, ',');
    const std::wstring id = L"USB\\VID_1A86&PID_" + Wide(product);
    devices.push_back({id + L"&REV_0304" + std::wstring(1, L'\0') + id, Wide(location),
                       Wide(service), id + L"\\5&1B2C3D4&0&" + std::to_wstring(index), Wide(path)});
  }
  return devices;
}

DeviceSet* SetOf(HDEVINFO handle) {
  return static_cast<DeviceSet*>(handle);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Copies a text, or a list of texts, with its terminators, as the system
// does: the size needed always told, the text only where it fits.
BOOL Give(const std::wstring& text, DWORD* type, DWORD kind, BYTE* buffer, DWORD size,
          DWORD* needed) {
  if (text.empty()) {
    return Fail(ERROR_INVALID_DATA);
  }
  const std::wstring terminated = text + (kind == REG_MULTI_SZ ? std::wstring(2, L'\0') : L"");
  const DWORD bytes = static_cast<DWORD>((terminated.size() + (kind == REG_SZ ? 1 : 0)) * 2);
  if (needed != nullptr) {
    *needed = bytes;
  }
  if (type != nullptr) {
    *type = kind;
  }
  if (buffer == nullptr || size < bytes) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, terminated.c_str(), bytes);
  return TRUE;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* class_guid, PCWSTR enumerator, HWND, DWORD flags) {
  auto* set = new DeviceSet;
  set->interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
  const bool usb_devices = class_guid == nullptr && (flags & DIGCF_ALLCLASSES) != 0 &&
                           enumerator != nullptr && std::wcscmp(enumerator, L"USB") == 0;
  const bool usb_interface = set->interfaces && class_guid != nullptr &&
                             IsEqualGUID(*class_guid, GUID_DEVINTERFACE_USB_DEVICE);
  for (const Device& device : Described()) {
    if (usb_devices || (usb_interface && !device.path.empty() &&
                        (enumerator == nullptr || device.instance == enumerator))) {
      set->devices.push_back(device);
    }
  }
  return set;
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD) {
  return new DeviceSet;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  delete SetOf(handle);
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, SP_DEVINFO_DATA* info) {
  if (SetOf(handle)->interfaces || index >= SetOf(handle)->devices.size()) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  info->DevInst = index;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO handle, SP_DEVINFO_DATA* info,
                                              DWORD property, DWORD* type, BYTE* buffer, DWORD size,
                                              DWORD* needed) {
  const Device& device = SetOf(handle)->devices.at(info->DevInst);
  switch (property) {
    case SPDRP_HARDWAREID:
      return Give(device.hardware_ids, type, REG_MULTI_SZ, buffer, size, needed);
    case SPDRP_LOCATION_INFORMATION:
      return Give(device.location, type, REG_SZ, buffer, size, needed);
    case SPDRP_SERVICE:
      return Give(device.service, type, REG_SZ, buffer, size, needed);
    default:
      return Fail(ERROR_INVALID_DATA);
  }
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO, SP_DEVINFO_DATA*, DWORD, DWORD*, BYTE*,
                                              DWORD, DWORD*) {
  return Fail(ERROR_INVALID_DATA);
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO, SP_DEVINFO_DATA*, DWORD, DWORD, DWORD, REGSAM) {
  SetLastError(ERROR_INVALID_DATA);
  return static_cast<HKEY>(INVALID_HANDLE_VALUE);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO handle, SP_DEVINFO_DATA* info, PWSTR id,
                                        DWORD size, DWORD* needed) {
  const std::wstring& instance = SetOf(handle)->devices.at(info->DevInst).instance;
  if (needed != nullptr) {
    *needed = static_cast<DWORD>(instance.size() + 1);
  }
  if (size < instance.size() + 1) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::wcscpy(id, instance.c_str());
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, SP_DEVINFO_DATA*, const GUID* guid,
                                        DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
  if (!SetOf(handle)->interfaces || !IsEqualGUID(*guid, GUID_DEVINTERFACE_USB_DEVICE) ||
      index >= SetOf(handle)->devices.size()) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  data->InterfaceClassGuid = *guid;
  data->Reserved = index;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, SP_DEVICE_INTERFACE_DATA* data,
                                             SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD size,
                                             DWORD* needed, SP_DEVINFO_DATA*) {
  const std::wstring& path = SetOf(handle)->devices.at(data->Reserved).path;
  const DWORD bytes = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                         (path.size() + 1) * sizeof(wchar_t));
  if (needed != nullptr) {
    *needed = bytes;
  }
  if (detail == nullptr || size < bytes) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (detail->cbSize != sizeof(*detail)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  std::wcscpy(detail->DevicePath, path.c_str());
  return TRUE;
}

}  // extern "C"
