// fake_clock.cpp - the virtual clock: waits advance it at once, nothing sleeps for real.
#include "platform/clock.h"
#include "platform/fake/fake.h"
#include "platform/step_wait.h"

namespace fake {

ClockRecord clock;

void reset_clock() {
    clock = ClockRecord{};
}

}  // namespace fake

namespace {

std::int64_t virtual_now() {
    return fake::clock.now_ns;
}

void advance_to(std::int64_t deadline_ns) {
    if (deadline_ns > fake::clock.now_ns) fake::clock.now_ns = deadline_ns;
}

// Sleeping and spinning both end exactly at their deadline.
constexpr step_wait::Clock VIRTUAL_CLOCK = {virtual_now, advance_to, advance_to};

}  // namespace

namespace platform {

std::int64_t monotonic_ns() {
    return fake::clock.now_ns;
}

void sleep_until_ns(std::int64_t deadline_ns) {
    if (deadline_ns > fake::clock.now_ns) fake::clock.slept_ns += deadline_ns - fake::clock.now_ns;
    advance_to(deadline_ns);
}

void wait_until_ns(std::int64_t deadline_ns) {
    if (deadline_ns > fake::clock.now_ns) fake::clock.slept_ns += deadline_ns - fake::clock.now_ns;
    step_wait::wait_until(deadline_ns, VIRTUAL_CLOCK);
}

void prepare_step_timing() {}

}  // namespace platform
