// settings.h - the applied copies of the parameters that are not machine state. Data only;
// owned by parameters.cpp, read everywhere a millimetre becomes a step.
#pragma once

#include <cstdint>

struct AppliedSettings {
    std::int32_t backlash_x = 0, backlash_y = 0, backlash_z = 0;  // steps; read by nothing else
    std::int32_t steps_per_mm_x = 1, steps_per_mm_y = 1, steps_per_mm_z = 1;  // never below 1
    std::int32_t depth_steps = 0;  // working depth as an absolute Z position, steps
    std::int32_t scale_percent = 100;
};
extern AppliedSettings applied_settings;
