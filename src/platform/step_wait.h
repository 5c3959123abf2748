// step_wait.h - how a phase wait of a step reaches its deadline, shared by the real clock
// (linux/) and the virtual one (fake/), which differ only in how they read the time, sleep
// and spin. Also holds the work a long wait may do and the count of late waits.
#pragma once

#include <cstdint>

namespace step_wait {

// The primitives of one clock.
struct Clock {
    std::int64_t (*now)();
    // May return early (a signal) or late (the scheduler's wake-up latency).
    void (*sleep_until)(std::int64_t deadline_ns);
    // Returns at or after the deadline, without giving up the processor.
    void (*spin_until)(std::int64_t deadline_ns);
};

struct Tuning {
    // The spin takes over this long before the deadline. It has to cover the sleep's usual
    // wake-up latency, so that the spin, not the wake-up, ends the wait: chosen from
    // bench_phase_timing's margin table on a quiet machine, as the smallest margin whose excess
    // p99 stays within a few microseconds; the CPU cost is about the margin per phase.
    std::int64_t spin_margin_ns = 200'000;
    // Work starts only while at least this much of the wait is left; it has to cover one
    // repaint of the window with room to spare (a full repaint measured 1-3 ms under Xvfb).
    std::int64_t work_min_remaining_ns = 10'000'000;
    // And at most once in this period, about one display frame.
    std::int64_t work_period_ns = 16'000'000;
};
// The tuning in force; the benchmark varies the margin to measure its effect.
extern Tuning tuning;

// A wait that ends later than this after its deadline is counted as late.
constexpr std::int64_t LATE_NS = 1'000'000;

// Installs the work a long wait runs while far from its deadline (the window layer repaints
// there); null for none.
void set_work(void (*work)());
// Waits since the start of the program that ended more than LATE_NS after their deadline.
std::int64_t late_count();

// Returns at or after `deadline_ns` on `clock`: sleeps to the spin margin before it, running
// the installed work meanwhile when there is time for it, then spins to the deadline.
void wait_until(std::int64_t deadline_ns, const Clock& clock);

}  // namespace step_wait
