// SPDX-License-Identifier: MIT
// Whole runs through the simulated I2C adapter (/PORT:i2c-1): every job
// prints, ends and leaves the chip as through the serial port, and the
// adapter's own failures end the run with a line on standard error.
#include <algorithm>

#include "tests/e2e/e2e_support.h"

namespace {

std::string Err(const std::string& line) {
  return line.empty() ? "" : "ebrilo: " + line + "\r\n";
}

using I2cRun = ScratchDirectory;

// Page and byte mode, /F /V (also behind a controller that reports a refused
// address as EREMOTEIO: a busy chip must not pass a poll), /P /V and /R /V,
// by either name of the adapter, with nothing on standard error; a refused
// page (transactions numbered as on the serial port) and a write-protected
// chip found by the verify.
TEST_F(I2cRun, JobsAsThroughTheSerialPort) {
  const Bytes image = PatternImage(31);
  WriteFile("dump.bin", image);
  WriteFile("image.bin", image);
  Bytes two_pages(1024, 0xFF);
  std::copy_n(image.begin(), 32, two_pages.begin());
  std::string mismatches;
  for (int page = 0; page < 64; ++page) {
    mismatches += Lines({"mismatch at " + std::to_string(168 + page / 16 * 2) + ":" +
                         std::to_string(page % 16 * 16)});
  }
  const std::string page_head = Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom..."});
  const std::string verified = Lines({Marks(64), "Verifying eeprom...", Marks(8), "Done."});
  const struct {
    std::vector<std::string> arguments;
    std::string sim;
    std::string out;
    int status;
    Bytes chip;
    std::string err;
  } cases[] = {
      {{"dump.bin", "/PORT:i2c-1"}, "", page_head + Lines({Marks(64), "Done."}), 0, image},
      {{"dump.bin", "/B", "/PORT:/dev/i2c-1"},
       "",
       Lines({"Eeprom dump size: OK", "", "Byte mode. Writing eeprom...", Marks(8), "Done."}),
       0,
       image},
      {{"dump.bin", "/F", "/V", "/PORT:i2c-7"}, "", page_head + verified, 0, image},
      {{"dump.bin", "/F", "/V", "/PORT:i2c-1"}, "i2c_remoteio", page_head + verified, 0, image},
      {{"/P", "/V", "/PORT:i2c-1"},
       "",
       Lines({"", "Resetting APP...", "Verifying APP...", "Done."}),
       0,
       {}},
      {{"copy.bin", "/R", "/V", "/PORT:i2c-1"},
       "load=image.bin",
       Lines({"", "Reading eeprom...", Marks(8), "Verifying eeprom...", Marks(8), "Done."}),
       0,
       image},
      {{"dump.bin", "/PORT:i2c-1"},
       "nack=3",
       page_head + Lines({">>error at 168:32", "", "ERROR: Write eeprom failed!"}),
       6,
       two_pages},
      {{"dump.bin", "/V", "/PORT:i2c-1"},
       "wp",
       page_head + Lines({Marks(64), "Verifying eeprom...", Marks(8)}) + mismatches +
           Lines({"Differing bytes: 1024", "ERROR: Write eeprom failed!"}),
       6,
       Bytes(1024, 0xFF),
       "ebrilo: the chip acknowledged every byte of the write and kept its old contents: its WP "
       "pin (pin 7) may be high; it must be tied to ground\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.front() + " " + c.arguments[1] + " " + c.sim);
    const ProgramRun run =
        Run({.arguments = c.arguments, .sim = c.sim + ";save=chip.bin;app_save=app.bin"});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out, RunHead(false) + c.out + Closing());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    if (c.chip.empty()) {
      Bytes app(16, 0x00);
      std::fill_n(app.begin(), 10, 0xFF);
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("app.bin"), app);
    } else {
      EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), c.chip);
    }
  }
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
}

// The adapter's side, each with its line on standard error: no chip (also
// behind a controller that says EREMOTEIO), a bus held low, an adapter that
// does not open or that goes away in the middle of a write (said once), one
// that carries no 17-byte page, and the inversion switches it has no use
// for. Reads go on in pieces it carries, and /B writes in 2-byte messages.
TEST_F(I2cRun, AdapterSideFailures) {
  const Bytes image = PatternImage(33);
  WriteFile("dump.bin", image);
  const std::string no_chip =
      "i2c-1: no chip acknowledges address 0x54 (control byte 0xA8): check the chip, its supply "
      "and its wiring";
  const std::string head = Lines({"Eeprom dump size: OK"});
  const std::string page_head = head + Lines({"", "Page mode. Writing eeprom..."});
  const std::string not_available = head + Lines({"ERROR: Eeprom not available!"});
  const struct {
    std::vector<std::string> arguments;
    std::string sim;
    std::string out;
    int status;
    std::string err;
  } cases[] = {
      {{"dump.bin"}, "chip=absent", not_available, 5, no_chip},
      {{"dump.bin"}, "chip=absent;i2c_remoteio", not_available, 5, no_chip},
      {{"dump.bin"},
       "stuck=40",
       head + Lines({"ERROR: Circuit not found or bus error!"}),
       4,
       "i2c-1: the chip's probe at address 0x54 failed: Connection timed out (SDA or SCL held "
       "low, or another master on the bus)"},
      {{"/P"},
       "i2c_fail=open",
       Lines({"ERROR: Circuit not found or bus error!"}),
       4,
       "cannot open i2c-1: No such device"},
      {{"dump.bin", "/E"},
       "i2c_fail=62",
       page_head + Lines({Marks(61) + "error at 174:208", "error at 174:224", "error at 174:240",
                          "", "Done."}),
       0,
       "i2c-1: No such device"},
      {{"dump.bin"},
       "i2c_max=16",
       page_head + Lines({"error at 168:0", "", "ERROR: Write eeprom failed!"}),
       6,
       "i2c-1: Operation not supported (the adapter carries no message of 17 bytes)"},
      {{"dump.bin", "/B", "/F"},
       "i2c_max=16",
       head + Lines({"", "Byte mode. Writing eeprom...", Marks(8), "Done."}),
       0,
       ""},
      {{"copy.bin", "/R"},
       "i2c_max=24;load=dump.bin",
       Lines({"", "Reading eeprom...", Marks(8), "Done."}),
       0,
       ""},
      {{"dump.bin", "/x", "/D", "/I"},
       "",
       page_head + Lines({Marks(64), "Done."}),
       0,
       "/X, /D and /I have no meaning on an I2C adapter: going on without them"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim);
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("/PORT:i2c-1");
    const ProgramRun run = Run({.arguments = arguments, .sim = c.sim + ";save=chip.bin"});
    EXPECT_PRED_FORMAT2(TextsMatch, run.out, RunHead(false) + c.out + Closing());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, Err(c.err));
  }
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
}

}  // namespace
