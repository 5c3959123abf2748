// fake_signals.cpp - termination signals as a flag that a test sets; no handler is installed,
// so the simulator and the tests end on Ctrl-C as any command does.
#include <unistd.h>

#include <string>

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

void set_last_save(LastSave save) {
    fake::termination.last_save = save;
}

void end_at_once(int status, const char* why) {
    const bool saved = fake::termination.last_save && fake::termination.last_save();
    const std::string line =
        std::string("cncmirel: ") + why +
        (saved ? ": the parameters were saved\n" : ": the parameters were not saved\n");
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(status);
}

}  // namespace platform
