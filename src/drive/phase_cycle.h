// phase_cycle.h - one step of one motor: four phase bytes on the data port, each followed by
// the step delay. The only code that writes phase bytes.
#pragma once

#include <cstdint>

// Writes select + 9, 3, 6, 12 and waits delay_ms after each write.
void phase_cycle_increasing(std::int32_t select_bits, std::int32_t delay_ms);
// Writes select + 9, 12, 6, 3 and waits delay_ms after each write.
void phase_cycle_decreasing(std::int32_t select_bits, std::int32_t delay_ms);
