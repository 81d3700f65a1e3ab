// SPDX-License-Identifier: MIT
#include "platform/interruption_posix.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kLeftovers = 2;
constexpr std::size_t kTextLimit = 200;

// Each path is written only while the signals are held, and marked pending
// only then: the handler, which may run between any two instructions
// elsewhere, reads a path only when it is pending.
std::array<std::string, kLeftovers> paths;
std::array<volatile std::sig_atomic_t, kLeftovers> pending{};

// The line an interrupted job leaves, kept in fixed arrays that the handler
// can read without allocating; written only while the signals are held.
struct FixedText {
  std::array<char, kTextLimit> bytes{};
  std::size_t size = 0;
};
FixedText head;
FixedText tail;
volatile std::sig_atomic_t saying = 0;
volatile std::sig_atomic_t count = 0;

bool handler_installed = false;
// What each signal did before the handler was installed: the default action,
// or the handler of a simulated port, which passes the signal on in turn.
std::array<struct sigaction, std::size(kInterruptions)> earlier_actions{};
// The signal mask from before HoldInterruptions: signals the program was
// started with blocked stay blocked.
sigset_t mask_before_hold;

void Copy(std::string_view text, FixedText& to) {
  to.size = std::min(text.size(), to.bytes.size());
  std::copy_n(text.begin(), to.size, to.bytes.begin());
}

char* Append(char* at, const FixedText& text) {
  return std::copy_n(text.bytes.begin(), text.size, at);
}

// Only write(2) and plain copies: the handler may have stopped the program
// in the middle of stdio or of an allocation.
void SayInterrupted() {
  std::array<char, 2 * kTextLimit + 32> line{};
  constexpr std::string_view kPrefix = "ebrilo: ";
  char* end = std::copy(kPrefix.begin(), kPrefix.end(), line.begin());
  end = Append(end, head);
  std::array<char, 12> digits{};
  std::size_t used = 0;
  for (long value = count < 0 ? 0 : count; used == 0 || value > 0; value /= 10) {
    digits[used++] = static_cast<char>('0' + value % 10);
  }
  end = std::reverse_copy(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(used), end);
  end = Append(end, tail);
  *end++ = '\r';
  *end++ = '\n';
  const char* next = line.data();
  while (next < end) {
    const ssize_t put = write(STDERR_FILENO, next, static_cast<std::size_t>(end - next));
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return;
    }
    next += put;
  }
}

// The signal is blocked while the handler runs, so raising it again hands it
// to the earlier action once the handler returns: the process ends just as
// the signal would have ended it without the handler.
void OnInterruption(int signal_number) {
  const int saved_errno = errno;
  if (saying != 0) {
    SayInterrupted();
  }
  for (std::size_t index = 0; index < kLeftovers; ++index) {
    if (pending[index] != 0) {
      unlink(paths[index].c_str());
    }
  }
  for (std::size_t index = 0; index < std::size(kInterruptions); ++index) {
    if (kInterruptions[index] == signal_number) {
      sigaction(signal_number, &earlier_actions[index], nullptr);
    }
  }
  raise(signal_number);
  errno = saved_errno;
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
  action.sa_handler = OnInterruption;
  action.sa_mask = InterruptionSet();
  for (std::size_t index = 0; index < std::size(kInterruptions); ++index) {
    if (sigaction(kInterruptions[index], nullptr, &earlier_actions[index]) == 0 &&
        earlier_actions[index].sa_handler != SIG_IGN) {
      sigaction(kInterruptions[index], &action, nullptr);
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

void SayWhenInterrupted(std::string_view head_text, std::string_view tail_text) {
  HoldInterruptions();
  InstallHandler();
  Copy(head_text, head);
  Copy(tail_text, tail);
  count = 0;
  saying = 1;
  AllowInterruptions();
}

void CountForInterruption(int value) {
  count = value;
}

void SayNothingWhenInterrupted() {
  saying = 0;
}
