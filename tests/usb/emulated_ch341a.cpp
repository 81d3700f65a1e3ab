// SPDX-License-Identifier: MIT
// The usbfs requests libusb makes of a device it claims and transfers bulk
// data with: the capabilities, the driver bound (none, so there is none to
// detach either), the interface's
// claim and release, and URBs submitted and reaped. A submitted URB is
// completed at once: an OUT packet runs on the simulated programmer, whose
// answer waits for the IN URBs that fetch it, and the URB goes on the queue
// the program reaps (libusb polls the node, which is always ready, and asks
// again until a URB is there).
#include "tests/usb/emulated_ch341a.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace {

// Descriptors as sysfs gives them: device, configuration, interfaces and
// endpoints. The CH341A's interface 0 has bulk OUT 0x02 and IN 0x82 of 32
// bytes and an interrupt IN 0x81; no strings, device version 3.04.
constexpr const char* kDevices = "P: /devices/pci0000:00/0000:00:14.0/";
constexpr const char* kRootHubDescriptors =
    "A: idVendor=1d6b\nA: idProduct=0002\n"
    "H: descriptors=12010002090001406B1D02000605030201010902190"
    "0010100E0000904000001090000000705810304000C\n";
constexpr const char* kHub =
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-4\n"
    "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=001\nE: DEVNUM=004\n"
    "A: busnum=1\nA: devnum=4\nA: speed=480\nA: bConfigurationValue=1\n"
    "A: idVendor=05e3\nA: idProduct=0608\n"
    "H: descriptors=1201000209000140E30508067760000100010902190"
    "0010100E0320904000001090000000705810301000C\n";
constexpr const char* kProgrammerDescriptors =
    "A: idVendor=1a86\nA: idProduct=5512\n"
    "H: descriptors=12011001FF000008861A1255040300000001090227000101008030090"
    "4000003FF010200070582022000000705020220000007058103080001\n";
constexpr const char* kSerialMode =
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-3\n"
    "N: bus/usb/001/003\n"
    "E: DEVNAME=/dev/bus/usb/001/003\n"
    "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=001\nE: DEVNUM=003\n"
    "A: busnum=1\nA: devnum=3\nA: speed=12\nA: bConfigurationValue=1\n"
    "A: idVendor=1a86\nA: idProduct=7523\n"
    "H: descriptors=12011001FF000008861A2375640200020001090227000101008031090"
    "4000003FF010200070582022000000705020220000007058103080001\n";
constexpr const char* kNode = "/dev/bus/usb/001/005";
// Programmers whose places sort otherwise as text, the first in the order of
// their numbers holding the chip, and the root hubs of their buses.
constexpr struct {
  const char* place;
  int device;
} kPlacesApart[] = {{"10-1", 2}, {"2-1", 2}, {"1-10", 6}, {"1-9", 7}};
constexpr const char* kPlacesApartNode = "/dev/bus/usb/001/007";

std::string Number(int number, const char* format) {
  char text[8];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

// The sysfs entry of a device at bus's root hub (place empty) or at a
// place such as 1-4.2, numbered device on its bus.
std::string UsbDevice(int bus, const std::string& place, int device, const char* speed) {
  std::string path = "usb" + std::to_string(bus);
  for (std::size_t dot = place.find('.'); dot != std::string::npos;
       dot = place.find('.', dot + 1)) {
    path += "/" + place.substr(0, dot);
  }
  const std::string node = "bus/usb/" + Number(bus, "%03d") + "/" + Number(device, "%03d");
  return kDevices + path + (place.empty() ? "" : "/" + place) + "\n" +
         (place.empty() ? "" : "N: " + node + "\nE: DEVNAME=/dev/" + node + "\n") +
         "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=" + Number(bus, "%03d") +
         "\nE: DEVNUM=" + Number(device, "%03d") + "\nA: busnum=" + std::to_string(bus) +
         "\nA: devnum=" + std::to_string(device) + "\nA: speed=" + speed +
         "\nA: bConfigurationValue=1\n";
}

std::string RootHub(int bus) {
  return UsbDevice(bus, "", 1, "480") + kRootHubDescriptors;
}

std::string Programmer(const std::string& place, int device) {
  return UsbDevice(std::stoi(place), place, device, "12") + kProgrammerDescriptors;
}

// The devices of the testbed, separated by empty lines.
std::string Devices(const EmulatedUsb& usb) {
  std::string devices = RootHub(1) + "\n" + kHub;
  if (usb.programmer) {
    devices += "\n" + Programmer("1-4.2", 5);
  }
  if (usb.serial_mode) {
    devices += std::string("\n") + kSerialMode;
  }
  if (usb.places_apart) {
    devices += "\n" + RootHub(2) + "\n" + RootHub(10);
    for (const auto& programmer : kPlacesApart) {
      devices += "\n" + Programmer(programmer.place, programmer.device);
    }
  }
  return devices;
}

UMockdevTestbed* testbed = nullptr;
UMockdevIoctlBase* handler = nullptr;
EmulatedUsb faults;

std::mutex mutex;
bool connected = false;
int packets = 0;
std::vector<std::uint8_t> answer;         // the answer not yet fetched
std::deque<UMockdevIoctlData*> reapable;  // URBs done, in order

// A bulk URB: an OUT packet runs at once; an IN URB takes as much of the
// answer as it has room for (the device sends it in 32-byte packets, which
// one URB collects). Each is done as soon as it is submitted.
int Submit(UMockdevIoctlData* argument) {
  GError* error = nullptr;
  UMockdevIoctlData* urb_data =
      umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), &error);
  if (urb_data == nullptr) {
    g_clear_error(&error);
    return EFAULT;
  }
  auto* urb = reinterpret_cast<usbdevfs_urb*>(urb_data->data);
  if (urb->endpoint == 0x02 && faults.unplug_at >= 0 && packets >= faults.unplug_at) {
    return ENODEV;
  }
  UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
      urb_data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), &error);
  if (buffer == nullptr || urb->type != USBDEVFS_URB_TYPE_BULK) {
    g_clear_error(&error);
    return EINVAL;
  }
  urb->status = 0;
  urb->actual_length = 0;
  if (urb->endpoint == 0x02) {
    ++packets;
    std::vector<std::uint8_t> reply;
    std::string reason;
    SimProgrammerRun(std::span(buffer->data, static_cast<std::size_t>(buffer->data_len)), reply,
                     reason);
    answer.insert(answer.end(), reply.begin(), reply.end());
    urb->actual_length = buffer->data_len;
  } else if (urb->endpoint == 0x82) {
    const auto size = std::min(answer.size(), static_cast<std::size_t>(buffer->data_len));
    std::copy_n(answer.begin(), size, buffer->data);
    answer.erase(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(size));
    urb->actual_length = static_cast<int>(size);
  } else {
    return EINVAL;
  }
  reapable.push_back(static_cast<UMockdevIoctlData*>(g_object_ref(urb_data)));
  return 0;
}

