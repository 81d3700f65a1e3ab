// SPDX-License-Identifier: MIT
// The requests i2c-dev answers that the adapter code makes: I2C_FUNCS, what
// the adapter can do, and I2C_RDWR, a transfer of messages with a repeated
// START between them, which runs on the simulated adapter and chip and
// answers as a kernel driver does, with the number of messages carried or
// the error number of a refusal.
#include "tests/i2c/emulated_i2c_dev.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr const char* kAdapter =
    "P: /devices/platform/i2c-gpio.1/i2c-1/i2c-dev/i2c-1\n"
    "N: i2c-1\n"
    "E: DEVNAME=/dev/i2c-1\nE: MAJOR=89\nE: MINOR=1\nE: SUBSYSTEM=i2c-dev\n"
    "A: dev=89:1\nA: name=i2c-gpio1\n";
constexpr const char* kNode = "/dev/i2c-1";

UMockdevTestbed* testbed = nullptr;
UMockdevIoctlBase* handler = nullptr;
std::mutex mutex;
bool connected = false;

// The error number a kernel driver gives for each end of a transfer, which
// the adapter code under test reads back.
int ErrorNumber(I2cResult result) {
  switch (result) {
    case I2cResult::kDone:
      return 0;
    case I2cResult::kAddressRefused:
      return ENXIO;
    case I2cResult::kDataRefused:
      return EREMOTEIO;
    case I2cResult::kBusError:
      return ETIMEDOUT;
    case I2cResult::kTooLong:
      return EOPNOTSUPP;
    case I2cResult::kFailed:
      break;
  }
  return ENODEV;
}

UMockdevIoctlData* Resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t size) {
  GError* error = nullptr;
  UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, size, &error);
  g_clear_error(&error);
  return resolved;
}

int Functions(UMockdevIoctlData* argument) {
  UMockdevIoctlData* functions = Resolve(argument, 0, sizeof(unsigned long));
  if (functions == nullptr) {
    return EFAULT;
  }
  *reinterpret_cast<unsigned long*>(functions->data) = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
  return 0;
}

// The messages' buffers, each resolved in the program's memory; what the
// chip sends goes back there once the request is complete.
int Transfer(UMockdevIoctlData* argument, int& carried) {
  UMockdevIoctlData* transfer = Resolve(argument, 0, sizeof(i2c_rdwr_ioctl_data));
  if (transfer == nullptr) {
    return EFAULT;
  }
  const auto count = reinterpret_cast<i2c_rdwr_ioctl_data*>(transfer->data)->nmsgs;
  UMockdevIoctlData* kernel_messages =
      Resolve(transfer, offsetof(i2c_rdwr_ioctl_data, msgs), count * sizeof(i2c_msg));
  if (count == 0 || kernel_messages == nullptr) {
    return EINVAL;
  }
  std::vector<I2cMessage> messages;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& message = reinterpret_cast<i2c_msg*>(kernel_messages->data)[i];
    UMockdevIoctlData* buffer =
        Resolve(kernel_messages, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), message.len);
    if (buffer == nullptr) {
      return EFAULT;
    }
    messages.push_back({static_cast<std::uint8_t>(message.addr), (message.flags & I2C_M_RD) != 0,
                        std::span(buffer->data, message.len)});
  }
  std::string reason;
  carried = static_cast<int>(count);
  return ErrorNumber(I2cAdapterTransfer(messages, reason));
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  const std::lock_guard lock(mutex);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  int result = 0;
  int error = 0;
  switch (umockdev_ioctl_client_get_request(client)) {
    case I2C_FUNCS:
      error = Functions(argument);
      break;
    case I2C_RDWR:
      error = Transfer(argument, result);
      break;
    default:
      error = ENOTTY;
  }
  umockdev_ioctl_client_complete(client, error == 0 ? result : -1, error);
  return TRUE;
}

void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer) {
  const std::lock_guard lock(mutex);
  connected = I2cAdapterOpen(kNode);
}

// The driver's link as sysfs has it on the chip's client, 1-0054.
void BindDriver(const std::string& driver, unsigned address) {
  namespace fs = std::filesystem;
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  char name[8];
  std::snprintf(name, sizeof(name), "1-%04x", address);
  const fs::path client = fs::path(root) / "sys/bus/i2c/devices" / name;
  g_free(root);
  fs::create_directories(client);
  fs::create_symlink("../../../../bus/i2c/drivers/" + driver, client / "driver");
}

}  // namespace

void EmulatedI2cDevStart(const EmulatedI2cDev& adapter) {
  testbed = umockdev_testbed_new();
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed, kAdapter, &error)) {
    g_error("umockdev: %s", error->message);
  }
  handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), nullptr);
  g_signal_connect(handler, "client-connected", G_CALLBACK(OnConnected), nullptr);
  if (!umockdev_testbed_attach_ioctl(testbed, kNode, handler, &error)) {
    g_error("umockdev: %s", error->message);
  }
  if (!adapter.driver_at_chip.empty()) {
    BindDriver(adapter.driver_at_chip, adapter.driver_address);
  }
}

void EmulatedI2cDevStop() {
  {
    const std::lock_guard lock(mutex);
    if (connected) {
      I2cAdapterClose();
      connected = false;
    }
  }
  g_clear_object(&testbed);
  g_clear_object(&handler);
}
