// SPDX-License-Identifier: MIT
#include "platform/interruption_posix.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstddef>

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kLeftovers = 2;

// Each path is written only while the signals are held, and marked pending
// only then: the handler, which may run between any two instructions
// elsewhere, reads a path only when it is pending.
std::array<std::string, kLeftovers> paths;
std::array<volatile std::sig_atomic_t, kLeftovers> pending{};
bool handler_installed = false;
// The signal mask from before HoldInterruptions: signals the program was
// started with blocked stay blocked.
sigset_t mask_before_hold;

// The handler's disposition was reset to the default on entry and the signal
// is blocked while it runs, so raising it again ends the process, once the
// handler returns, just as the signal would have without the handler.
void RemoveLeftoversOnSignal(int signal_number) {
  for (std::size_t index = 0; index < kLeftovers; ++index) {
    if (pending[index] != 0) {
      unlink(paths[index].c_str());
    }
  }
  raise(signal_number);
}

sigset_t InterruptionSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : kInterruptions) {
    sigaddset(&set, signal_number);
  }
  return set;
}

void InstallHandler() {
  if (handler_installed) {
    return;
  }
  handler_installed = true;
  struct sigaction action {};
  action.sa_handler = RemoveLeftoversOnSignal;
  action.sa_mask = InterruptionSet();
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  for (const int signal_number : kInterruptions) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      sigaction(signal_number, &action, nullptr);
    }
  }
}

std::size_t IndexOf(Leftover leftover) {
  return leftover == Leftover::OutputTemporary ? 0 : 1;
}

}  // namespace

void HoldInterruptions() {
  const sigset_t interruptions = InterruptionSet();
  sigprocmask(SIG_BLOCK, &interruptions, &mask_before_hold);
}

void AllowInterruptions() {
  sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

void RemoveWhenInterrupted(Leftover leftover, const std::string& path) {
  InstallHandler();
  paths[IndexOf(leftover)] = path;
  pending[IndexOf(leftover)] = 1;
}

void KeepWhenInterrupted(Leftover leftover) {
  pending[IndexOf(leftover)] = 0;
}
