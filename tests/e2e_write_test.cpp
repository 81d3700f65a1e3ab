// SPDX-License-Identifier: MIT
// Whole runs against the simulated chip: what the program prints, how it
// ends, and what the chip holds afterwards must all tell the same story.
#include "tests/e2e/e2e_support.h"

namespace {

constexpr std::uint8_t kErased = 0xFF;

class WriteRun : public ScratchDirectory {
 protected:
  // Writes image as dump.bin and runs the program on it with the given
  // switches and simulator settings; the chip's data ends up in chip.bin.
  ProgramRun WriteImage(const Bytes& image, std::vector<std::string> switches,
                        const std::string& sim = "") {
    WriteFile("dump.bin", image);
    switches.insert(switches.begin(), "dump.bin");
    return Run({.arguments = switches, .sim = Settings(sim)});
  }

  ProgramRun ResetApp(std::vector<std::string> switches, const std::string& sim = "") {
    switches.insert(switches.begin(), "/P");
    return Run({.arguments = switches, .sim = Settings(sim)});
  }

  static std::string Settings(const std::string& sim) {
    return "save=chip.bin;app_save=app.bin" + (sim.empty() ? "" : ";" + sim);
  }

  Bytes Chip() const {
    return ReadFile("chip.bin");
  }
  Bytes App() const {
    return ReadFile("app.bin");
  }
};

std::string ImageHead(const char* mode_line) {
  return RunHead() + Lines({"Eeprom dump size: OK", "", mode_line});
}

// The image with pages (numbered from 1) left at their old contents.
Bytes WithPagesErased(Bytes image, std::initializer_list<int> pages_from_one_up_to) {
  const auto [first, last] =
      std::pair(*pages_from_one_up_to.begin(), *(pages_from_one_up_to.end() - 1));
  for (int page = first; page <= last; ++page) {
    std::fill_n(image.begin() + (page - 1) * 16, 16, kErased);
  }
  return image;
}

TEST_F(WriteRun, PageModeWritesTheWholeImage) {
  const Bytes image = PatternImage(2);
  const ProgramRun run = WriteImage(image, {});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      ImageHead("Page mode. Writing eeprom...") + Lines({Marks(64), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), image);
}

TEST_F(WriteRun, ByteModeWritesTheWholeImage) {
  const Bytes image = PatternImage(3);
  const ProgramRun run = WriteImage(image, {"/b"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      ImageHead("Byte mode. Writing eeprom...") + Lines({Marks(8), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), image);
}

// The third page is not acknowledged: the write stops there, with error 6,
// and pages 3 to 64 are never sent.
TEST_F(WriteRun, PageModeStopsAtTheFirstFailure) {
  const Bytes image = PatternImage(4);
  const ProgramRun run = WriteImage(image, {}, "nack=3");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      ImageHead("Page mode. Writing eeprom...") +
                          Lines({">>error at 168:32", "", "ERROR: Write eeprom failed!"}) +
                          Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), WithPagesErased(image, {3, 64}));
}

// At speed 20 the chip's write cycle still runs in simulated time: one
// longer than the program's wait after a write refuses the next page. It is
// far longer, so that the process being held up for a while (which at speed
// 20 costs 20 times as much simulated time) cannot let the cycle end first.
TEST_F(WriteRun, WriteCycleLongerThanTheWaitFailsTheNextPage) {
  const Bytes image = PatternImage(9);
  const ProgramRun run = WriteImage(image, {}, "write_ms=500;speed=20");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      ImageHead("Page mode. Writing eeprom...") +
                          Lines({">error at 168:16", "", "ERROR: Write eeprom failed!"}) +
                          Closing());
  EXPECT_EQ(run.status, 6);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), WithPagesErased(image, {2, 64}));
}

// With /E the failure is listed and the other 61 pages are still written.
TEST_F(WriteRun, PageModeWithIgnoreErrorsWritesTheRest) {
  const Bytes image = PatternImage(5);
  const ProgramRun run = WriteImage(image, {"/E"}, "nack=3");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      ImageHead("Page mode. Writing eeprom...") +
                          Lines({">>error at 168:32", Marks(61), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), WithPagesErased(image, {3, 3}));
}

