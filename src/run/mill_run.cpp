// mill_run.cpp - the milling run's hooks and the segment interpolation.
//
// The staircase. The machine moves one axis at a time (Z, then Y, then X), so a pen-down segment
// that is not parallel to an axis is cut as a staircase of sub-steps. plan_segment takes the axis
// with the shorter distance as the minor axis: its whole steps are the number of sub-steps, and
// the ratio (major distance / minor distance, rounded to two decimals) is how far the major axis
// advances in each. Each sub-step moves the offsets from the segment's start by one minor step
// and one ratio, and the new targets are start + offset truncated toward zero; the machine then
// travels there (Y before X) and the next sub-step follows on arrival. The offsets accumulate in
// float, but each sum with the start is taken in double, so positions past 2^24 steps (where a
// float can no longer hold every whole step) still land on the right step. Because the ratio is
// rounded, the last sub-step may stop a little short of or past the segment's end; the next
// segment starts from where it stopped, so the error never adds up across segments. A segment
// parallel to an axis, or empty, has no staircase: it is travelled directly.
#include "run/mill_run.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/settings.h"
#include "drive/motion.h"
#include "jobs/job.h"
#include "jobs/plot_file.h"
#include "jobs/preview.h"
#include "run/run_control.h"

MillSegment mill_segment;

namespace {

// A float step position truncated toward zero, saturated to int32.
std::int32_t truncate_steps(double value) {
    if (!(value > static_cast<double>(std::numeric_limits<std::int32_t>::min()))) {
        return std::isnan(value) ? 0 : std::numeric_limits<std::int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

// Distance and direction along one axis; a zero distance counts as 1 with no direction.
void axis_distance(float start, float end, std::uint8_t plus, std::uint8_t minus, float& distance,
                   std::uint8_t& direction) {
    if (start < end) {
        distance = end - start;
        direction = plus;
    } else {
        distance = start - end;
        direction = minus;
    }
    if (distance == 0.0f) {
        distance = 1.0f;
        direction = DIRECTION_NONE;
    }
}

void set_up_segment() {
    MillSegment& s = mill_segment;
    s.segment_offset_x = static_cast<float>(machine_state.target_x);
    s.segment_offset_y = static_cast<float>(machine_state.target_y);
    const SegmentPlan plan =
        plan_segment(s.segment_offset_x, s.segment_offset_y, s.segment_start_x, s.segment_start_y);
    if (plan.minor_direction == DIRECTION_NONE || plan.major_direction == DIRECTION_NONE) {
        // An axis-parallel (or empty) segment is travelled directly, Y then X.
        s.substeps_left = 0;
        s.minor_direction = DIRECTION_NONE;
        s.major_direction = DIRECTION_NONE;
        run_control.run_state = mill_travel;
        return;
    }
    s.minor_direction = plan.minor_direction;
    s.major_direction = plan.major_direction;
    s.substeps_left = plan.minor_distance;
    s.segment_ratio = plan.ratio;
    s.segment_offset_x = 0.0f;
    s.segment_offset_y = 0.0f;
    run_control.run_state = mill_substep;
}

void advance(std::uint8_t direction, float amount) {
    MillSegment& s = mill_segment;
    switch (direction) {
        case DIRECTION_X_PLUS:
            s.segment_offset_x = s.segment_offset_x + amount;
            break;
        case DIRECTION_X_MINUS:
            s.segment_offset_x = s.segment_offset_x - amount;
            break;
        case DIRECTION_Y_PLUS:
            s.segment_offset_y = s.segment_offset_y + amount;
            break;
        case DIRECTION_Y_MINUS:
            s.segment_offset_y = s.segment_offset_y - amount;
            break;
        default:
            break;
    }
}

}  // namespace

float round_to_hundredths(float value) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                       std::chars_format::fixed, 2);
    if (written.ec != std::errc()) return value;
    float rounded = value;
    std::from_chars(text, written.ptr, rounded);
    return rounded;
}

SegmentPlan plan_segment(float end_x, float end_y, float start_x, float start_y) {
    float dx = 0, dy = 0;
    std::uint8_t dir_x = DIRECTION_NONE, dir_y = DIRECTION_NONE;
    axis_distance(start_x, end_x, DIRECTION_X_PLUS, DIRECTION_X_MINUS, dx, dir_x);
    axis_distance(start_y, end_y, DIRECTION_Y_PLUS, DIRECTION_Y_MINUS, dy, dir_y);
    if (dy < dx) {
        return {dir_y, truncate_steps(dy), dir_x, round_to_hundredths(dx / dy)};
    }
    return {dir_x, truncate_steps(dx), dir_y, round_to_hundredths(dy / dx)};
}

bool mill_fetch_hook() {
    if (job_state.job_file_name.empty()) return true;
    MachineState& m = machine_state;
    MillSegment& s = mill_segment;
    s.segment_start_x = static_cast<float>(m.target_x);
    s.segment_start_y = static_cast<float>(m.target_y);
    const PlotStep step =
        fetch_plot_step(job_state.job_file_name, applied_settings.scale_percent,
                        job_state.pen_state, job_state.job_position, &job_state.file_fingerprint);
    // A job file that vanished, is no longer the file opened or holds other bytes than the scan
    // read ends the run.
    if (!step.readable) {
        return false;
    }
    job_state.pen_state = step.pen_state;
    job_state.job_position = step.next_position;
    run_control.work_pending = step.found && step.pen_state == PEN_DOWN;
    run_control.point_taken = run_control.point_taken || step.found;
    if (!step.found) {
        // No point left: nothing moves and nothing is marked; the job completes.
        run_control.run_state = mill_travel;
        return true;
    }
    m.target_x = mm_to_steps(step.x_mm, applied_settings.steps_per_mm_x);
    m.target_y = mm_to_steps(step.y_mm, applied_settings.steps_per_mm_y);
    const std::int32_t mark_x = m.current_x / applied_settings.steps_per_mm_x;
    const std::int32_t mark_y = m.current_y / applied_settings.steps_per_mm_y;
    if (step.pen_state == PEN_DOWN && run_control.running) {
        draw_run_mark(MarkKind::cut, mark_x, mark_y);
        m.target_z = applied_settings.depth_steps;
        set_up_segment();
    } else if (step.pen_state == PEN_UP) {
        draw_run_mark(MarkKind::travel, mark_x, mark_y);
        m.target_z = m.travel_height_z;
        run_control.run_state = mill_travel;
    } else {
        set_up_segment();
    }
    return true;
}

void mill_substep_hook() {
    MillSegment& s = mill_segment;
    MachineState& m = machine_state;
    s.substeps_left -= 1;
    advance(s.minor_direction, 1.0f);
    advance(s.major_direction, s.segment_ratio);
    // The sums are taken in double, not rounded to float, before the truncation.
    m.target_x = truncate_steps(static_cast<double>(s.segment_offset_x) + s.segment_start_x);
    m.target_y = truncate_steps(static_cast<double>(s.segment_offset_y) + s.segment_start_y);
    run_control.run_state = mill_substep_travel;
}

void end_of_segment_test() {
    if (mill_segment.substeps_left <= 0 &&
        (run_control.run_state == mill_substep_travel || run_control.run_state == mill_travel)) {
        mill_segment.substeps_left = 0;
        run_control.run_state = mill_travel;
    }
}

void mill_arrival() {
    if (run_control.run_state == mill_travel) {
        run_control.run_state = mill_fetch;
    } else if (run_control.run_state == mill_substep_travel) {
        run_control.run_state = mill_substep;
    }
}
