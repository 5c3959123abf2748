// test_port_claim.cpp - the claim of the parallel-port device never waits for a port that
// another program holds.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/port_claim.h"

namespace {

// A claim that waits like the kernel's does while another program holds the port.
int held_elsewhere(int) {
    ::pause();
    return -1;
}
int free_port(int) {
    return 0;
}
int no_such_device(int) {
    errno = ENXIO;
    return -1;
}

TEST(PortClaim, GivesUpOnAHeldPortAndReportsTheOthersAsTheyAre) {
    using port_claim::Result;
    EXPECT_EQ(port_claim::claim_with_timeout(-1, 50, held_elsewhere), Result::busy);
    EXPECT_EQ(port_claim::claim_with_timeout(-1, 50, free_port), Result::claimed);
    EXPECT_EQ(port_claim::claim_with_timeout(-1, 50, no_such_device), Result::failed);
    EXPECT_EQ(errno, ENXIO);
    // The timer is gone afterwards: a later wait is not cut short by a stray alarm.
    EXPECT_EQ(::usleep(150'000), 0);
}

// The timer the claim runs under, as it stands when the claim starts.
itimerval armed{};
int note_timer(int) {
    ::getitimer(ITIMER_REAL, &armed);
    return 0;
}

// The claim gives up after the time asked for, in milliseconds: the timer is armed for about
// that long (not a thousandth of it, nor a thousand times it) and repeats while the claim waits.
TEST(PortClaim, TheTimerIsArmedForTheTimeoutInMilliseconds) {
    for (const int timeout_ms : {300, 1500}) {
        SCOPED_TRACE(timeout_ms);
        armed = {};
        ASSERT_EQ(port_claim::claim_with_timeout(-1, timeout_ms, note_timer),
                  port_claim::Result::claimed);
        const long long left_us =
            static_cast<long long>(armed.it_value.tv_sec) * 1'000'000 + armed.it_value.tv_usec;
        EXPECT_LE(left_us, timeout_ms * 1000LL);
        EXPECT_GT(left_us, timeout_ms * 1000LL / 2);
        const long long repeat_us = static_cast<long long>(armed.it_interval.tv_sec) * 1'000'000 +
                                    armed.it_interval.tv_usec;
        EXPECT_GE(repeat_us, 10'000);
        EXPECT_LE(repeat_us, 200'000);
    }
}

}  // namespace
