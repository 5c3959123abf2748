// mill_run.h - the milling run: pen-up travel, pen-down cuts, and the minor-axis interpolation
// that cuts an oblique segment as a staircase of sub-steps. Owns mill_segment.
#pragma once

#include <cstdint>

inline constexpr std::uint8_t DIRECTION_NONE = 0;
inline constexpr std::uint8_t DIRECTION_X_PLUS = 10;
inline constexpr std::uint8_t DIRECTION_X_MINUS = 20;
inline constexpr std::uint8_t DIRECTION_Y_PLUS = 30;
inline constexpr std::uint8_t DIRECTION_Y_MINUS = 40;

struct MillSegment {
    float segment_start_x = 0, segment_start_y = 0;    // steps
    float segment_offset_x = 0, segment_offset_y = 0;  // steps from the start
    float segment_ratio = 0;                           // major-axis advance per sub-step
    std::int32_t substeps_left = 0;
    std::uint8_t minor_direction = DIRECTION_NONE;
    std::uint8_t major_direction = DIRECTION_NONE;
};
extern MillSegment mill_segment;

struct SegmentPlan {
    std::uint8_t minor_direction;
    std::int32_t minor_distance;  // whole steps: the number of sub-steps
    std::uint8_t major_direction;
    float ratio;  // major distance / minor distance, rounded to two decimals
};

// Plans the segment from `start` to `end` (float step positions).
SegmentPlan plan_segment(float end_x, float end_y, float start_x, float start_y);
// A float rounded to two decimals the way fixed-point formatting rounds it.
float round_to_hundredths(float value);

// Moving-pass hooks, in their order.
// Fetches the next point; false when the job file can no longer be read (nothing changed).
bool mill_fetch_hook();
void mill_substep_hook();
void end_of_segment_test();
// Arrival in mill_travel or mill_substep_travel.
void mill_arrival();
