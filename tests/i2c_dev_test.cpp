// SPDX-License-Identifier: MIT
// The real program, through its i2c-dev code, against a kernel I2C adapter
// emulated as /dev/i2c-1: umockdev's testbed in place of the machine's
// devices, each transfer run on the simulated chip in this process. The
// program never sees this machine's own I2C buses.
#include <cstdio>
#include <string>

#include "sim/sim.h"
#include "tests/e2e/emulated_run.h"
#include "tests/i2c/emulated_i2c_dev.h"

namespace {

class I2cDevRun : public EmulatedDeviceRun {
 protected:
  // Runs the program with the testbed in place of the machine's devices,
  // the testbed removed again once the program let go of the adapter.
  ProgramRun RunOn(const EmulatedI2cDev& adapter, std::vector<std::string> arguments) const {
    EmulatedI2cDevStart(adapter);
    const ProgramRun run = RunReal(std::move(arguments), kI2cDevPreload);
    EmulatedI2cDevStop();
    return run;
  }
};

// The listing names the adapter from sysfs; a verified page-mode write with
// /F, the adapter named as i2c-1, then goes through i2c-dev exactly as
// through a serial port: the same output, and the chip holds the image; a
// read brings it back.
TEST_F(I2cDevRun, ListsThenWritesAndReadsThroughI2cDev) {
  ProgramRun run = RunOn({}, {"/PORT:?"});
  EXPECT_NE(run.out.find("\r\ni2c-1  /dev/i2c-1  I2C adapter i2c-gpio1\r\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.status, 0);

  const Bytes image = PatternImage(51);
  WriteFile("dump.bin", image);
  run = RunOn({}, {"dump.bin", "/PORT:i2c-1", "/F", "/V"});
  EXPECT_PRED_FORMAT2(TextsMatch, run.out, VerifiedPageWrite(false));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Bytes(SimData().begin(), SimData().end()), image);

  run = RunOn({}, {"copy.bin", "/R", "/PORT:i2c-1"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, run.out,
      RunHead(false) + Lines({"", "Reading eeprom...", Marks(8), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
}

// A kernel driver bound at the chip's address, as sysfs links it: the
// adapter is not used, and standard error names the driver and how to
// unbind it (status 4). Any of the chip's addresses counts.
TEST_F(I2cDevRun, DriverOnTheChipKeepsTheAdapterUnused) {
  for (const auto& [chip, addresses] :
       {std::pair{"/CHIP:24RF08", std::vector{0x54u, 0x55u, 0x56u, 0x57u, 0x5Cu}},
        {"/CHIP:24C16", std::vector{0x50u, 0x51u, 0x52u, 0x53u, 0x54u, 0x55u, 0x56u, 0x57u}}}) {
    for (const unsigned address : addresses) {
      char line[256];
      std::snprintf(line, sizeof(line),
                    "ebrilo: /dev/i2c-1: address 0x%02X belongs to the kernel driver at24 "
                    "(1-%04x), which may write the chip too; unbind it with: echo 1-%04x | sudo "
                    "tee /sys/bus/i2c/drivers/at24/unbind\r\n",
                    address, address, address);
      const ProgramRun run = RunOn({"at24", address}, {"copy.bin", "/R", "/PORT:i2c-1", chip});
      EXPECT_EQ(run.err, line);
      EXPECT_EQ(run.status, 4);
    }
  }
}

}  // namespace
