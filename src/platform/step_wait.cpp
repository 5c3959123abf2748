// step_wait.cpp - the phase wait: sleep to a margin before the deadline, spin the rest.
//
// A sleep alone ends when the scheduler wakes the thread, tens to hundreds of microseconds
// after the deadline; reading the clock in a loop ends within a clock read of it but burns the
// processor. So the wait sleeps until `spin_margin_ns` before the deadline and spins only from
// there. A long wait also hands the spare time to the installed work (the window repaints),
// but only while `work_min_remaining_ns` or more is left, so that the work is over well before
// the spin begins and never moves the end of the wait; between two runs of the work it sleeps.
// The window layer installs that work through set_work, so the code that steps and waits
// knows nothing of the toolkit.
#include "platform/step_wait.h"

namespace step_wait {

Tuning tuning;

namespace {

void (*installed_work)() = nullptr;
std::int64_t late_waits = 0;
// The work's period runs across waits, so that a step's four waits repaint at one pace.
std::int64_t next_work_ns = 0;

}  // namespace

void set_work(void (*work)()) {
    installed_work = work;
    next_work_ns = 0;
}

std::int64_t late_count() {
    return late_waits;
}

void wait_until(std::int64_t deadline_ns, const Clock& clock) {
    const std::int64_t spin_from = deadline_ns - tuning.spin_margin_ns;
    const std::int64_t last_work_start = deadline_ns - tuning.work_min_remaining_ns;
    // A clock set back (the virtual one, between tests) must not hold the work off.
    const std::int64_t start = clock.now();
    if (next_work_ns > start + tuning.work_period_ns) next_work_ns = start;
    for (std::int64_t now = start; now < spin_from; now = clock.now()) {
        if (installed_work && now <= last_work_start && now >= next_work_ns) {
            installed_work();
            next_work_ns = now + tuning.work_period_ns;
            continue;
        }
        const bool more_work =
            installed_work && now < next_work_ns && next_work_ns <= last_work_start;
        clock.sleep_until(more_work ? next_work_ns : spin_from);
    }
    clock.spin_until(deadline_ns);
    if (clock.now() - deadline_ns > LATE_NS) ++late_waits;
}

}  // namespace step_wait
