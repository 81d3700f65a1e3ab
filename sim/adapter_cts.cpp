// SPDX-License-Identifier: MIT
// CTS as a USB serial adapter reports it. Such an adapter does not read the
// modem status when the program asks: it samples the line on its own, every
// cts_period_us where it sends the status in periodic packets, and each sample
// reaches the program cts_lag_us later. A read returns the latest sample that
// has arrived; with both settings at 0 it is the line as it is now.
//
// Each change of the line is queued with the time the program first sees it:
// the next sampling instant (a multiple of the period on the simulated clock),
// plus the lag. Changes that fall between two samples are seen together at
// the later one, as only the level sampled then counts.
#include <algorithm>
#include <cstdint>
#include <deque>

#include "sim/sim_parts.h"

namespace {

struct Report {
  std::int64_t time = 0;  // simulated nanoseconds
  bool level = false;
};

std::int64_t lag_ns = 0;
std::int64_t period_ns = 0;
std::deque<Report> pending;
bool reported = false;

std::int64_t SeenAt(std::int64_t time) {
  if (period_ns > 0) {
    time = (time + period_ns - 1) / period_ns * period_ns;
  }
  return time + lag_ns;
}

}  // namespace

void CtsAttach(const SimConfig& config, bool level) {
  lag_ns = std::int64_t{config.cts_lag_us} * 1000;
  period_ns = std::int64_t{config.cts_period_us} * 1000;
  pending.clear();
  reported = level;
}

void CtsChangeLag(std::uint32_t lag_us) {
  lag_ns = std::int64_t{lag_us} * 1000;
}

void CtsLineAt(bool level, std::int64_t time) {
  // A shorter lag never lets a change overtake one made before it.
  const std::int64_t seen =
      pending.empty() ? SeenAt(time) : std::max(SeenAt(time), pending.back().time);
  if (!pending.empty() && pending.back().time == seen) {
    pending.pop_back();
  }
  const bool before = pending.empty() ? reported : pending.back().level;
  if (level != before) {
    pending.push_back({seen, level});
  }
}

bool CtsNextReport(std::int64_t until, std::int64_t& time, bool& level) {
  if (pending.empty() || pending.front().time > until) {
    return false;
  }
  time = pending.front().time;
  level = pending.front().level;
  reported = level;
  pending.pop_front();
  return true;
}
