// SPDX-License-Identifier: MIT
// Verifying a write (/V): a chip that holds the image passes; one that
// acknowledged everything and stored nothing, or kept a bit wrong, lists
// where it differs and ends the run with error 6, with /E too.
#include <filesystem>
#include <string>

#include "tests/e2e/e2e_support.h"

namespace {

const char* const kWriteFailed = "ERROR: Write eeprom failed!";
const char* const kWpPinHint =
    "ebrilo: the chip acknowledged every byte of the write and kept its old contents: its WP pin "
    "(pin 7) may be high; it must be tied to ground\r\n";

const char* const kTurned = "ebrilo: ";
const char* const kMayBe =
    " read differently once: the connection to the chip may be unreliable\r\n";

class VerifyRun : public ScratchDirectory {
 protected:
  // Writes image as dump.bin with the switches; the chip's data ends up in
  // chip.bin and its APP registers in app.bin.
  ProgramRun Write(const Bytes& image, std::vector<std::string> arguments, const std::string& sim) {
    WriteFile("dump.bin", image);
    arguments.insert(arguments.begin(), "dump.bin");
    return Run({.arguments = arguments, .sim = "save=chip.bin;app_save=app.bin;" + sim});
  }
};

std::string PageModeHead() {
  return RunHead() + Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom..."});
}

TEST_F(VerifyRun, ChipThatHoldsTheImagePasses) {
  const Bytes image = PatternImage(21);
  const ProgramRun run = Write(image, {"/V"}, "");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), VerifiedPageWrite());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), image);
}

// Write-protected: every page acknowledged, nothing stored. Every page of
// the image differs from the erased chip, and the WP pin is named.
TEST_F(VerifyRun, WriteProtectedChipFails) {
  const ProgramRun run = Write(PatternImage(22), {"/V"}, "wp");
  std::string mismatches;
  for (int page = 0; page < 64; ++page) {
    mismatches += Lines({"mismatch at " + std::to_string(168 + page / 16 * 2) + ":" +
                         std::to_string(page % 16 * 16)});
  }
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      PageModeHead() + Lines({Marks(64), "Verifying eeprom...", Marks(8)}) +
                          mismatches + Lines({"Differing bytes: 1024", kWriteFailed}) + Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err, kWpPinHint);
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), Bytes(1024, 0xFF));
}

// With /E a refused page is listed and the write goes on; the verify then
// finds that page and the weak cell at 300 (page 288 = block 1, 32), and
// the run fails all the same. A weak cell is never taken for a chip that
// stored nothing.
// Byte 301 the chip sends in the verify (blocks 0 and 1 read once each) is
// the weak cell's, and turns on the way too: read again, the cell still fails.
TEST_F(VerifyRun, WeakCellAndIgnoredErrorFailWithIgnoreErrors) {
  ProgramRun weak = Write(PatternImage(23), {"/V"}, "weak=300;flip=301");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(weak.out),
                      PageModeHead() +
                          Lines({Marks(64), "Verifying eeprom...", Marks(8), "mismatch at 170:32",
                                 "Differing bytes: 1", kWriteFailed}) +
                          Closing());
  EXPECT_EQ(weak.err, std::string(kTurned) + "block 2 (addresses 256 to 383)" + kMayBe);

  const ProgramRun run = Write(PatternImage(23), {"/E", "/v"}, "weak=300;nack=3");
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      PageModeHead() +
          Lines({">>error at 168:32", Marks(61), "Verifying eeprom...", Marks(8),
                 "mismatch at 168:32", "mismatch at 170:32", "Differing bytes: 17", kWriteFailed}) +
          Closing());
  EXPECT_EQ(run.status, 6);
}

// A verify whose read fails (the port lost at its first transaction, after
// the probe and 64 pages) fails the write.
TEST_F(VerifyRun, FailedReadFailsTheWrite) {
  const ProgramRun run = Write(PatternImage(24), {"/V"}, "port_fail=65");
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      PageModeHead() +
          Lines({Marks(64), "Verifying eeprom...", "error at 168:0", "", kWriteFailed}) +
          Closing());
  EXPECT_EQ(run.status, 6);
}

// /P /V reads registers 0 to 9 back, one at a time, and expects 0xFF in
// each in the bits the datasheets define; the simulated chip's APP registers
// start at 0x00, and read back the bits they leave undefined inverted.
TEST_F(VerifyRun, AppResetVerified) {
  ProgramRun run = Run({.arguments = {"/P", "/V"}, .sim = "app_save=app.bin"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() + Lines({"", "Resetting APP...", "Verifying APP...", "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);

  run = Run({.arguments = {"/P", "/V"}, .sim = "wp"});
  std::string mismatches;
  for (int index = 0; index < 10; ++index) {
    mismatches += Lines({"mismatch at " + std::to_string(index) + " 184:" + std::to_string(index)});
  }
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() + Lines({"", "Resetting APP...", "Verifying APP..."}) + mismatches +
                          Lines({"Differing bytes: 10", kWriteFailed}) + Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err, kWpPinHint);
}

// A bit that turns on the way from the chip (bit 4 of the N-th byte it
// sends, the chip unchanged) costs a read, on every carrier: never a wrong
// file, a failed verify or a false mismatch. A connection that spoils every
// read fails /R with the connection named and no file.
TEST_F(VerifyRun, ByteTurnedOnTheWayIsReadAgain) {
  const Bytes image = PatternImage(25);
  WriteFile("image.bin", image);
  for (const std::string port : {"COM1", "i2c-1", "ch341a"}) {
    SCOPED_TRACE(port);
    std::filesystem::remove(Path("copy.bin"));
    // Each block is read twice: byte 300 is in block 1's first read.
    const ProgramRun run =
        Run({.arguments = {"copy.bin", "/R", "/PORT:" + port}, .sim = "load=image.bin;flip=300"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.err, std::string(kTurned) + "block 1 (addresses 128 to 255)" + kMayBe);
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
  }
  ProgramRun run = Run({.arguments = {"poor.bin", "/R"}, .sim = "flip_every=50"});
  EXPECT_EQ(run.status, 7);
  EXPECT_TRUE(run.err.starts_with(
      "ebrilo: block 0 (addresses 0 to 127) never read the same twice in 8 reads: the connection "
      "to the chip is unreliable\r\nebrilo: check that the clip sits on every pin"))
      << run.err;
  EXPECT_FALSE(std::filesystem::exists(Path("poor.bin")));
  // Any bit: bit 7 of byte 400, in block 1's second read. A byte in each of
  // block 0's reads 2 to 7 (bytes 130 + 129k): the 8th agrees with the 1st.
  for (const auto& [flips, unit] :
       {std::pair{"flip_bit=7;flip=400", "block 1 (addresses 128 to 255) read differently once"},
        {"flip_bit=0;flip=130;flip=259;flip=388;flip=517;flip=646;flip=775",
         "block 0 (addresses 0 to 127) read differently 6 times"}}) {
    std::filesystem::remove(Path("copy.bin"));
    run = Run({.arguments = {"copy.bin", "/R"}, .sim = "load=image.bin;" + std::string(flips)});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.err,
              kTurned + (unit + std::string(": the connection to the chip may be unreliable\r\n")));
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("copy.bin"), image);
  }

  run = Write(image, {"/F", "/V"}, "flip=300");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, std::string(kTurned) + "block 2 (addresses 256 to 383)" + kMayBe);
  run = Run({.arguments = {"/P", "/V"}, .sim = "flip=3"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, std::string(kTurned) + "APP register 2" + kMayBe);
}

}  // namespace
