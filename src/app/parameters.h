// parameters.h - the fifteen machine parameters: their defaults, the "Ok" of each row, the
// apply-all of start-up and the field colouring. Owns applied_settings.
#pragma once

#include <array>
#include <cstdint>

// Field values used when no parameter file exists, fields 20 to 34 in order.
inline constexpr std::array<std::int32_t, 15> DEFAULT_FIELD_VALUES = {
    0,   0,   0,    // backlash X, Y, Z (steps)
    100, 100, 100,  // steps per mm X, Y, Z
    300, 200, 50,   // table size X, Y, Z (mm)
    5,   3,   100,  // step time (ms), working depth (mm), scale (%)
    0,   0,   10,   // go-to X, Y, Z (mm)
};

// Puts the default values into the fields (their colours are left alone).
void set_default_fields();
// Start-up: every applied value and the machine's start position from the fields, unchecked.
void apply_all();
void apply_backlash();
void apply_steps_per_mm();
void apply_table_size();
void apply_time_depth_scale();
// Recolours all fifteen fields: grey where a field equals its applied value, white elsewhere.
void colour_fields();
