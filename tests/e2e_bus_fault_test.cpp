// SPDX-License-Identifier: MIT
// The bus going wrong under a write, in page mode, byte mode and the APP
// reset: opening faults, a chip that holds SDA low, refused bytes at the
// first, a middle and the last transaction, a chip that goes away, a port
// that vanishes, a write cycle longer than the wait, and circuits wired the
// other way round. Whatever happens, each failed transaction is listed, a
// run without /E stops with error 6 at the first one, and the chip holds
// exactly what the output reports as written over its old contents.
#include "tests/e2e/fault_run.h"

namespace {

constexpr int kPageSize = 16;

struct WriteCase {
  std::string faults;
  std::vector<std::string> switches;
  int status;
  std::vector<int> failed;  // pages or addresses listed as failed
  // Data bytes of each failed page that the chip acknowledged, and so
  // stored at the STOP, before the byte it refused.
  int stored_of_failed = 0;
};

std::string Describe(const std::string& faults, const std::vector<std::string>& switches) {
  std::string text = "EBRILO_SIM '" + faults + "', switches";
  for (const std::string& word : switches) {
    text += " " + word;
  }
  return text;
}

class BusFault : public FaultRun {
 protected:
  // Runs the case, checks output and chip against each other, and then
  // against what the case expects, down to each byte of the chip.
  void ExpectWrite(const WriteCase& c, std::uint32_t seed) {
    SCOPED_TRACE(Describe(c.faults, c.switches));
    const ImageWrite write =
        WriteImage(RandomBytes(seed, 1024), RandomBytes(seed + 1, 1024), c.switches, c.faults);
    WriteReport report;
    EXPECT_EQ(CheckImageWrite(write, report), "");
    EXPECT_EQ(write.run.status, c.status) << write.run.err;
    EXPECT_EQ(report.failed, c.failed);
    EXPECT_PRED_FORMAT2(BytesMatch, write.after, ExpectedChip(write, report, c.stored_of_failed));
  }

  // Faults whose failures depend on timing: the output and the chip must
  // still agree, and at least one failure must be listed.
  void ExpectSomeFailure(const std::string& faults, const std::vector<std::string>& switches,
                         int status, std::uint32_t seed) {
    SCOPED_TRACE(Describe(faults, switches));
    const ImageWrite write =
        WriteImage(RandomBytes(seed, 1024), RandomBytes(seed + 1, 1024), switches, faults);
    WriteReport report;
    EXPECT_EQ(CheckImageWrite(write, report), "");
    EXPECT_EQ(write.run.status, status);
    EXPECT_FALSE(report.failed.empty());
  }

  void ExpectAppReset(const std::string& faults, const std::vector<std::string>& switches,
                      int status, const std::optional<std::vector<int>>& failed,
                      std::uint32_t seed) {
    SCOPED_TRACE(Describe(faults, switches));
    const Bytes before = RandomBytes(seed, 16);
    Bytes after;
    const ProgramRun run = ResetApp(before, switches, faults, after);
    EXPECT_EQ(CheckAppReset(run, before, after, failed), "");
    EXPECT_EQ(run.status, status);
  }

  // Nothing answers, or the port is gone, before the first write: error 4 or
  // 5 and the chip untouched. With direct polarity a held SDA already fails
  // the loop-back check.
  void ExpectOpeningFaults(const std::vector<std::string>& switches) {
    const std::pair<const char*, int> faults[] = {
        {"circuit=none", 4},   {"circuit=loopback", 5}, {"chip=absent", 5}, {"stuck=5", 4},
        {"port_fail=open", 4}, {"port_fail=0", 5},      {"remove=0", 5},    {"nack=0", 5},
    };
    for (const auto& [fault, status] : faults) {
      ExpectWrite({fault, switches, status, {}}, 10);
    }
  }