// The oldest URB done goes back to the program: its address, into the
// pointer whose address the request carries.
int Reap(UMockdevIoctlData* argument) {
  if (reapable.empty()) {
    return EAGAIN;
  }
  GError* error = nullptr;
  UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), &error);
  if (slot == nullptr) {
    g_clear_error(&error);
    return EFAULT;
  }
  UMockdevIoctlData* urb_data = reapable.front();
  reapable.pop_front();
  umockdev_ioctl_data_set_ptr(slot, 0, urb_data);
  g_object_unref(urb_data);
  return 0;
}

// Capabilities: none beyond plain URBs, so that libusb asks for the driver
// and claims the interface with the plain requests.
int Capabilities(UMockdevIoctlData* argument) {
  GError* error = nullptr;
  UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(argument, 0, sizeof(__u32), &error);
  if (caps == nullptr) {
    g_clear_error(&error);
    return EFAULT;
  }
  *reinterpret_cast<__u32*>(caps->data) = 0;
  return 0;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  const std::lock_guard lock(mutex);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  int error = 0;
  switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES:
      error = Capabilities(argument);
      break;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:  // a kernel driver detached: none is bound
      error = ENODATA;
      break;
    case USBDEVFS_CLAIMINTERFACE:
      error = faults.interface_held ? EBUSY : 0;
      break;
    case USBDEVFS_RELEASEINTERFACE:
      break;
    case USBDEVFS_SUBMITURB:
      error = Submit(argument);
      break;
    case USBDEVFS_REAPURBNDELAY:
      error = Reap(argument);
      break;
    default:
      error = ENOTTY;
  }
  umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
  return TRUE;
}

void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer) {
  const std::lock_guard lock(mutex);
  connected = true;
  packets = 0;
  answer.clear();
  SimProgrammerOpen();
}

// The program has ended: the device's session ends with it (the chip's
// files saved), and the URBs it never reaped are dropped.
void EndSession() {
  const std::lock_guard lock(mutex);
  for (UMockdevIoctlData* urb_data : reapable) {
    g_object_unref(urb_data);
  }
  reapable.clear();
  if (connected) {
    SimProgrammerClose();
    connected = false;
  }
}

// The testbed is its owner's alone at first. Its folder opened to all lets
// another user's program find the devices and reach the sockets that stand
// for their nodes (umockdev's preload library connects to them before the
// node itself is opened, and ends the program when it cannot).
void OpenToAll(const std::string& root) {
  namespace fs = std::filesystem;
  fs::permissions(root, fs::perms::all);
  for (const auto& entry : fs::recursive_directory_iterator(root + "/ioctl")) {
    fs::permissions(entry.path(), fs::perms::all);
  }
  fs::permissions(root + kNode, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace

void EmulatedUsbStart(const EmulatedUsb& usb) {
  faults = usb;
  testbed = umockdev_testbed_new();
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed, Devices(usb).c_str(), &error)) {
    g_error("umockdev: %s", error->message);
  }
  if (usb.programmer || usb.places_apart) {
    handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), nullptr);
    g_signal_connect(handler, "client-connected", G_CALLBACK(OnConnected), nullptr);
    const char* node = usb.programmer ? kNode : kPlacesApartNode;
    if (!umockdev_testbed_attach_ioctl(testbed, node, handler, &error)) {
      g_error("umockdev: %s", error->message);
    }
  }
  if (usb.node_owner_only) {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    OpenToAll(root);
    g_free(root);
  }
}

void EmulatedUsbStop() {
  EndSession();
  g_clear_object(&testbed);
  g_clear_object(&handler);
}
