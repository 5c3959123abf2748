// fake_clock.cpp - the virtual clock: waits advance it at once, nothing sleeps for real.
#include "platform/clock.h"
#include "platform/fake/fake.h"

namespace fake {

ClockRecord clock;

void reset_clock() { clock = ClockRecord{}; }

}  // namespace fake

namespace platform {

std::int64_t monotonic_ns() { return fake::clock.now_ns; }

void sleep_until_ns(std::int64_t deadline_ns) {
    if (deadline_ns > fake::clock.now_ns) {
        fake::clock.slept_ns += deadline_ns - fake::clock.now_ns;
        fake::clock.now_ns = deadline_ns;
    }
}

}  // namespace platform
