// phase_cycle.cpp - timed output of the four phase bytes of a step.
#include "drive/phase_cycle.h"

#include "base/port_layout.h"
#include "platform/clock.h"
#include "platform/port.h"

namespace {

void run_cycle(const std::array<std::int32_t, 4>& phases, std::int32_t select_bits,
               std::int32_t delay_ms) {
    const std::int64_t delay_ns = static_cast<std::int64_t>(delay_ms) * 1'000'000;
    for (const std::int32_t phase : phases) {
        // Only the low 8 bits of the sum reach the port.
        platform::Out32(port_layout::DATA_PORT, static_cast<std::uint8_t>(select_bits + phase));
        // Each wait runs from its own write, so a late wake never shortens the next phase.
        platform::wait_until_ns(platform::monotonic_ns() + delay_ns);
    }
}

}  // namespace

void phase_cycle_increasing(std::int32_t select_bits, std::int32_t delay_ms) {
    run_cycle(port_layout::PHASES_INCREASING, select_bits, delay_ms);
}

void phase_cycle_decreasing(std::int32_t select_bits, std::int32_t delay_ms) {
    run_cycle(port_layout::PHASES_DECREASING, select_bits, delay_ms);
}
