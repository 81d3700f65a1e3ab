// SPDX-License-Identifier: MIT
// A scripted millisecond tick counter, microsecond clock and message queue, linked into the unit
// tests in place of the real ones. Each read takes the next queued reading;
// once the queue is empty, reads follow a step rule: a start value, then that
// much more per read (a step of 0 is a counter that has stalled).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

extern std::deque<std::uint32_t> fake_tick_queue;
extern std::uint32_t fake_tick_next;
extern std::uint32_t fake_tick_step;

// What the waits did, in order: 'T' for a tick read, 'P' for a turn of the
// message queue.
extern std::string fake_clock_events;

// Every reading handed out, and delay_count at the moment of each read (which
// shows the busy-loop length calibration was trying at the time).
extern std::vector<std::uint32_t> fake_tick_readings;
extern std::vector<std::int32_t> fake_delay_count_at_read;

// The microsecond clock: each read gives the value, then moves it on by the
// step (1: every port call looks as fast as a UART's).
extern std::uint64_t fake_microseconds;
extern std::uint64_t fake_microsecond_step;

// No queued readings, reads give 0, 1, 2, ..., nothing recorded.
void FakeClockReset();
