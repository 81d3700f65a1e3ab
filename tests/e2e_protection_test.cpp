// SPDX-License-Identifier: MIT
// The chip's access protection in whole runs: /P /R lists the APP page, a
// block the chip will not give fails a read with no file, a write refused by
// the protection, a register /P cannot change and a chip that stores
// nothing each get their explanation on standard error, and a register that
// keeps its value fails /P /V.
#include <filesystem>
#include <string>

#include "tests/e2e/e2e_support.h"

namespace {

const char* const kReadFailed = "ERROR: Read eeprom failed!";
const char* const kWriteFailed = "ERROR: Write eeprom failed!";

std::string Err(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (const std::string_view line : lines) {
    text += "ebrilo: " + std::string(line) + "\r\n";
  }
  return text;
}

// Open blocks but 1 (read only) and 2 (closed); block 0's page at 16 closed;
// registers 9 to 15 and the ID page open; revision 0x10.
Bytes Registers() {
  return {0xFF, 0x82, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};
}

class ProtectionRun : public ScratchDirectory {
 protected:
  // The chip holds old.bin and the registers, enforces its protection, and
  // saves both when the port closes.
  ProgramRun Protected(std::vector<std::string> arguments, const Bytes& registers,
                       const std::string& more = "") {
    WriteFile("app.bin", registers);
    WriteFile("old.bin", PatternImage(61));
    return Run(
        {.arguments = arguments,
         .sim = "protect;load=old.bin;app_load=app.bin;save=chip.bin;app_save=app.out;" + more});
  }
};

// The listing: every register read in a transaction of its own, /V changing
// nothing, nothing written. A chip whose APP page protection closes
// registers 9 to 15 shows them as refused, and the run ends with error 7.
TEST_F(ProtectionRun, AppListing) {
  const std::string listing = Lines({
      "",
      "Reading APP...",
      " 0  B3  block 0 (addresses 0 to 127): read and write",
      " 1  CE  block 1 (addresses 128 to 255): read only",
      " 2  4C  block 2 (addresses 256 to 383): no access, locked until the chip is powered off "
      "and on",
      " 3  B3  block 3 (addresses 384 to 511): read and write",
      " 4  B3  block 4 (addresses 512 to 639): read and write",
      " 5  B3  block 5 (addresses 640 to 767): read and write",
      " 6  B3  block 6 (addresses 768 to 895): read and write",
      " 7  B3  block 7 (addresses 896 to 1023): read and write",
      " 8  83  APP registers 9 to 15 and the ID page: read and write",
  });
  const std::string rest = Lines({
      " 9  FD  write enables of block 0's 16-byte pages: closed at 16",
      "10  00  coil and tamper status",
      "11  00  reserved",
      "12  00  reserved",
      "13  00  reserved",
      "14  FF  reserved, read only",
      "15  10  device revision",
  });
  for (const char* verify : {"/R", "/V"}) {
    SCOPED_TRACE(verify);
    const ProgramRun run = Protected({"/P", "/R", verify}, Registers(), "locked=2");
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead() + listing + rest + Lines({"Done."}) + Closing());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("app.out"), Registers());
  }

  Bytes closed_page = Registers();
  closed_page[8] = 0x01;
  const ProgramRun run = Protected({"/p", "/r"}, closed_page, "locked=2");
  std::string expected = listing.substr(0, listing.find(" 8  83"));
  expected += Lines({" 8  FD  APP registers 9 to 15 and the ID page: no access"});
  for (int index = 9; index < 16; ++index) {
    expected +=
        Lines({(index < 10 ? " " : "") + std::to_string(index) + "  --  refused by the chip"});
  }
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() + expected + Lines({kReadFailed}) + Closing());
  EXPECT_EQ(run.status, 7);
}

// A block the chip may not give refuses its word address: /R ends with
// error 7 and no file, through the serial port, an I2C adapter and the
// CH341A alike, and says which block and why. A write with /E /V goes past
// the refused pages, and its verify fails on the same block.
TEST_F(ProtectionRun, ClosedBlockFailsTheReadAndTheVerify) {
  Bytes registers(16, 0xFF);
  registers[5] = 0x01;
  const std::string why = Err(
      {"the chip's access protection closes block 5 (addresses 640 to 767, 172:128 to 172:255) to "
       "reading and writing: APP register 5 holds 0xCD; /P opens every block"});
  for (const char* port : {"/PORT:COM1", "/PORT:i2c-1", "/PORT:ch341a"}) {
    SCOPED_TRACE(port);
    const ProgramRun run = Protected({"copy.bin", "/R", port}, registers);
    EXPECT_PRED_FORMAT2(
        TextsMatch, MaskDelayCount(run.out),
        RunHead(port == std::string("/PORT:COM1")) +
            Lines({"", "Reading eeprom...", ">>>>>error at 172:128", "", kReadFailed}) + Closing());
    EXPECT_EQ(run.status, 7);
    EXPECT_EQ(run.err, why);
    EXPECT_FALSE(std::filesystem::exists(Path("copy.bin")));
  }

  WriteFile("dump.bin", PatternImage(62));
  const ProgramRun run = Protected({"dump.bin", "/E", "/V"}, registers);
  std::string refused;
  for (int page = 8; page < 16; ++page) {
    refused += Lines({"error at 172:" + std::to_string(page * 16)});
  }
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() +
          Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...",
                 Marks(40) + "error at 172:128"}) +
          refused.substr(refused.find("\r\n") + 2) +
          Lines({Marks(16), "Verifying eeprom...", ">>>>>error at 172:128", "", kWriteFailed}) +
          Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err, why);
}

