// SPDX-License-Identifier: MIT
#include "tests/unit_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "bus/serial_lines.h"
#include "bus/transfer.h"
#include "bus/twowire.h"
#include "eeprom/chips.h"
#include "eeprom/image_file.h"
#include "eeprom/writers.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_serial.h"
#include "timing/delay.h"

void ResetState() {
  bus_options = {};
  delay_count = 0;
  last_control_byte = 0;
  last_word_address = 0;
  position = 0;
  port_timed = false;
  eeprom_image = {};
  current_chip = Chips().data();
  chip_pins = 0;
  ignore_errors = false;
  ack_polling = false;
  FakeClockReset();
  FakeSerialReset();
}

std::string OutputOfExit(const std::function<void()>& body, int status) {
  // Named after this process: ctest may run several test processes at once.
  const std::string path =
      testing::TempDir() + "ebrilo_exit_output_" + std::to_string(getpid()) + ".txt";
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        if (std::freopen("/dev/null", "r", stdin) == nullptr ||
            std::freopen(path.c_str(), "w", stdout) == nullptr) {
          std::_Exit(100);
        }
        body();
      },
      testing::ExitedWithCode(status), "");
  std::ostringstream output;
  output << std::ifstream(path, std::ios::binary).rdbuf();
  std::remove(path.c_str());
  return output.str();
}
