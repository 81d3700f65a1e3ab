// SPDX-License-Identifier: MIT
#include "tests/fakes/fake_i2c_dev.h"

#include <linux/i2c.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>

#include "platform/i2c_dev_posix.h"

std::vector<std::vector<FakeI2cMessage>> fake_i2c_transfers;
int fake_i2c_adapter_number = 1;
unsigned long fake_i2c_functions = I2C_FUNC_I2C;
int fake_i2c_functions_error = 0;
std::deque<int> fake_i2c_errors;
int fake_i2c_carried = -1;

void FakeI2cReset() {
  fake_i2c_transfers.clear();
  fake_i2c_adapter_number = 1;
  fake_i2c_functions = I2C_FUNC_I2C;
  fake_i2c_functions_error = 0;
  fake_i2c_errors.clear();
  fake_i2c_carried = -1;
}

std::string FakeI2cTrace() {
  std::string trace;
  for (const auto& transfer : fake_i2c_transfers) {
    trace += trace.empty() ? "" : " | ";
    for (std::size_t i = 0; i < transfer.size(); ++i) {
      char head[16];
      std::snprintf(head, sizeof(head), "%s%c%02X", i == 0 ? "" : ", ",
                    transfer[i].read ? 'R' : 'W', transfer[i].address);
      trace += head;
      if (transfer[i].read) {
        trace += " #" + std::to_string(transfer[i].bytes.size());
        continue;
      }
      for (const std::uint8_t byte : transfer[i].bytes) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), " %02X", byte);
        trace += hex;
      }
    }
  }
  return trace;
}

bool I2cDevStatus(int descriptor, struct stat& status) {
  if (fstat(descriptor, &status) != 0) {
    return false;
  }
  if (fake_i2c_adapter_number >= 0) {
    status.st_mode = (status.st_mode & ~static_cast<mode_t>(S_IFMT)) | S_IFCHR;
    status.st_rdev = makedev(89, static_cast<unsigned>(fake_i2c_adapter_number));
  }
  return true;
}

bool I2cDevFunctions(int /*descriptor*/, unsigned long& functions) {
  if (fake_i2c_functions_error != 0) {
    errno = fake_i2c_functions_error;
    return false;
  }
  functions = fake_i2c_functions;
  return true;
}

int I2cDevTransfer(int /*descriptor*/, std::span<i2c_msg> messages) {
  std::vector<FakeI2cMessage>& transfer = fake_i2c_transfers.emplace_back();
  for (const i2c_msg& message : messages) {
    const bool read = (message.flags & I2C_M_RD) != 0;
    transfer.push_back({message.addr, read, std::vector<std::uint8_t>(message.len)});
    if (!read) {
      transfer.back().bytes.assign(message.buf, message.buf + message.len);
    }
  }
  const int error = fake_i2c_errors.empty() ? 0 : fake_i2c_errors.front();
  if (!fake_i2c_errors.empty()) {
    fake_i2c_errors.pop_front();
  }
  if (error != 0) {
    errno = error;
    return -1;
  }
  for (const i2c_msg& message : messages) {
    for (std::size_t i = 0; (message.flags & I2C_M_RD) != 0 && i < message.len; ++i) {
      message.buf[i] = static_cast<__u8>(0x40 + i);
    }
  }
  return fake_i2c_carried >= 0 ? fake_i2c_carried : static_cast<int>(messages.size());
}
