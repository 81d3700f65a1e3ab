// SPDX-License-Identifier: MIT
// Times the line operations of a real serial port: the device named as the
// only argument, opened as the program opens COM1. Prints the nanoseconds of
// one operation, averaged over RTS and DTR changes and CTS reads.
//
// The changes never move SDA while SCL is high, so a chip on the bus sees
// clock pulses but no START or STOP. Both lines are left high, as after a run.
#include <chrono>
#include <cstdio>

#include "platform/platform.h"
#include "platform/serial_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 2000;
constexpr int kOperationsPerRound = 5;
constexpr const char* kPortMode = "COM1: baud=9600 parity=N data=8 stop=0";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: ebrilo-bench-port DEVICE\n", stderr);
    return 2;
  }
  if (OpenSerialDevice(argv[1], kPortMode) != 0) {
    std::printf("cannot open %s\n", argv[1]);
    return 1;
  }
  const Clock::time_point start = Clock::now();
  for (int round = 0; round < kRounds; ++round) {
    RTS(1);
    RTS(0);
    DTR(1);
    DTR(0);
    CTS();
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  DTR(1);
  RTS(1);
  const bool failed = PortFailed();
  CLOSECOM();
  if (failed) {
    std::printf("line operations fail on %s\n", argv[1]);
    return 1;
  }
  std::printf("%.1f\n", ns / (kRounds * kOperationsPerRound));
  return 0;
}
