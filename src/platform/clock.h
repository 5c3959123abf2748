// clock.h - the monotonic clock and waits to an absolute deadline.
// Declarations only: the controller links linux/, tests and the simulator link fake/.
#pragma once

#include <cstdint>

namespace platform {

std::int64_t monotonic_ns();
// Returns no earlier than `deadline_ns` on the monotonic clock, when the scheduler wakes the
// thread (the present's frame pacing).
void sleep_until_ns(std::int64_t deadline_ns);
// Returns no earlier than `deadline_ns` and as soon after it as the machine allows; for the
// phase waits of a step. A long wait lets the window repaint meanwhile (platform/step_wait.h).
void wait_until_ns(std::int64_t deadline_ns);
// Keeps the calling thread's waits on time where the system permits it: locks the process's
// memory and gives the thread a modest real-time priority. Never fails; one line on standard
// error says what it got. Called once, on the stepping thread, after start-up.
void prepare_step_timing();

}  // namespace platform
