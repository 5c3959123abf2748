// signals_linux.cpp - termination signals turned into a request the main loop reads.
#include <signal.h>

#include <initializer_list>

#include "platform/signals.h"

namespace {

volatile sig_atomic_t requested = 0;

void request_end(int) {
    requested = 1;
}

}  // namespace

namespace platform {

void watch_termination_signals() {
    // A failed write to standard error is no reason to end.
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = request_end;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a signal during a file write or a phase wait must not fail them.
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal_number, &action, nullptr);
}

bool termination_requested() {
    return requested != 0;
}

}  // namespace platform
