// A main loop stuck in a read that never returns (as on a file system that stopped answering):
// one termination signal only asks it to end, a second ends the program at once with the
// parameters saved. The program runs in a child process with the real signal handling.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "machine_fixture.h"
#include "platform/signals.h"

// The fake platform's signal record, which the fixture resets; the real signal handling stands
// in its place here.
namespace fake {
TerminationRecord termination;
void reset_termination() {}
}  // namespace fake

namespace {

struct Case {
    const char* name;
    std::vector<int> signals;
    bool save_blocks;  // the last save never gets its bytes written
    bool unblock;      // the stuck read returns after the signals
    int status;
    bool saved;
    const char* line;  // expected on standard error, empty: none
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// A write that never ends: the parameter file is on the stuck file system too.
bool block_forever(ParamWriteStep step) {
    if (step == ParamWriteStep::write) {
        for (;;) ::pause();
    }
    return false;
}

// Waits until no signal is pending for `pid` any more: two signals of one kind sent before the
// first was handled would be taken as one, as the kernel keeps one of each kind pending.
void wait_until_handled(pid_t pid) {
    for (int i = 0; i < 10000; ++i) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        bool pending = false;
        while (std::getline(status, line)) {
            if (line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")) {
                pending = pending || line.find_first_not_of("0\t ", 7) != std::string::npos;
            }
        }
        if (!pending) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class SecondSignalTest : public MachineTest, public ::testing::WithParamInterface<Case> {
protected:
    std::string read_text(const std::string& name) {
        std::ifstream in(path(name));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_P(SecondSignalTest, StuckLoop) {
    const Case& c = GetParam();
    write_params(kParams);
    int ready[2], stuck[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(stuck), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen("stderr.txt", "w", stderr);
        platform::watch_termination_signals();
        if (!start_up()) ::_exit(90);
        // The operator changed a field before the loop got stuck.
        fake::change_field(ids::FIELD_TABLE_SIZE_X, 150);
        run_pass();
        if (c.save_blocks) param_write_fault = block_forever;
        [[maybe_unused]] ssize_t n = ::write(ready[1], "r", 1);
        char byte = 0;
        n = ::read(stuck[0], &byte, 1);
        // The read came back: the loop goes on as usual.
        int passes = 0;
        while (!run_pass()) {
            if (++passes == 1000) ::_exit(91);
        }
        shut_down();
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stuck[0]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the program did not start";
    for (const int signal_number : c.signals) {
        ASSERT_EQ(::kill(child, signal_number), 0);
        wait_until_handled(child);
    }
    if (c.unblock) {
        ASSERT_EQ(::write(stuck[1], "u", 1), 1);
    }

    // A hang shows as a child still running after a generous while.
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 2000 && done == 0; ++i) {
        done = ::waitpid(child, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the program did not end";
    }
    ::close(ready[0]);
    ::close(stuck[1]);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    auto expected = kParams;
    if (c.saved) expected[6] = 150;
    EXPECT_EQ(read_param_file("Param.ini"), std::optional<ParamValues>(expected));
    const std::string err = read_text("stderr.txt");
    if (c.line[0] == '\0') {
        EXPECT_EQ(err.find("cncmirel:"), std::string::npos) << err;
    } else {
        EXPECT_NE(err.find(c.line), std::string::npos) << err;
    }
}

const char* const SAVED = "cncmirel: a second termination signal came: the parameters were saved\n";

INSTANTIATE_TEST_SUITE_P(
    Signals, SecondSignalTest,
    ::testing::Values(
        Case{"TwoTerms", {SIGTERM, SIGTERM}, false, false, 143, true, SAVED},
        Case{"HangupThenInterrupt", {SIGHUP, SIGINT}, false, false, 130, true, SAVED},
        // The save is given up after a while: the old file stays, and the program ends.
        Case{"SaveStuckToo",
             {SIGTERM, SIGTERM},
             true,
             false,
             143,
             false,
             "cncmirel: a second termination signal came: the parameters were not saved\n"},
        // One signal alone waits for the loop, which then ends the usual way.
        Case{"OneTermThenLoopGoesOn", {SIGTERM}, false, true, 0, true, ""}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