  static Bytes ExpectedChip(const ImageWrite& write, const WriteReport& report,
                            int stored_of_failed) {
    Bytes chip = write.before;
    const int unit_size = write.byte_mode ? 1 : kPageSize;
    for (int unit = 0; unit < report.attempted; ++unit) {
      const bool failed =
          std::find(report.failed.begin(), report.failed.end(), unit) != report.failed.end();
      const int stored = failed ? (write.byte_mode ? 0 : stored_of_failed) : unit_size;
      std::copy_n(write.image.begin() + unit * unit_size, stored, chip.begin() + unit * unit_size);
    }
    return chip;
  }
};

std::vector<int> Range(int first, int last) {
  std::vector<int> units;
  for (int unit = first; unit <= last; ++unit) {
    units.push_back(unit);
  }
  return units;
}

TEST_F(BusFault, OpeningFaultsInPageMode) {
  ExpectOpeningFaults({"/E"});
}

TEST_F(BusFault, OpeningFaultsInByteMode) {
  ExpectOpeningFaults({"/B", "/E"});
}

// The APP reset's own opening faults, beyond the circuits of e2e_bus_test.
TEST_F(BusFault, OpeningFaultsInAppMode) {
  ExpectAppReset("stuck=5", {}, 4, std::nullopt, 11);
  ExpectAppReset("port_fail=open", {"/I"}, 4, std::nullopt, 12);
  ExpectAppReset("port_fail=0", {}, 5, std::nullopt, 13);
}

// SDA held low from power-up, behind a circuit that inverts CTS (/I): the
// loop-back check drives SDA low itself and passes, so the probe's clearing
// pulses are reached. Up to nine pulses free the chip; a chip held for 11
// to 19 clocks is freed in the middle of the probe's control byte, which it
// then misses (error 5); at 20 the held line gives the probe's acknowledge
// and the chip is free by the writes. Held longer, the writes find SDA low
// before their START: each such page fails, whatever acknowledges the low
// line seemed to give, until its clocks have freed the chip.
TEST_F(BusFault, StuckDataLineInPageMode) {
  const std::string inverted = "invert=cts;";
  const WriteCase cases[] = {
      {inverted + "stuck=1", {"/I"}, 0, {}},
      {inverted + "stuck=9", {"/I"}, 0, {}},
      {inverted + "stuck=20", {"/I"}, 0, {}},
      {inverted + "stuck=15", {"/I"}, 5, {}},
      {inverted + "stuck=200", {"/I", "/E"}, 0, {0, 1}},
      {inverted + "stuck=100000000", {"/I"}, 6, {0}},
  };
  for (const WriteCase& c : cases) {
    ExpectWrite(c, 20);
  }
}

TEST_F(BusFault, StuckDataLineInByteModeAndAppMode) {
  const std::string inverted = "invert=cts;";
  // A refused fifth transaction ends each byte-mode run early. The chip
  // numbers the transactions it sees: held through the probe's control
  // byte, it counts the first write as transaction 0.
  ExpectWrite({inverted + "stuck=1;nack=5", {"/B", "/I"}, 6, {4}}, 21);
  ExpectWrite({inverted + "stuck=9;nack=5", {"/B", "/I"}, 6, {4}}, 21);
  ExpectWrite({inverted + "stuck=20;nack=5", {"/B", "/I"}, 6, {5}}, 21);
  ExpectWrite({inverted + "stuck=100000000", {"/B", "/I"}, 6, {0}}, 22);
  for (const char* stuck : {"stuck=1", "stuck=9", "stuck=20"}) {
    ExpectAppReset(inverted + stuck, {"/I"}, 0, std::vector<int>{}, 23);
  }
  ExpectAppReset(inverted + "stuck=100000000", {"/I"}, 0, Range(0, 9), 24);
}

// A refused control byte or word address stores nothing of its page; a
// refused data byte (byte 3 is the first) leaves the bytes before it stored.
TEST_F(BusFault, RefusedBytesInPageMode) {
  const WriteCase cases[] = {
      {"nack=1", {}, 6, {0}},
      {"nack=1:10", {}, 6, {0}, 7},
      {"nack=1:2", {"/E"}, 0, {0}},
      {"nack=32", {}, 6, {31}},
      {"nack=32:10", {"/E"}, 0, {31}, 7},
      {"nack=64", {"/E"}, 0, {63}},
      {"nack=64:18", {}, 6, {63}, 15},
  };
  for (const WriteCase& c : cases) {
    ExpectWrite(c, 30);
  }
}

TEST_F(BusFault, RefusedBytesInByteModeStopTheRun) {
  const WriteCase cases[] = {
      {"nack=1", {"/B"}, 6, {0}},
      {"nack=1:3", {"/B"}, 6, {0}},
      {"nack=21:2", {"/B"}, 6, {20}},
  };
  for (const WriteCase& c : cases) {
    ExpectWrite(c, 31);
  }
}

// The one whole byte-mode run of these suites: with /E, the first, a
// middle and the last byte refused at each stage; the last stretch's mark
// is missing with its last byte.
TEST_F(BusFault, RefusedBytesInByteModeWithIgnoreErrors) {
  ExpectWrite({"nack=1;nack=513:2;nack=1024:3", {"/B", "/E"}, 0, {0, 512, 1023}}, 32);
}

TEST_F(BusFault, RefusedBytesInAppMode) {
  ExpectAppReset("nack=1;nack=5:2;nack=10:3", {"/E"}, 0, std::vector<int>{0, 4, 9}, 33);
}

// The chip is gone from transaction K on (transaction 0 is the probe).
TEST_F(BusFault, ChipRemovedMidRun) {
  const WriteCase cases[] = {
      {"remove=30", {}, 6, {29}},
      {"remove=60", {"/E"}, 0, Range(59, 63)},
      {"remove=10", {"/B"}, 6, {9}},
  };
  for (const WriteCase& c : cases) {
    ExpectWrite(c, 40);
  }
  ExpectAppReset("remove=8", {}, 0, Range(7, 9), 41);
}

// The port vanishes in transaction K (a USB adapter pulled out): every line
// call fails from then on and CTS reads as released in either polarity,
// which no acknowledge can be taken from.
TEST_F(BusFault, PortVanishesMidRun) {
  const WriteCase cases[] = {
      {"port_fail=20", {}, 6, {19}},
      {"port_fail=50", {"/E"}, 0, Range(49, 63)},
      {"invert=cts;port_fail=50", {"/E", "/I"}, 0, Range(49, 63)},
      {"port_fail=6", {"/B"}, 6, {5}},
  };
  for (const WriteCase& c : cases) {
    ExpectWrite(c, 50);
  }
  ExpectAppReset("port_fail=4", {}, 0, Range(3, 9), 51);
}

// A write cycle of 200 ms outlasts the 51 ms wait: the chip ignores its
// control byte while busy. Which transactions meet a busy chip depends on
// timing; the output must still list each of them. /F polls until the same
// limit and then goes on alike. The simulated clock runs only 5 times faster
// than real time here: on a busy machine, and under Wine, the program's own
// time between a page and the next then stays well inside the cycle.
TEST_F(BusFault, WriteCycleLongerThanTheWait) {
  const std::string faults = "write_ms=200;speed=5";
  ExpectSomeFailure(faults, {}, 6, 60);
  ExpectSomeFailure(faults, {"/E"}, 0, 61);
  ExpectSomeFailure(faults, {"/E", "/F"}, 0, 64);
  ExpectSomeFailure(faults, {"/B"}, 6, 62);
  ExpectAppReset(faults, {}, 0, std::nullopt, 63);
}

// Each inversion switch without the inverting circuit, and each inverting
// circuit without its switch: the check or the probe fails, nothing is
// written.
TEST_F(BusFault, WronglyWiredCircuits) {
  const std::tuple<const char*, std::vector<std::string>, int> wirings[] = {
      {"", {"/X"}, 5},       {"", {"/D"}, 4},       {"", {"/I"}, 4},
      {"invert=rts", {}, 5}, {"invert=dtr", {}, 4}, {"invert=cts", {}, 4},
  };
  for (const auto& [circuit, switches, status] : wirings) {
    for (const char* mode : {"/E", "/B"}) {
      std::vector<std::string> with_mode = switches;
      with_mode.push_back(mode);
      ExpectWrite({circuit, with_mode, status, {}}, 70);
    }
  }
  ExpectAppReset("", {"/X"}, 5, std::nullopt, 71);
  ExpectAppReset("", {"/D"}, 4, std::nullopt, 72);
  ExpectAppReset("invert=rts", {}, 5, std::nullopt, 73);
  ExpectAppReset("invert=dtr", {}, 4, std::nullopt, 74);
}

}  // namespace
