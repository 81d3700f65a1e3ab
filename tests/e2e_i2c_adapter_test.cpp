// SPDX-License-Identifier: MIT
// Whole runs through the simulated I2C adapter (/PORT:i2c-1): every job
// prints, ends and leaves the chip as through the serial port, the chip's
// refusals give the same error lines, and the adapter's own failures end the
// run with a line on standard error naming it.
#include <algorithm>

#include "tests/e2e/e2e_support.h"

namespace {

const char* const kWriteFailed = "ERROR: Write eeprom failed!";

std::string Marks(int count) {
  return std::string(static_cast<std::size_t>(count), '>');
}

std::string ImageHead(const char* mode_line) {
  return RunHead() + Lines({"Eeprom dump size: OK", "", mode_line});
}

std::string Err(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (const std::string_view line : lines) {
    text += "ebrilo: " + std::string(line) + "\r\n";
  }
  return text;
}

class I2cRun : public ScratchDirectory {
 protected:
  // Runs the arguments on /PORT:port against a chip that starts from
  // image.bin and app.bin and is saved to chip.bin and app.out.
  ProgramRun RunOn(std::vector<std::string> arguments, const std::string& sim,
                   const std::string& port = "i2c-1") {
    arguments.push_back("/PORT:" + port);
    return Run({.arguments = arguments,
                .sim = "load=image.bin;app_load=app.bin;save=chip.bin;app_save=app.out;" + sim});
  }
  void SetUp() override {
    ScratchDirectory::SetUp();
    WriteFile("image.bin", Bytes(1024, 0xFF));
    WriteFile("app.bin", Bytes(16, 0x00));
  }
};

// Each job as through the serial port: page and byte mode, /F /V, APP reset
// with its verify, and a read with its second read, by either name of the
// adapter; nothing on standard error.
TEST_F(I2cRun, EveryJobAsThroughTheSerialPort) {
  const Bytes image = PatternImage(31);
  WriteFile("dump.bin", image);
  const std::string write_done = Lines({Marks(64), "Done."});
  const std::string verified = Lines({Marks(64), "Verifying eeprom...", Marks(8), "Done."});
  const struct {
    std::vector<std::string> arguments;
    std::string port;
    std::string out;
  } cases[] = {
      {{"dump.bin"}, "i2c-1", ImageHead("Page mode. Writing eeprom...") + write_done},
      {{"dump.bin", "/B"},
       "/dev/i2c-1",
       ImageHead("Byte mode. Writing eeprom...") + Lines({Marks(8), "Done."})},
      {{"dump.bin", "/F", "/V"}, "i2c-7", ImageHead("Page mode. Writing eeprom...") + verified},
      {{"/P", "/V"},
       "i2c-1",
       RunHead() + Lines({"", "Resetting APP...", "Verifying APP...", "Done."})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.back() + " " + c.port);
    const ProgramRun run = RunOn(c.arguments, "", c.port);
    EXPECT_EQ(MaskDelayCount(run.out), c.out + Closing());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    Bytes app(16, 0x00);
    if (c.arguments[0] == "/P") {
      std::fill_n(app.begin(), 10, 0xFF);
    } else {
      EXPECT_EQ(ReadFile("chip.bin"), image);
    }
    EXPECT_EQ(ReadFile("app.out"), app);
  }

  WriteFile("image.bin", image);
  const ProgramRun run = RunOn({"backup.bin", "/R", "/V"}, "");
  EXPECT_EQ(MaskDelayCount(run.out), RunHead() +
                                         Lines({"", "Reading eeprom...", Marks(8),
                                                "Verifying eeprom...", Marks(8), "Done."}) +
                                         Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile("backup.bin"), image);
}

// The chip's refusals are the serial port's: a refused page stops the write
// (transactions numbered as there: the probe 0, the pages from 1), and goes
// on with /E, the chip keeping the bytes it took before the refused one; a
// write-protected chip is found by the verify.
TEST_F(I2cRun, RefusalsAsThroughTheSerialPort) {
  const Bytes image = PatternImage(32);
  WriteFile("dump.bin", image);
  Bytes third_page_left(image);
  std::fill_n(third_page_left.begin() + 32, 16, 0xFF);

  ProgramRun run = RunOn({"dump.bin"}, "nack=3");
  EXPECT_EQ(MaskDelayCount(run.out), ImageHead("Page mode. Writing eeprom...") +
                                         Lines({">>error at 168:32", "", kWriteFailed}) +
                                         Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err, "");
  Bytes rest_left(image);
  std::fill(rest_left.begin() + 32, rest_left.end(), 0xFF);
  EXPECT_EQ(ReadFile("chip.bin"), rest_left);

  run = RunOn({"dump.bin", "/E"}, "nack=3:9");
  EXPECT_EQ(MaskDelayCount(run.out), ImageHead("Page mode. Writing eeprom...") +
                                         Lines({">>error at 168:32", Marks(61), "Done."}) +
                                         Closing());
  EXPECT_EQ(run.status, 0);
  Bytes third_page_cut(third_page_left);
  std::copy_n(image.begin() + 32, 6, third_page_cut.begin() + 32);
  EXPECT_EQ(ReadFile("chip.bin"), third_page_cut);

  run = RunOn({"dump.bin", "/V"}, "wp");
  std::string mismatches;
  for (int page = 0; page < 64; ++page) {
    mismatches += Lines({"mismatch at " + std::to_string(168 + page / 16 * 2) + ":" +
                         std::to_string(page % 16 * 16)});
  }
  EXPECT_EQ(MaskDelayCount(run.out),
            ImageHead("Page mode. Writing eeprom...") +
                Lines({Marks(64), "Verifying eeprom...", Marks(8)}) + mismatches +
                Lines({"Differing bytes: 1024", kWriteFailed}) + Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(ReadFile("chip.bin"), Bytes(1024, 0xFF));
}

// What goes wrong on the adapter's side, each with its line on standard
// error: no chip (also behind a controller that reports every refusal as a
// refused data byte), a bus held low, an adapter that does not open or that
// goes away in the middle of a write (said once), and the inversion
// switches, which it has no use for.
TEST_F(I2cRun, AdapterSideFailures) {
  WriteFile("dump.bin", PatternImage(33));
  const std::string no_chip =
      "i2c-1: no chip acknowledges address 0x54 (control byte 0xA8): check the chip, its supply "
      "and its wiring";
  const struct {
    std::vector<std::string> arguments;
    std::string sim;
    std::string out;
    int status;
    std::string err;
  } cases[] = {
      {{"dump.bin"},
       "chip=absent",
       Lines({"Eeprom dump size: OK", "ERROR: Eeprom not available!"}),
       5,
       Err({no_chip})},
      {{"dump.bin"},
       "chip=absent;i2c_remoteio",
       Lines({"Eeprom dump size: OK", "ERROR: Eeprom not available!"}),
       5,
       Err({no_chip})},
      {{"dump.bin"},
       "stuck=40",
       Lines({"Eeprom dump size: OK", "ERROR: Circuit not found or bus error!"}),
       4,
       Err({"i2c-1: the chip's probe at address 0x54 failed: Connection timed out (SDA or SCL "
            "held low, or another master on the bus)"})},
      {{"/P"},
       "i2c_fail=open",
       Lines({"ERROR: Circuit not found or bus error!"}),
       4,
       Err({"cannot open i2c-1: No such device"})},
      {{"dump.bin", "/E"},
       "i2c_fail=62",
       Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
              Marks(61) + "error at 174:208", "error at 174:224", "error at 174:240", "", "Done."}),
       0,
       Err({"i2c-1: No such device"})},
      {{"dump.bin", "/x", "/D", "/I"},
       "",
       Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...", Marks(64), "Done."}),
       0,
       Err({"/X, /D and /I have no meaning on an I2C adapter: going on without them"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim);
    const ProgramRun run = RunOn(c.arguments, c.sim);
    EXPECT_EQ(MaskDelayCount(run.out), RunHead() + c.out + Closing());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
  }
}

// An adapter that carries short messages only: a read goes on in smaller
// pieces; a page does not fit in 16 bytes and fails with the reason, and
// byte mode, whose messages are two bytes, writes the chip.
TEST_F(I2cRun, AdapterWithShortMessages) {
  const Bytes image = PatternImage(34);
  WriteFile("image.bin", image);
  ProgramRun run = RunOn({"backup.bin", "/R"}, "i2c_max=24");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile("backup.bin"), image);

  WriteFile("image.bin", Bytes(1024, 0xFF));
  WriteFile("dump.bin", image);
  run = RunOn({"dump.bin"}, "i2c_max=16");
  EXPECT_EQ(MaskDelayCount(run.out), ImageHead("Page mode. Writing eeprom...") +
                                         Lines({"error at 168:0", "", kWriteFailed}) + Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err,
            Err({"i2c-1: Operation not supported (the adapter carries no message of 17 bytes)"}));
  run = RunOn({"dump.bin", "/B", "/F"}, "i2c_max=16");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile("chip.bin"), image);
}

// /F polls behind a controller that reports a refused address as a refused
// data byte: a chip in its write cycle must not pass for one that is ready,
// or the next page would be refused.
TEST_F(I2cRun, PollsBehindAControllerThatSaysRemoteIo) {
  const Bytes image = PatternImage(35);
  WriteFile("dump.bin", image);
  const ProgramRun run = RunOn({"dump.bin", "/F", "/V"}, "i2c_remoteio;write_ms=5");
  EXPECT_EQ(MaskDelayCount(run.out),
            ImageHead("Page mode. Writing eeprom...") +
                Lines({Marks(64), "Verifying eeprom...", Marks(8), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile("chip.bin"), image);
}

}  // namespace
