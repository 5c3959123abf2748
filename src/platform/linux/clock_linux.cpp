// clock_linux.cpp - the monotonic clock, absolute-deadline waits with the smallest timer slack
// the kernel allows, the precise phase wait on top of them, and the real-time set-up of the
// stepping thread.
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/step_wait.h"

namespace {

// Below the kernel's threaded interrupt handlers (50), which the port and the display need,
// and above every ordinary process.
constexpr int STEP_PRIORITY = 20;

// Timer slack is per thread; set it once on the thread that waits.
void tighten_timer_slack() {
    thread_local bool done = false;
    if (!done) {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        done = true;
    }
}

void spin_until(std::int64_t deadline_ns) {
    while (platform::monotonic_ns() < deadline_ns) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();  // eases the loop on the core and its sibling
#endif
    }
}

constexpr step_wait::Clock REAL_CLOCK = {platform::monotonic_ns, platform::sleep_until_ns,
                                         spin_until};

std::string limit_text(rlim_t value, rlim_t unit) {
    return value == RLIM_INFINITY ? "unlimited" : std::to_string(value / unit);
}

// Keeps the pages the program has touched, and with an unlimited allowance those it touches
// later, in memory. Pages are locked as they are first used (MCL_ONFAULT), so the libraries'
// untouched parts are not read in. A finite allowance would make later allocations fail once
// it is used up, so only then MCL_FUTURE is left out.
std::string lock_memory() {
    rlimit limit{};
    ::getrlimit(RLIMIT_MEMLOCK, &limit);
    int flags = MCL_CURRENT | MCL_ONFAULT;
    if (limit.rlim_cur == RLIM_INFINITY) flags |= MCL_FUTURE;
    int result = ::mlockall(flags);
    if (result != 0 && errno == EINVAL) result = ::mlockall(flags & ~MCL_ONFAULT);  // old kernel
    if (result != 0) {
        return std::string("memory not locked (") + std::strerror(errno) + ", memlock limit " +
               limit_text(limit.rlim_cur, 1024) + " KiB)";
    }
    if (flags & MCL_FUTURE) return "memory locked";
    return "memory locked, later allocations not (memlock limit " +
           limit_text(limit.rlim_cur, 1024) + " KiB)";
}

// SCHED_FIFO at STEP_PRIORITY, or lower when RLIMIT_RTPRIO caps it; the kernel refuses it
// when the limit is 0 and the process has no privilege for it. Threads started later (the
// toolkit's, a dialog's) get the ordinary policy (SCHED_RESET_ON_FORK).
std::string raise_priority() {
    rlimit limit{};
    ::getrlimit(RLIMIT_RTPRIO, &limit);
    int priority = STEP_PRIORITY;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0) {
        priority = std::min(priority, static_cast<int>(limit.rlim_cur));
    }
    priority = std::min(priority, ::sched_get_priority_max(SCHED_FIFO));
    sched_param param{};
    param.sched_priority = priority;
    // On Linux the policy of pid 0 is that of the calling thread alone.
    if (::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) != 0) {
        return std::string("normal scheduling (") + std::strerror(errno) + ", rtprio limit " +
               limit_text(limit.rlim_cur, 1) + ")";
    }
    return "real-time priority " + std::to_string(priority);
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

void wait_until_ns(std::int64_t deadline_ns) {
    step_wait::wait_until(deadline_ns, REAL_CLOCK);
}

void prepare_step_timing() {
    const std::string priority = raise_priority();
    const std::string memory = lock_memory();
    std::fprintf(stderr, "step timing: %s, %s\n", priority.c_str(), memory.c_str());
}

}  // namespace platform
