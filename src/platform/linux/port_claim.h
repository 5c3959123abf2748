// port_claim.h - claiming the parallel-port device without ever waiting for a port that another
// program holds: the kernel's claim sleeps until the holder lets go, so a timer interrupts it.
// Kept apart from the port access itself so that a test can drive it with a stand-in claim.
#pragma once

namespace port_claim {

enum class Result { claimed, busy, failed };

// The claim request itself: 0 on success, -1 with errno set on failure (PPCLAIM on the device).
using ClaimFunction = int (*)(int fd);
int ppdev_claim(int fd);

// Runs `claim` on `fd` and gives up after about `timeout_ms` milliseconds: busy when it was
// still waiting then, failed (errno kept) when it refused at once.
Result claim_with_timeout(int fd, int timeout_ms, ClaimFunction claim = ppdev_claim);

}  // namespace port_claim
