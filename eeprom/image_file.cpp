// SPDX-License-Identifier: MIT
#include "eeprom/image_file.h"

#include <cerrno>
#include <string>

#include "app/errors.h"
#include "eeprom/chips.h"
#include "platform/platform.h"

EepromImage eeprom_image{};

void LoadImage(const char* file_name) {
  if (!NamesExistingFile(file_name)) {
    ReportError(ErrorCode::BadFileName, true);
  }
  std::FILE* file = OpenForReading(file_name);
  if (file == nullptr) {
    ReportError(ErrorCode::OpenFailed, true);
  }
  const std::int64_t size = FileSize(file);
  if (size < 0) {
    IoFailure("cannot get the size of the dump file", errno);
  }
  if (size != static_cast<std::int64_t>(current_chip->size)) {
    Diagnostic(std::string(file_name) + " holds " + std::to_string(size) +
               (size == 1 ? " byte" : " bytes") + "; a " + std::string(current_chip->name) +
               " dump has " + std::to_string(current_chip->size) + " bytes");
    ReportError(ErrorCode::WrongSize, true);
  }
  eeprom_image.assign(current_chip->size, 0);
  ConsoleLine("Eeprom dump size: OK");
  // A short read (a file that shrank since its size was taken) is as much a
  // failure as an error: the chip must never get a half-filled image.
  errno = 0;
  if (std::fread(eeprom_image.data(), 1, eeprom_image.size(), file) != eeprom_image.size()) {
    IoFailure("cannot read the dump file", errno != 0 ? errno : EIO);
  }
  if (std::fclose(file) != 0) {
    IoFailure("cannot close the dump file", errno);
  }
}
