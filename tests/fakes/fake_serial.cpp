// SPDX-License-Identifier: MIT
#include "tests/fakes/fake_serial.h"

#include "platform/platform.h"

std::vector<PortCall> fake_port_calls;
std::string fake_port_mode;
std::deque<std::int32_t> fake_cts_queue;
CtsRule fake_cts_rule = CtsRule::Constant;
std::int32_t fake_cts_constant = 0;
bool fake_port_failed = false;
std::size_t fake_port_fails_at_call = 0;

namespace {

std::int32_t last_dtr = 0;

}  // namespace

void FakeSerialReset() {
  fake_port_calls.clear();
  fake_port_mode.clear();
  fake_cts_queue.clear();
  fake_cts_rule = CtsRule::Constant;
  fake_cts_constant = 0;
  fake_port_failed = false;
  fake_port_fails_at_call = 0;
  last_dtr = 0;
}

std::string FakePortTrace() {
  std::string trace;
  for (const PortCall& call : fake_port_calls) {
    if (!trace.empty()) {
      trace += ' ';
    }
    switch (call.op) {
      case PortOp::Open:
        trace += "open";
        break;
      case PortOp::Close:
        trace += "close";
        break;
      case PortOp::Dtr:
        trace += 'D';
        trace += std::to_string(call.level);
        break;
      case PortOp::Rts:
        trace += 'R';
        trace += std::to_string(call.level);
        break;
      case PortOp::Cts:
        trace += "C";
        break;
    }
  }
  return trace;
}

std::int32_t OPENCOM(const char* mode) {
  fake_port_mode = mode;
  fake_port_calls.push_back({PortOp::Open, 0});
  return 0;
}

std::int32_t CLOSECOM() {
  fake_port_calls.push_back({PortOp::Close, 0});
  return 0;
}

std::int32_t DTR(std::int32_t level) {
  last_dtr = level;
  fake_port_calls.push_back({PortOp::Dtr, level});
  return 0;
}

std::int32_t RTS(std::int32_t level) {
  fake_port_calls.push_back({PortOp::Rts, level});
  return 0;
}

std::int32_t CTS() {
  std::int32_t answer = fake_cts_constant;
  if (!fake_cts_queue.empty()) {
    answer = fake_cts_queue.front();
    fake_cts_queue.pop_front();
  } else if (fake_cts_rule == CtsRule::FollowsDtr) {
    answer = last_dtr != 0 ? 1 : 0;
  } else if (fake_cts_rule == CtsRule::OpposesDtr) {
    answer = last_dtr != 0 ? 0 : 1;
  }
  fake_port_calls.push_back({PortOp::Cts, answer});
  return answer;
}

std::string PortDevice(const char*) {
  return "/dev/ttyFAKE";
}

bool PortFailed() {
  return fake_port_failed ||
         (fake_port_fails_at_call != 0 && fake_port_calls.size() >= fake_port_fails_at_call);
}
