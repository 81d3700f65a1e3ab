// SPDX-License-Identifier: MIT
#include "tests/fakes/fake_i2c_dev.h"

#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>

#include "platform/i2c_dev_posix.h"

int fake_i2c_adapter_number = 1;
unsigned long fake_i2c_functions = I2C_FUNC_I2C;
int fake_i2c_functions_error = 0;
std::deque<int> fake_i2c_errors;
int fake_i2c_carried = -1;
std::string fake_i2c_trace;

void FakeI2cReset() {
  fake_i2c_adapter_number = 1;
  fake_i2c_functions = I2C_FUNC_I2C;
  fake_i2c_functions_error = 0;
  fake_i2c_errors.clear();
  fake_i2c_carried = -1;
  fake_i2c_trace.clear();
}

bool I2cDevStatus(int descriptor, struct stat& status) {
  if (fstat(descriptor, &status) == 0 && fake_i2c_adapter_number >= 0) {
    status.st_mode = S_IFCHR | 0660;
    status.st_rdev = makedev(89, static_cast<unsigned>(fake_i2c_adapter_number));
  }
  return true;
}

bool I2cDevFunctions(int /*descriptor*/, unsigned long& functions) {
  errno = fake_i2c_functions_error;
  functions = fake_i2c_functions;
  return errno == 0;
}

int I2cDevTransfer(int /*descriptor*/, std::span<i2c_msg> messages) {
  fake_i2c_trace += fake_i2c_trace.empty() ? "" : " | ";
  for (i2c_msg& message : messages) {
    const bool read = (message.flags & I2C_M_RD) != 0;
    char text[8];
    std::snprintf(text, sizeof(text), "%c%02X", read ? 'R' : 'W', message.addr);
    fake_i2c_trace += (&message == messages.data() ? "" : ", ") + std::string(text);
    for (__u16 i = 0; i < message.len; ++i) {
      std::snprintf(text, sizeof(text), " %02X", message.buf[i]);
      fake_i2c_trace += read ? "" : text;
      message.buf[i] = read ? static_cast<__u8>(0x40 + i) : message.buf[i];
    }
    fake_i2c_trace += read ? " #" + std::to_string(message.len) : "";
  }
  errno = fake_i2c_errors.empty() ? 0 : fake_i2c_errors.front();
  if (!fake_i2c_errors.empty()) {
    fake_i2c_errors.pop_front();
  }
  return errno != 0              ? -1
         : fake_i2c_carried >= 0 ? fake_i2c_carried
                                 : static_cast<int>(messages.size());
}
