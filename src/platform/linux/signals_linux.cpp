// signals_linux.cpp - termination signals turned into a request the main loop reads; a second
// one wakes a watcher thread that ends the program at once, since the main loop may be stuck.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/signals.h"

namespace {

volatile sig_atomic_t requested = 0;
// The pipe by which a second signal wakes the watcher: the handler writes the signal's number.
int wake_read_fd = -1;
int wake_write_fd = -1;
std::atomic<platform::LastSave> last_save{nullptr};
// How long the last save may take: a file system that stopped answering must not hold the
// program up once the operator asked twice.
constexpr auto LAST_SAVE_LIMIT = std::chrono::milliseconds(1500);

void request_end(int signal_number) {
    if (requested == 0) {
        requested = 1;
        return;
    }
    const int saved_errno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal_number);
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_fd, &byte, 1);
    errno = saved_errno;
}

void watch_for_second_signal() {
    unsigned char signal_number = 0;
    for (;;) {
        const ssize_t n = ::read(wake_read_fd, &signal_number, 1);
        if (n == 1) break;
        if (n < 0 && errno == EINTR) continue;
        return;  // the pipe is gone: nothing more to watch
    }
    // The exit status a shell shows for a program ended by that signal.
    platform::end_at_once(128 + signal_number, "a second termination signal came");
}

// Runs the last save on a thread of its own and waits for it at most LAST_SAVE_LIMIT; a save
// still blocked then is left behind, the program ends anyway.
bool run_last_save() {
    const platform::LastSave save = last_save.load();
    if (!save) return false;
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done_changed;
        bool done = false;
        bool saved = false;
    };
    const auto outcome = std::make_shared<Outcome>();
    try {
        std::thread([outcome, save] {
            const bool saved = save();
            const std::lock_guard lock(outcome->mutex);
            outcome->saved = saved;
            outcome->done = true;
            outcome->done_changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock lock(outcome->mutex);
    outcome->done_changed.wait_for(lock, LAST_SAVE_LIMIT, [&] { return outcome->done; });
    return outcome->done && outcome->saved;
}

}  // namespace

namespace platform {

void watch_termination_signals() {
    // A failed write to standard error is no reason to end.
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (wake_read_fd < 0 && ::pipe2(fds, O_CLOEXEC) == 0) {
        wake_read_fd = fds[0];
        wake_write_fd = fds[1];
        // The handler must never wait on a full pipe.
        ::fcntl(wake_write_fd, F_SETFL, O_NONBLOCK);
        // The watcher takes no signals itself, so that they interrupt the main thread only.
        sigset_t all, old;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            std::thread(watch_for_second_signal).detach();
        } catch (const std::system_error&) {
            // Without the watcher a second signal is only a repeated request.
        }
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    struct sigaction action {};
    action.sa_handler = request_end;
    // One handler at a time, so that two signals arriving together count as two.
    sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&action.sa_mask, signal_number);
    // Restarted calls: a signal during a file write or a phase wait must not fail them.
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal_number, &action, nullptr);
}

bool termination_requested() {
    return requested != 0;
}

void set_last_save(LastSave save) {
    last_save.store(save);
}

void end_at_once(int status, const char* why) {
    // Only the first caller ends the program; another thread asking meanwhile waits for that.
    static std::atomic_flag ending = ATOMIC_FLAG_INIT;
    if (ending.test_and_set()) {
        for (;;) ::pause();
    }
    const bool saved = run_last_save();
    const std::string line =
        std::string("cncmirel: ") + why +
        (saved ? ": the parameters were saved\n" : ": the parameters were not saved\n");
    // Standard error may be a closed pipe: the program ends all the same.
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(status);
}

}  // namespace platform
