// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "eeprom/image_file.h"
#include "tests/unit_support.h"

namespace {

// Tests run as root in CI; an unreadable file needs an ordinary user.
constexpr uid_t kNobody = 65534;

const std::string kBadFileName = "ERROR: Invalid filename or file not found!\r\n" + kClosingLines;
const std::string kOpenFailed = "ERROR: Unable to open source file!\r\n" + kClosingLines;
const std::string kWrongSize = "ERROR: Unknown eeprom dump. Wrong file size!\r\n" + kClosingLines;

class ImageFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    std::string pattern = testing::TempDir() + "ebrilo_image_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // Traversable by anyone, so that a test may look at its files as nobody.
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_exec |
                                           std::filesystem::perms::others_exec);
  }

  void TearDown() override {
    std::filesystem::remove_all(dir_);
  }

  // A file of size bytes, byte i holding (i * 7 + 3) mod 256.
  std::string MakeFile(const std::string& name, std::size_t size) {
    const std::string path = (dir_ / name).string();
    std::ofstream file(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) {
      file.put(static_cast<char>((i * 7 + 3) & 0xFF));
    }
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(ImageFileTest, FilesThatAreNoDumpEndTheRun) {
  const struct {
    const char* scenario;
    std::string path;
    int status;
    const std::string& output;
  } cases[] = {
      {"missing file", (dir_ / "missing.bin").string(), 1, kBadFileName},
      {"directory", dir_.string(), 1, kBadFileName},
      {"empty name", "", 1, kBadFileName},
      {"one byte short", MakeFile("short.bin", 1023), 3, kWrongSize},
      {"one byte long", MakeFile("long.bin", 1025), 3, kWrongSize},
      {"empty file", MakeFile("empty.bin", 0), 3, kWrongSize},
      // A device is no dump, and reading it must not be tried.
      {"/dev/null", "/dev/null", 3, kWrongSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    EXPECT_EQ(OutputOfExit([&c] { LoadImage(c.path.c_str()); }, c.status), c.output);
  }
}

// Opening a named pipe that has no writer must neither hang nor read.
TEST_F(ImageFileTest, NamedPipeWithoutWriterIsTheWrongSize) {
  const std::string path = (dir_ / "pipe").string();
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(OutputOfExit([&path] { LoadImage(path.c_str()); }, 3), kWrongSize);
}

TEST_F(ImageFileTest, UnreadableFileCannotBeOpened) {
  const std::string path = MakeFile("locked.bin", 1024);
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  const auto load_as_nobody = [&path] {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      std::_Exit(101);
    }
    LoadImage(path.c_str());
  };
  EXPECT_EQ(OutputOfExit(load_as_nobody, 2), kOpenFailed);
}

// Any content is taken as it is, byte i for address i.
TEST_F(ImageFileTest, ExactSizeFileIsLoadedByteForByte) {
  const std::string path = MakeFile("good.bin", 1024);
  testing::internal::CaptureStdout();
  LoadImage(path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Eeprom dump size: OK\r\n");
  for (std::size_t i = 0; i < eeprom_image.size(); ++i) {
    ASSERT_EQ(eeprom_image[i], (i * 7 + 3) & 0xFF) << "address " << i;
  }
}

}  // namespace
