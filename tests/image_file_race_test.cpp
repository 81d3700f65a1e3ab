// SPDX-License-Identifier: MIT
// The dump file changing under the image loader: another program cuts it
// short between the size query and the read, or the size query itself
// fails. The platform's file layer is replaced here by one that opens the
// real file but lets the test act between the loader's steps. Either way the
// run must end at once with a report on standard error and status 1, with
// no closing prompt: the chip must never get a half-filled image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "eeprom/image_file.h"
#include "platform/platform.h"

namespace {

// What the file layer does when asked for the size: report the size the file
// has, then truncate it to shrink_to bytes; or fail with EIO.
bool size_query_fails = false;
std::string shrinking_file;
off_t shrink_to = 0;

}  // namespace

bool NamesExistingFile(const char* name) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(name, ignored);
}

std::FILE* OpenForReading(const char* name) {
  return std::fopen(name, "rb");
}

std::int64_t FileSize(std::FILE* file) {
  if (size_query_fails) {
    errno = EIO;
    return -1;
  }
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || truncate(shrinking_file.c_str(), shrink_to) != 0) {
    return -1;
  }
  return static_cast<std::int64_t>(status.st_size);
}

namespace {

class ImageFileRace : public testing::Test {
 protected:
  void SetUp() override {
    size_query_fails = false;
    shrink_to = 0;
    const std::string stem = testing::TempDir() + "ebrilo_race_" + std::to_string(getpid());
    shrinking_file = stem + ".bin";
    output_file_ = stem + ".out";
    std::ofstream(shrinking_file, std::ios::binary) << std::string(1024, 'd');
  }

  void TearDown() override {
    std::filesystem::remove(shrinking_file);
    std::filesystem::remove(output_file_);
  }

  // In the death test's child: standard output to a file, end of input at
  // the prompt (which must not be reached), then the loader.
  void Load() const {
    const int output = open(output_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int input = open("/dev/null", O_RDONLY);
    dup2(output, STDOUT_FILENO);
    dup2(input, STDIN_FILENO);
    ConsoleInit();
    LoadImage(shrinking_file.c_str());
  }

  std::string Output() const {
    std::ifstream file(output_file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  std::string output_file_;
};

TEST_F(ImageFileRace, FileCutShortBeforeTheReadEndsTheRun) {
  for (const off_t size : {0, 1, 512, 1023}) {
    SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
    shrink_to = size;
    std::ofstream(shrinking_file, std::ios::binary) << std::string(1024, 'd');
    EXPECT_EXIT(Load(), testing::ExitedWithCode(1),
                "^ebrilo: cannot read the dump file: Input/output error\r\n$");
    EXPECT_EQ(Output(), "Eeprom dump size: OK\r\n");
  }
}

TEST_F(ImageFileRace, FailedSizeQueryEndsTheRun) {
  size_query_fails = true;
  EXPECT_EXIT(Load(), testing::ExitedWithCode(1),
              "^ebrilo: cannot get the size of the dump file: Input/output error\r\n$");
  EXPECT_EQ(Output(), "");
}

}  // namespace
