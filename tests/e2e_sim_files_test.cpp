// SPDX-License-Identifier: MIT
// The simulator's own files, which every other test relies on: a path that
// cannot be written stops the run before the bus moves; a run stopped from
// outside still saves the chip, in whole pages, and closes its trace; and a
// full disk never costs the image a file held before.
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <utility>

#include "tests/e2e/e2e_support.h"

namespace {

constexpr std::ptrdiff_t kPageSize = 16;

class SimFiles : public ScratchDirectory {
 protected:
  void TearDown() override {
    if (mounted_) {
      umount2(Path("disk").c_str(), MNT_DETACH);
    }
    ScratchDirectory::TearDown();
  }

  // The names in one of the test's directories: no new file may be left
  // behind beside a target.
  std::set<std::string> Names(const std::string& name = "") const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path(name))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  bool mounted_ = false;
};

// What a run prints before it opens the port.
std::string UpToThePort() {
  return RunHead() + Lines({"Eeprom dump size: OK"});
}

TEST_F(SimFiles, UnusableFileStopsTheRunBeforeThePortOpens) {
  const Bytes old_image = PatternImage(1);
  WriteFile("dump.bin", PatternImage(2));
  WriteFile("old.bin", old_image);
  std::filesystem::create_directory(Path("folder"));
  std::set<std::string> names = {"dump.bin", "folder", "old.bin"};
  std::vector<std::pair<std::string, std::string>> cases = {
      {"save=missing/chip.bin", "cannot write 'missing/chip.bin': No such file or directory"},
      {"app_save=missing/app.bin", "cannot write 'missing/app.bin': No such file or directory"},
      {"load=old.bin;save=old.bin;trace=missing/run.vcd",
       "cannot write trace 'missing/run.vcd': No such file or directory"},
      {"save=folder", "cannot write 'folder': not a regular file"},
      {"load=missing.bin", "cannot read 'missing.bin': No such file or directory"},
      {"app_load=old.bin", "cannot read 'old.bin': not exactly 16 bytes"},
  };
  // A named pipe must neither hang the simulator nor be replaced by a file.
  if (!WindowsTarget()) {
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0);
    names.insert("pipe");
    cases.insert(cases.end(), {{"load=pipe", "cannot read 'pipe': not a regular file"},
                               {"app_save=pipe", "cannot write 'pipe': not a regular file"},
                               {"trace=pipe", "cannot write trace 'pipe': not a regular file"}});
  }
  for (const auto& [sim, error] : cases) {
    const ProgramRun run = Run({.arguments = {"dump.bin"}, .sim = sim});
    EXPECT_EQ(run.status, 125) << sim;
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), UpToThePort()) << sim;
    EXPECT_EQ(run.err, "ebrilo-sim: " + error + "\n") << sim;
  }
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("old.bin"), old_image);
  EXPECT_EQ(Names(), names);
}

// Stopped from outside during a page write, the simulator saves the chip and
// closes its trace, then ends by the signal as usual. The chip stores a page
// at the STOP of its write, so the saved chip holds the pages written so far,
// whole, and the old image after them.
TEST_F(SimFiles, StopSignalSavesWholePagesAndClosesTheTrace) {
  if (WindowsTarget()) {
    GTEST_SKIP() << "Windows has no stop signals to send";
  }
  const Bytes old_image = PatternImage(3);
  const Bytes image = PatternImage(4);
  WriteFile("dump.bin", image);
  for (const auto& [number, marks] : {std::pair{SIGINT, 5L}, {SIGTERM, 20L}, {SIGHUP, 40L}}) {
    WriteFile("chip.bin", old_image);
    const ProgramRun run = Run({.arguments = {"dump.bin"},
                                .sim = "load=chip.bin;save=chip.bin;trace=run.vcd",
                                .signal_to_send = number,
                                .signal_after = std::string(static_cast<std::size_t>(marks), '>'),
                                .speed = kSignalSpeed});
    EXPECT_EQ(run.signal, number) << run.out << run.err;
    const Bytes chip = ReadFile("chip.bin");
    ASSERT_EQ(chip.size(), image.size());
    std::ptrdiff_t written = 0;
    while (written < std::ssize(chip) &&
           std::equal(image.begin() + written, image.begin() + written + kPageSize,
                      chip.begin() + written)) {
      written += kPageSize;
    }
    EXPECT_GE(written, marks * kPageSize) << "signal " << number;
    EXPECT_LT(written, std::ssize(chip)) << "signal " << number;
    EXPECT_TRUE(std::equal(chip.begin() + written, chip.end(), old_image.begin() + written))
        << "signal " << number << ": page at " << written << " is neither old nor new";
    std::ifstream trace(Path("run.vcd"), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(trace), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(std::regex_search(text, std::regex("\n#[0-9]+\n$"))) << "trace not closed";
    EXPECT_EQ(Names(), (std::set<std::string>{"chip.bin", "dump.bin", "run.vcd"}));
  }
}

// A disk that is full from the start stops the run before the port opens; one
// with room for the chip but not for the trace still gets the chip saved.
// Either way the file that save= names holds a whole image, never less.
TEST_F(SimFiles, FullDiskNeverCutsTheSavedImageShort) {
  std::filesystem::create_directory(Path("disk"));
  if (mount("tmpfs", Path("disk").c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  mounted_ = true;
  const Bytes old_image = PatternImage(5);
  const Bytes image = PatternImage(6);
  WriteFile("dump.bin", image);
  WriteFile("disk/chip.bin", old_image);
  {
    std::ofstream filler(Path("disk/filler"), std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) {
    }
  }
  ProgramRun run = Run({.arguments = {"dump.bin"}, .sim = "load=disk/chip.bin;save=disk/chip.bin"});
  EXPECT_EQ(run.status, 125);
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), UpToThePort());
  EXPECT_EQ(run.err, "ebrilo-sim: cannot write 'disk/chip.bin': No space left on device\n");
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("disk/chip.bin"), old_image);

  std::filesystem::remove(Path("disk/filler"));
  run = Run({.arguments = {"dump.bin"},
             .sim = "load=disk/chip.bin;save=disk/chip.bin;trace=disk/run.vcd"});
  EXPECT_EQ(run.status, 125);
  EXPECT_NE(run.out.find("Done."), std::string::npos);
  // Wine gives a reason of its own for a write that fills the disk part way.
  EXPECT_TRUE(run.err.starts_with("ebrilo-sim: cannot write trace 'disk/run.vcd': ")) << run.err;
  EXPECT_PRED_FORMAT2(BytesMatch, ReadFile("disk/chip.bin"), image);
  EXPECT_EQ(Names("disk"), std::set<std::string>{"chip.bin"});
}

}  // namespace
