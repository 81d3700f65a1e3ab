// SPDX-License-Identifier: MIT
// The line an interrupted job leaves on Windows. Ctrl-C, Ctrl-Break, a closed
// console window, logoff and shutdown reach the program as console control
// events, each handled on a thread of its own while the job goes on; the
// texts are therefore set before the handler may read them, and the count is
// atomic.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace {

constexpr std::size_t kTextLimit = 200;

struct FixedText {
  std::array<char, kTextLimit> bytes{};
  std::size_t size = 0;
};
FixedText head;
FixedText tail;
std::atomic<bool> saying{false};
std::atomic<int> count{0};
bool handler_installed = false;

void Copy(std::string_view text, FixedText& to) {
  to.size = std::min(text.size(), to.bytes.size());
  std::copy_n(text.begin(), to.size, to.bytes.begin());
}

// Says the line once, whichever events come, and hands each event on
// (FALSE) to the next handler and finally the system's, which ends the
// process as it would have.
BOOL WINAPI SayOnControlEvent(DWORD) {
  if (saying.exchange(false)) {
    std::string line = "ebrilo: ";
    line.append(head.bytes.data(), head.size);
    line += std::to_string(count.load());
    line.append(tail.bytes.data(), tail.size);
    line += "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
  }
  return FALSE;
}

}  // namespace

void SayWhenInterrupted(std::string_view head_text, std::string_view tail_text) {
  saying = false;
  Copy(head_text, head);
  Copy(tail_text, tail);
  count = 0;
  if (!handler_installed) {
    handler_installed = true;
    SetConsoleCtrlHandler(SayOnControlEvent, TRUE);
  }
  saying = true;
}

void CountForInterruption(int value) {
  count = value;
}

void SayNothingWhenInterrupted() {
  saying = false;
}
