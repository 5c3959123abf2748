// fake_signals.cpp - termination signals as a flag that a test sets; no handler is installed,
// so the simulator and the tests end on Ctrl-C as any command does.
#include "platform/fake/fake.h"
#include "platform/signals.h"

namespace fake {

TerminationRecord termination;

void reset_termination() {
    termination = TerminationRecord{};
}

}  // namespace fake

namespace platform {

void watch_termination_signals() {
    fake::termination.watching = true;
}

bool termination_requested() {
    return fake::termination.requested;
}

}  // namespace platform
