// SPDX-License-Identifier: MIT
// The real program, through its i2c-dev code, against a kernel I2C adapter
// emulated as /dev/i2c-1: umockdev's testbed in place of the machine's
// devices, each transfer run on the simulated chip in this process. The
// program never sees this machine's own I2C buses.
#include <string>

#include "sim/sim.h"
#include "tests/e2e/emulated_run.h"
#include "tests/i2c/emulated_i2c_dev.h"

namespace {

std::string Marks(int count) {
  return std::string(static_cast<std::size_t>(count), '>');
}

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
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() +
                          Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                                 Marks(64), "Verifying eeprom...", Marks(8), "Done."}) +
                          Closing());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Bytes(SimData().begin(), SimData().end()), image);

  run = RunOn({}, {"copy.bin", "/R", "/PORT:i2c-1"});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() + Lines({"", "Reading eeprom...", Marks(8), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
}

// What keeps the program from the chip, each said on standard error: an
// adapter without plain I2C transfers and a kernel driver on the chip's
// address (status 4), and no chip on the bus (the kernel's ENXIO for its
// address, status 5).
TEST_F(I2cDevRun, RefusalsSayWhy) {
  ProgramRun run = RunOn({.smbus_only = true}, {"/P", "/PORT:i2c-1"});
  EXPECT_EQ(run.err,
            "ebrilo: /dev/i2c-1: an SMBus-only adapter: it has no plain I2C transfers "
            "(I2C_FUNC_I2C), which the chip's pages and reads need\r\n");
  EXPECT_EQ(run.status, 4);

  run = RunOn({.driver_at_chip = "at24"}, {"/P", "/PORT:i2c-1"});
  EXPECT_EQ(run.err,
            "ebrilo: /dev/i2c-1: address 0x54 belongs to the kernel driver at24 (1-0054), which "
            "may write the chip too; unbind it with: echo 1-0054 | sudo tee "
            "/sys/bus/i2c/drivers/at24/unbind\r\n");
  EXPECT_EQ(run.status, 4);

  ASSERT_TRUE(SimConfigureText("chip=absent"));
  run = RunOn({}, {"/P", "/PORT:i2c-1"});
  EXPECT_TRUE(run.out.ends_with(Lines({"ERROR: Eeprom not available!"}) + Closing())) << run.out;
  EXPECT_EQ(run.err,
            "ebrilo: /dev/i2c-1: no chip acknowledges address 0x54 (control byte 0xA8): check the "
            "chip, its supply and its wiring\r\n");
  EXPECT_EQ(run.status, 5);
}

}  // namespace
