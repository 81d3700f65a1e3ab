// SPDX-License-Identifier: MIT
#include "tests/fakes/fake_clock.h"

#include "platform/platform.h"
#include "timing/delay.h"

std::deque<std::uint32_t> fake_tick_queue;
std::uint32_t fake_tick_next = 0;
std::uint32_t fake_tick_step = 1;
std::string fake_clock_events;
std::vector<std::uint32_t> fake_tick_readings;
std::vector<std::int32_t> fake_delay_count_at_read;
std::uint64_t fake_microseconds = 0;
std::uint64_t fake_microsecond_step = 1;

void FakeClockReset() {
  fake_tick_queue.clear();
  fake_tick_next = 0;
  fake_tick_step = 1;
  fake_clock_events.clear();
  fake_tick_readings.clear();
  fake_delay_count_at_read.clear();
  fake_microseconds = 0;
  fake_microsecond_step = 1;
}

std::uint64_t MicrosecondCount() {
  const std::uint64_t reading = fake_microseconds;
  fake_microseconds += fake_microsecond_step;
  return reading;
}

std::uint32_t TickCount() {
  std::uint32_t reading = fake_tick_next;
  if (fake_tick_queue.empty()) {
    fake_tick_next += fake_tick_step;
  } else {
    reading = fake_tick_queue.front();
    fake_tick_queue.pop_front();
  }
  fake_clock_events += 'T';
  fake_tick_readings.push_back(reading);
  fake_delay_count_at_read.push_back(delay_count);
  return reading;
}

void PumpMessages() {
  fake_clock_events += 'P';
}
