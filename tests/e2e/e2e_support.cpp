// SPDX-License-Identifier: MIT
#include "tests/e2e/e2e_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string Separator() {
  return std::string(64, '-');
}

std::string Banner() {
  return Lines({"Ebrilo v2.0b - Win32 Console Version",
                "Programs 24RF08 serial EEPROMs through the modem lines of a serial port."});
}

std::string RunHead(bool timer) {
  return Banner() + Lines({"", Separator()}) + (timer ? Lines({"Initializing timer...N OK!"}) : "");
}

std::string Closing() {
  return Lines({"", Separator(), "Hit <Enter> to exit..."});
}

std::string Marks(int count) {
  return std::string(static_cast<std::size_t>(count), '>');
}

std::string VerifiedPageWrite(bool timer) {
  return RunHead(timer) +
         Lines({"Eeprom dump size: OK", "", "Page mode. Writing eeprom...", Marks(64),
                "Verifying eeprom...", Marks(8), "Done."}) +
         Closing();
}

std::string Usage() {
  return Lines({
      "",
      "Usage: ebrilo filename [switches]",
      "       ebrilo /P [switches]",
      "",
      "  filename      Specifies the source binary file.",
      "  /P            Reset APP.",
      "",
      "  switches:",
      "  /B            Byte mode. Byte writing is performed instead of page writing.",
      "                Has no effect with /P.",
      "  /E            Ignore errors and keep writing (not recommended).",
      "                Has no effect with /P.",
      "  /F            Fast writes: poll the eeprom for the end of each write cycle.",
      "  /R            Read the eeprom into the file instead of writing it.",
      "  /V            Verify: read the eeprom back and compare (with /R: read again).",
      "  /C            Compare the eeprom with the file, writing nothing (/P /C: APP).",
      "  /U            Update: read first, write only what differs from the file.",
      "  /X            Invert SCL. Default is direct.",
      "  /D            Invert SDA-Out. Default is direct.",
      "  /I            Invert SDA-In. Default is direct.",
      "  /PORT:name    Serial port, COM1 by default: COMn, or on Linux a device",
      "                such as ttyUSB0 or a path such as /dev/serial/by-id/...",
      "                Also an I2C adapter (on Linux i2c-N) or a CH341A programmer",
      "                (ch341a, or ch341a:BUS-PORTS as /PORT:? lists it).",
      "  /PORT:?       List the serial ports, I2C adapters and programmers.",
      "  /CHIP:name    The chip, 24RF08 by default: 24C01, 24C02, 24C04, 24C08,",
      "                24C16, 24C32, 24C64, 24C128, 24C256 or 24C512, also as",
      "                printed on it (AT24C02, 24LC256, M24C64...).",
      "  /CHIP:?       List the chips: size, page, address bytes and pins.",
      "  /ADDR:n       Levels of the chip's address pins A2 A1 A0, 0 to 7 (0).",
      "  /KHZ:n        Bus clock in kHz: serial port 1 to 100 (100; 24RF08 1 to 12),",
      "                CH341A 20, 100, 400 or 750 (400; 24RF08 20 or 100, 100).",
      "  /P /R         Show the APP registers and the access protection they set.",
      "",
      "Please report any bug to: ebrilo-bugs@example.org",
      "",
  });
}

std::string MaskDelayCount(const std::string& out) {
  static const std::regex timer_line("Initializing timer\\.\\.\\.([1-9][0-9]*) OK!\r\n");
  return std::regex_replace(out, timer_line, "Initializing timer...N OK!\r\n",
                            std::regex_constants::format_first_only);
}

bool WindowsTarget() {
  const std::vector<std::string> command = ProgramCommand();
  return std::any_of(command.begin(), command.end(),
                     [](const std::string& word) { return word.ends_with(".exe"); });
}

void ScratchDirectory::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ebrilo-e2e-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  directory_ = pattern;
}

void ScratchDirectory::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

std::string ScratchDirectory::Path(const std::string& name) const {
  return directory_ + "/" + name;
}

void ScratchDirectory::WriteFile(const std::string& name, const Bytes& bytes) const {
  std::ofstream file(Path(name), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ScratchDirectory::ReadFile(const std::string& name) const {
  std::ifstream file(Path(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

ProgramRun ScratchDirectory::Run(const ProgramSetup& setup) const {
  return RunProgram(directory_, setup);
}

Bytes PatternImage(std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes image(1024);
  for (auto& byte : image) {
    byte = static_cast<std::uint8_t>(generator() % 255);  // never 0xFF, the erased value
  }
  return image;
}
