// clock_linux.cpp - the monotonic clock and absolute-deadline waits with the smallest timer
// slack the kernel allows, so that short phase waits keep their length.
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace {

// Timer slack is per thread; set it once on the thread that waits.
void tighten_timer_slack() {
    thread_local bool done = false;
    if (!done) {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        done = true;
    }
}

}  // namespace

namespace platform {

std::int64_t monotonic_ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

void sleep_until_ns(std::int64_t deadline_ns) {
    tighten_timer_slack();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline_ns / 1'000'000'000LL);
    ts.tv_nsec = static_cast<long>(deadline_ns % 1'000'000'000LL);
    // Absolute deadline: an interrupted wait resumes toward the same instant.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace platform
