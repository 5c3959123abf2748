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
    // wake-up latency, so that the spin, not the wake-up, ends the wait. Chosen from the margin
    // table of bench_phase_timing: on this 2-core machine at load 3, 150 us gave an excess p99
    // of 55 us and 200 us one of 36 us (the goal is under 50); the spin costs about the margin
    // less the wake-up latency per phase, some 150-180 us.
    std::int64_t spin_margin_ns = 200'000;
    // Work starts only while at least this much of the wait is left, so that it is over well
    // before the spin: a repaint of the whole window (after an expose) took 8 ms at the median
    // and 26 ms at worst under Xvfb with the machine at load 8; a few labels take 0.1 ms.
    std::int64_t work_min_remaining_ns = 40'000'000;
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
