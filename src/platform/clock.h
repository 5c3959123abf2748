// clock.h - the monotonic clock and waits to an absolute deadline.
// Declarations only: the controller links linux/, tests and the simulator link fake/.
#pragma once

#include <cstdint>

namespace platform {

std::int64_t monotonic_ns();
// Returns no earlier than `deadline_ns` on the monotonic clock.
void sleep_until_ns(std::int64_t deadline_ns);

}  // namespace platform