// A failed data byte inside a page: the page is reported failed.
TEST_F(WriteRun, PageModeDataByteNotAcknowledged) {
  const Bytes image = PatternImage(6);
  const ProgramRun run = WriteImage(image, {"/E"}, "nack=64:7");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      ImageHead("Page mode. Writing eeprom...") +
                          Lines({Marks(63) + "error at 174:240", "", "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  const Bytes chip = Chip();
  ASSERT_EQ(chip.size(), 1024U);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 1008, chip.begin()));
}

// Byte 127 completes the first 128-byte stretch; its failure leaves no mark.
TEST_F(WriteRun, ByteModeFailureSuppressesItsMark) {
  const Bytes image = PatternImage(7);
  const ProgramRun run = WriteImage(image, {"/B"}, "nack=128");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      ImageHead("Byte mode. Writing eeprom...") +
                          Lines({"error at 127 168:127", "", "ERROR: Write eeprom failed!"}) +
                          Closing());
  EXPECT_EQ(run.status, 6);
  Bytes expected(1024, kErased);
  std::copy_n(image.begin(), 127, expected.begin());
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), expected);
}

TEST_F(WriteRun, AppResetSetsTenRegisters) {
  const ProgramRun run = ResetApp({"/B", "/E"});
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      RunHead() + Lines({"", "Resetting APP...", "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  const Bytes app = App();
  ASSERT_GE(app.size(), 10U);
  EXPECT_EQ(Bytes(app.begin(), app.begin() + 10), Bytes(10, 0xFF));
}

// A chip that answers the probe but never its APP block: ten error lines,
// and the run still completes.
TEST_F(WriteRun, AppResetListsEveryFailureAndCompletes) {
  const ProgramRun run = ResetApp({}, "deaf_app");
  std::string expected = RunHead() + Lines({"", "Resetting APP..."});
  for (int index = 0; index < 10; ++index) {
    expected += Lines({"error at " + std::to_string(index) + " 184:" + std::to_string(index)});
  }
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), expected + Lines({"Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
}

// /F changes only the waits after the writes: output, status and chip are
// as without it in byte mode, with /E and a refused page (transaction 1, the
// first page, comes before any poll), and with an APP block that never
// answers, where every wait runs to the fixed wait's end.
TEST_F(WriteRun, FastWritesPrintAndStoreAsWithout) {
  const Bytes image = PatternImage(11);
  ProgramRun run = WriteImage(image, {"/B", "/F"});
  EXPECT_PRED_FORMAT2(
      TextsMatch, MaskDelayCount(run.out),
      ImageHead("Byte mode. Writing eeprom...") + Lines({Marks(8), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), image);

  const Bytes other = PatternImage(12);
  run = WriteImage(other, {"/f", "/E"}, "nack=1");
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                      ImageHead("Page mode. Writing eeprom...") +
                          Lines({"error at 168:0", Marks(63), "Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), WithPagesErased(other, {1, 1}));

  run = ResetApp({"/F"}, "deaf_app");
  std::string expected = RunHead() + Lines({"", "Resetting APP..."});
  for (int index = 0; index < 10; ++index) {
    expected += Lines({"error at " + std::to_string(index) + " 184:" + std::to_string(index)});
  }
  EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out), expected + Lines({"Done."}) + Closing());
  EXPECT_EQ(run.status, 0);
}

// Each inversion switch works with a circuit that inverts that line.
TEST_F(WriteRun, InversionSwitchesMatchInvertingCircuits) {
  struct Case {
    const char* circuit;
    std::vector<std::string> switches;
  };
  const Case cases[] = {
      {"invert=rts", {"/X"}},
      {"invert=dtr", {"/d"}},
      {"invert=cts", {"/I"}},
      {"invert=rts,dtr,cts", {"/x", "/D", "/i"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.circuit);
    const ProgramRun run = ResetApp(c.switches, c.circuit);
    EXPECT_PRED_FORMAT2(TextsMatch, MaskDelayCount(run.out),
                        RunHead() + Lines({"", "Resetting APP...", "Done."}) + Closing());
    EXPECT_EQ(run.status, 0);
  }
  const Bytes image = PatternImage(8);
  const ProgramRun run = WriteImage(image, {"/X", "/D", "/I"}, "invert=rts,dtr,cts");
  EXPECT_EQ(run.status, 0);
  EXPECT_PRED_FORMAT2(BytesMatch, Chip(), image);
}

}  // namespace
