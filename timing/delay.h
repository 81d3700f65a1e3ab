// SPDX-License-Identifier: MIT
// Bit timing. The bus is clocked entirely in software: every line change is
// followed by one bit delay, a counted busy loop calibrated at start-up to
// about 40 microseconds, which SetBitDelay may then scale to the chip's own
// speed. The coarser waits poll the millisecond tick counter.
#pragma once

#include <cstdint>

// Passes of the busy loop in one bit delay; 0 until calibrated, then 1 or more.
extern std::int32_t delay_count;

// Passes of the busy loop that lengthen an SCL phase of one bit delay to the
// least wait for SCL, where SetBitDelay was given one longer than the bit
// delay; 0 otherwise.
extern std::int32_t scl_hold_count;

// The bit delay calibration aims at, in microseconds: the 24RF08's.
inline constexpr double kCalibratedBitDelayMicroseconds = 40.0;

// Scales delay_count from the calibrated 40 µs to a bit delay of about
// microseconds, then times it on the microsecond clock and lengthens it
// until no stretch of delays comes out shorter than asked, by at most a
// doubling a round: a calibration that something disturbed keeps a count
// that is short (the plain chips' is not checked at 40 µs), and a delay of
// 5 µs has no room to spare. One more than twice too long is shortened. Interference only lengthens
// a stretch, so the shortest one shows what the delay really takes. scl_hold_count then makes up
// the rest of scl_microseconds where that is longer: the timed count, scaled.
void SetBitDelay(double microseconds, double scl_microseconds);

// Calibration stops once the long loop of a trial takes more than this
// many milliseconds: the trials double, so the whole takes about twice it.
inline constexpr std::uint32_t kMinimumTrialMs = 300;

// The plain chips' shorter trials: their bit delay is then timed on the
// microsecond clock and lengthened until none comes out short
// (SetBitDelay), so a count a few per cent off costs nothing but a few per
// cent of the bus's speed, and the start-up is shorter by half a second.
inline constexpr std::uint32_t kPlainChipTrialMs = 50;

// Measures the busy loop against the tick counter and sets delay_count.
void CalibrateDelay(std::uint32_t minimum_trial_ms = kMinimumTrialMs);

// CalibrateDelay, then a check of its result against the tick counter. A
// calibration that something disturbed (the process stopped for a while,
// other work competing for the processor) measures the busy loop slower than
// it is, and its bit delays come out too short for the chip and the
// interface circuit. A process held up while the short loop was timed
// makes the count far too large instead, and the delays milliseconds long.
// While the delays time more than 10 % short of 40 µs or more than twice
// as long, calibration runs again, at most three more times; then the count
// whose delays came closest is kept.
void CalibrateDelayChecked();

// Times bit delays of the current delay_count for about 100 ms, in windows
// between edges of the tick counter, and gives the fastest window's delay in
// microseconds: interference can only make a window slower. 0 when the tick
// counter did not move.
double MeasureBitDelay();

// One bit delay: delay_count passes of the busy loop.
void BitDelay();

// The rest of SCL's least wait after a phase of one bit delay:
// scl_hold_count passes of the busy loop, none where that is 0.
void SclHold();

// Waits until at least ms milliseconds have passed.
void WaitTicks(std::uint32_t ms);

// Waits until the microsecond clock reads at least deadline.
void WaitUntilMicrosecond(std::uint64_t deadline);

// The wait after every EEPROM write: ends once more than 50 ms have passed,
// which covers the chip's internal write cycle.
void SettleWait();

// The same wait for a caller that may end it early, as the chip's
// acknowledge polling does: SettleStart notes the tick counter when the wait
// begins, and SettleOver is true from the moment SettleWait would have
// returned, counted from that reading.
std::uint32_t SettleStart();
bool SettleOver(std::uint32_t noted);

// Rounds to the nearest integer, halves to even.
std::int64_t RoundHalfEven(double value);
