// phase_timing.cpp - how long each phase of a step cycle really lasts on this machine.
// Runs thousands of cycles on the real monotonic clock with a port that only records the time
// of each write, and prints the distribution of phase and cycle lengths against the delay asked.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "drive/phase_cycle.h"
#include "platform/clock.h"
#include "platform/port.h"

namespace {

std::vector<std::int64_t> write_times;

struct Figures {
    double p50, p99, max, min;
};

Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
    };
    return {at(0.5), at(0.99), v.back(), v.front()};
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
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::printf("phase timing: %d cycles per delay, real monotonic clock\n", cycles);
    for (const int delay_ms : {1, 5}) {
        write_times.clear();
        write_times.reserve(static_cast<std::size_t>(cycles) * 4 + 1);
        std::vector<double> phase_excess_us;
        std::vector<double> cycle_excess_us;
        for (int i = 0; i < cycles; ++i) {
            const std::size_t first = write_times.size();
            phase_cycle_increasing(64, delay_ms);
            const std::int64_t end = platform::monotonic_ns();
            for (std::size_t k = first + 1; k < first + 4; ++k) {
                phase_excess_us.push_back(static_cast<double>(write_times[k] - write_times[k - 1] -
                                                              delay_ms * 1'000'000LL) /
                                          1000.0);
            }
            // The cycle runs from its first write to the end of its last wait.
            cycle_excess_us.push_back(
                static_cast<double>(end - write_times[first] - 4LL * delay_ms * 1'000'000LL) /
                1000.0);
        }
        const Figures p = figures(phase_excess_us);
        const Figures c = figures(cycle_excess_us);
        std::printf(
            "delay %d ms: phase excess over the delay  p50 %.1f us  p99 %.1f us  max %.1f us"
            "  min %.1f us%s\n",
            delay_ms, p.p50, p.p99, p.max, p.min, p.min < 0 ? "  (SHORTER THAN ASKED)" : "");
        std::printf(
            "delay %d ms: cycle excess over 4 x delay   p50 %.1f us  p99 %.1f us  max %.1f us"
            "  min %.1f us\n",
            delay_ms, c.p50, c.p99, c.max, c.min);
    }
    return 0;
}