// A write refused by the protection: a read-only block, a closed page of
// block 0 and a closed block whose register is locked, each said once with
// /E, whatever number of pages it refused; the chip keeps its old bytes
// there. A chip that will not show its APP page, in a run that stops at
// its first failure, is said to do so.
TEST_F(ProtectionRun, RefusedWriteSaysWhy) {
  const Bytes image = PatternImage(63);
  WriteFile("dump.bin", image);
  Bytes registers = Registers();
  registers[2] = 0xFF;
  registers[6] = 0x00;
  const ProgramRun run = Protected({"dump.bin", "/E"}, registers, "locked=6,8");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            Err({"the chip's access protection makes block 1 (addresses 128 to 255, 168:128 to "
                 "168:255) read only: APP register 1 holds 0xCE; /P opens every block",
                 "the chip's access protection closes block 6 (addresses 768 to 895, 174:0 to "
                 "174:127) to reading and writing: APP register 6 holds 0x4C; that register's "
                 "sticky bit is clear, so power the chip off and on; then /P opens every block",
                 "the chip's access protection makes block 0's page at addresses 16 to 31 (168:16 "
                 "to 168:31) read only: APP register 9 holds 0xFD, a write enable for each page; "
                 "APP register 8's sticky bit is clear, so power the chip off and on; then /P "
                 "opens every block"}));
  Bytes expected = image;
  const Bytes old = PatternImage(61);
  const std::pair<int, int> kept[] = {{16, 32}, {128, 256}, {768, 896}};
  for (const auto& [first, last] : kept) {
    std::copy(old.begin() + first, old.begin() + last, expected.begin() + first);
  }
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("chip.bin"), expected);

  // The verify then finds block 1's old contents, which the protection
  // explains: the WP pin is not blamed.
  registers = Registers();
  registers[2] = registers[9] = 0xFF;
  const ProgramRun verified = Protected({"dump.bin", "/E", "/V"}, registers);
  EXPECT_EQ(verified.status, 6);
  EXPECT_EQ(verified.err, Err({"the chip's access protection makes block 1 (addresses 128 to 255, "
                               "168:128 to 168:255) read only: APP register 1 holds 0xCE; /P "
                               "opens every block"}));

  const ProgramRun hidden = Run({.arguments = {"dump.bin"}, .sim = "deaf_app;nack=3:4"});
  EXPECT_EQ(hidden.status, 6);
  EXPECT_EQ(hidden.err, Err({"the chip does not show its APP page (APP register 0 could not be "
                             "read): why it refused the job's transactions cannot be told"}));
}

// A register whose sticky bit is clear keeps its value: /P lists it as
// failed, and /P /V, reading each register alone, finds it. Register 9
// then also fails while locked register 8 closes registers 9 to 15.
TEST_F(ProtectionRun, LockedRegistersKeepTheirValues) {
  ProgramRun run = Run({.arguments = {"/P", "/V"}, .sim = "locked=5;app_save=app.out"});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() +
                          Lines({"", "Resetting APP...", "error at 5 184:5", "Verifying APP...",
                                 "mismatch at 5 184:5", "Differing bytes: 1", kWriteFailed}) +
                          Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err,
            Err({"APP register 5 holds 0x4C and its sticky bit (bit 7) is clear: the chip refuses "
                 "to change it until it is powered off and on; power the chip off and on before "
                 "/P can change it"}));
  Bytes expected(16, 0x00);
  std::fill_n(expected.begin(), 10, 0xFF);
  expected[5] = 0x00;
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("app.out"), expected);

  // Register 3, locked, differs from what /P writes only in its sticky bit.
  run = Protected({"/P", "/V"}, Bytes(16, 0xFF), "locked=3");
  EXPECT_EQ(run.status, 6);
  EXPECT_NE(run.out.find("mismatch at 3 184:3\r\nDiffering bytes: 1\r\n"), std::string::npos)
      << run.out;

  Bytes registers(16, 0x00);
  run = Protected({"/P"}, registers, "locked=8");
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      RunHead() + Lines({"", "Resetting APP...", "error at 8 184:8", "error at 9 184:9", "Done."}) +
          Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            Err({"APP register 8 holds 0x7C and its sticky bit (bit 7) is clear: the chip refuses "
                 "to change it until it is powered off and on; power the chip off and on before "
                 "/P can change it",
                 "APP register 9 may not be written while APP register 8 holds 0x7C, whose bits "
                 "1:0 guard registers 9 to 15, and register 8's sticky bit is clear: power the "
                 "chip off and on before /P can change either"}));
}

}  // namespace
