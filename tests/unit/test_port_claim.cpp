// test_port_claim.cpp - the claim of the parallel-port device never waits for a port that
// another program holds.
#include <gtest/gtest.h>
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

}  // namespace
