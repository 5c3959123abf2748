// port_claim.cpp - a claim that a repeating timer signal interrupts when it waits too long.
#include "platform/linux/port_claim.h"

#include <linux/ppdev.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/time.h>

#include <cerrno>

namespace port_claim {

namespace {

void interrupt(int) {}

itimerval interval(int first_ms, int repeat_ms) {
    itimerval t{};
    t.it_value.tv_sec = first_ms / 1000;
    t.it_value.tv_usec = (first_ms % 1000) * 1000;
    t.it_interval.tv_sec = repeat_ms / 1000;
    t.it_interval.tv_usec = (repeat_ms % 1000) * 1000;
    return t;
}

}  // namespace

int ppdev_claim(int fd) {
    return ::ioctl(fd, PPCLAIM);
}

Result claim_with_timeout(int fd, int timeout_ms, ClaimFunction claim) {
    // No SA_RESTART: the signal must end the waiting claim with EINTR. The timer repeats, so a
    // signal that comes just before the claim starts waiting is followed by another.
    struct sigaction action {};
    action.sa_handler = interrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction old_action {};
    ::sigaction(SIGALRM, &action, &old_action);
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    sigset_t old_mask;
    ::pthread_sigmask(SIG_UNBLOCK, &alarm_only, &old_mask);
    itimerval old_timer{};
    const itimerval timer = interval(timeout_ms > 0 ? timeout_ms : 1, 50);
    ::setitimer(ITIMER_REAL, &timer, &old_timer);

    const int result = claim(fd);
    const int error = errno;

    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &old_action, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    ::setitimer(ITIMER_REAL, &old_timer, nullptr);
    errno = error;
    if (result == 0) return Result::claimed;
    return error == EINTR ? Result::busy : Result::failed;
}

}  // namespace port_claim
