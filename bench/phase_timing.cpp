// phase_timing.cpp - how long each phase of a step cycle really lasts on this machine, with the
// controller's phase wait and with a plain clock_nanosleep to the same deadlines, side by side.
// Runs step cycles on the real monotonic clock with a port that only records the time of each
// write; the two waits take turns cycle by cycle, so that both meet the same load. Then the
// effect of the spin margin, from which the controller's margin is chosen.
//   bench_phase_timing [--normal] [--cycles N]
//   --normal   keep the ordinary scheduling (by default the bench sets up real-time priority and
//              locked memory as the controller does, where the system permits)
//   --cycles N cycles of each wait at 1 ms (default 1500); 5 ms and the margin table use N / 6
#include <time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/port_layout.h"
#include "drive/phase_cycle.h"
#include "platform/clock.h"
#include "platform/port.h"
#include "platform/step_wait.h"

namespace {

std::vector<std::int64_t> write_times;

std::int64_t thread_cpu_ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

// The plain wait: one clock_nanosleep to the absolute deadline, as the controller waited before.
void plain_sleep_until(std::int64_t deadline_ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline_ns / 1'000'000'000LL);
    ts.tv_nsec = static_cast<long>(deadline_ns % 1'000'000'000LL);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// The same four writes and deadlines as phase_cycle_increasing, with the plain wait.
void plain_cycle(std::int32_t select_bits, std::int32_t delay_ms) {
    for (const std::int32_t phase : port_layout::PHASES_INCREASING) {
        platform::Out32(port_layout::DATA_PORT, static_cast<std::uint8_t>(select_bits + phase));
        plain_sleep_until(platform::monotonic_ns() + std::int64_t{delay_ms} * 1'000'000);
    }
}

// Excess of each phase over the delay (us) and CPU per phase (us) of one kind of wait.
struct Samples {
    std::vector<double> excess_us;
    double cpu_us_total = 0;
};

// Runs one cycle and records its four phases: each runs from its write to the next write, the
// last to the end of the cycle.
void record_cycle(void (*cycle)(std::int32_t, std::int32_t), int delay_ms, Samples& s) {
    write_times.clear();
    const std::int64_t cpu0 = thread_cpu_ns();
    cycle(64, delay_ms);
    const std::int64_t end = platform::monotonic_ns();
    s.cpu_us_total += static_cast<double>(thread_cpu_ns() - cpu0) / 1000.0;
    write_times.push_back(end);
    for (std::size_t k = 1; k < write_times.size(); ++k) {
        const std::int64_t excess = write_times[k] - write_times[k - 1] - delay_ms * 1'000'000LL;
        s.excess_us.push_back(static_cast<double>(excess) / 1000.0);
    }
}

struct Figures {
    double p50, p99, p999, max, min, cpu_per_phase;
    int late, phases;
};

Figures figures(Samples s) {
    std::vector<double>& v = s.excess_us;
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())) - 1)];
    };
    const int late =
        static_cast<int>(std::count_if(v.begin(), v.end(), [](double us) { return us > 1000.0; }));
    const int n = static_cast<int>(v.size());
    return {at(0.5), at(0.99), at(0.999), v.back(), v.front(), s.cpu_us_total / n, late, n};
}

void print_row(const char* name, const Figures& f) {
    std::printf("  %-16s %7.1f %8.1f %8.1f %9.1f %8.1f %9.1f %6d %6d\n", name, f.p50, f.p99, f.p999,
                f.max, f.cpu_per_phase, f.min, f.late, f.min < 0 ? 1 : 0);
}

void print_header(const char* first) {
    std::printf("  %-16s %7s %8s %8s %9s %8s %9s %6s %6s\n", first, "p50", "p99", "p99.9", "max",
                "cpu/ph", "min", ">1ms", "short");
}

// Display frames one moving pass lasts at 60 Hz: its four phases, rounded up to whole frames.
int frames_per_step(int delay_ms) {
    return std::max(1, (4 * delay_ms * 60 + 999) / 1000);
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace

namespace platform {
bool port_setup() {
    return true;
}
void port_teardown() {}
void Out32(std::uint16_t, std::uint8_t) {
    write_times.push_back(monotonic_ns());
}
std::uint8_t Inp32(std::uint16_t) {
    return 0;
}
}  // namespace platform

int main(int argc, char** argv) {
    bool normal = false;
    int cycles = 1500;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--normal") == 0) {
            normal = true;
        } else if (std::strcmp(argv[i], "--cycles") == 0 && i + 1 < argc) {
            cycles = std::max(10, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--normal] [--cycles N]\n", argv[0]);
            return 2;
        }
    }
    std::printf("phase timing on the real monotonic clock; load average %s\n",
                load_average().c_str());
    if (!normal) {
        std::fflush(stdout);
        platform::prepare_step_timing();  // prints what it got on standard error
    } else {
        std::printf("ordinary scheduling (--normal)\n");
    }
    write_times.reserve(8);
    std::printf(
        "excess of each phase over its delay, us; cpu/ph: CPU per phase, us;\n"
        ">1ms: phases ended more than 1 ms late; short: 1 if any phase was short\n");

    const std::int64_t margin = step_wait::tuning.spin_margin_ns;
    for (const int delay_ms : {1, 5}) {
        const int n = delay_ms == 1 ? cycles : std::max(10, cycles / 6);
        Samples project, plain;
        const std::int64_t late_before = step_wait::late_count();
        for (int i = 0; i < n; ++i) {
            record_cycle(phase_cycle_increasing, delay_ms, project);
            record_cycle(plain_cycle, delay_ms, plain);
        }
        const Figures p = figures(project);
        const Figures q = figures(plain);
        std::printf("\ndelay %d ms, %d phases each (spin margin %lld us):\n", delay_ms, p.phases,
                    static_cast<long long>(margin / 1000));
        print_header("wait");
        print_row("controller", p);
        print_row("clock_nanosleep", q);
        std::printf("  the wait's own count of phases more than 1 ms late: %lld\n",
                    static_cast<long long>(step_wait::late_count() - late_before));
        const double spin_us = p.cpu_per_phase - q.cpu_per_phase;
        const int phases_per_s = 4 * 60 / frames_per_step(delay_ms);
        std::printf(
            "  spin CPU: %.1f us per phase; stepping at one step per 60 Hz frame"
            " (%d phases/s): %.1f ms per second\n",
            spin_us, phases_per_s, spin_us * phases_per_s / 1000.0);
    }

    const int n = std::max(10, cycles / 6);
    std::printf("\nspin margin, delay 1 ms, %d phases each:\n", 4 * n);
    print_header("margin");
    for (const std::int64_t m : {0, 50'000, 100'000, 150'000, 200'000, 300'000, 500'000}) {
        step_wait::tuning.spin_margin_ns = m;
        Samples s;
        for (int i = 0; i < n; ++i) record_cycle(phase_cycle_increasing, 1, s);
        const std::string name = std::to_string(m / 1000) + " us" + (m == margin ? " *" : "");
        print_row(name.c_str(), figures(s));
    }
    step_wait::tuning.spin_margin_ns = margin;
    std::printf("  * the controller's margin\n");
    return 0;
}
