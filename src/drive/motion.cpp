// motion.cpp - targets, positions and the single step of a moving pass.
#include "drive/motion.h"

#include <cstdlib>
#include <limits>

#include "base/helpers.h"      // saturate_to_int32
#include "base/port_layout.h"  // SELECT_X, SELECT_Y, SELECT_Z
#include "base/settings.h"     // applied_settings
#include "drive/phase_cycle.h"
#include "drive/port_panel.h"  // write_manual_port_byte

MachineState machine_state;

namespace {

std::int32_t& target_of(Axis axis) {
    switch (axis) {
        case Axis::x:
            return machine_state.target_x;
        case Axis::y:
            return machine_state.target_y;
        case Axis::z:
            break;
    }
    return machine_state.target_z;
}

std::int32_t clamp_to_travel(std::int32_t target, std::int32_t limit) {
    if (target < 0) return 0;
    if (target > limit) return limit;
    return target;
}

// One axis of the go-to row; false when the go-to lies outside the table.
bool go_to_axis(std::int32_t goto_mm, std::int32_t table_mm, std::int32_t steps_per_mm,
                std::int32_t& target) {
    if (goto_mm < table_mm) {
        target = mm_to_steps(goto_mm, steps_per_mm);
        return true;
    }
    machine_state.move_requested = false;
    return false;
}

std::int32_t distance(std::int32_t a, std::int32_t b) {
    return saturate_to_int32(std::abs(static_cast<std::int64_t>(a) - b));
}

}  // namespace

std::int32_t mm_to_steps(std::int32_t mm, std::int32_t steps_per_mm) {
    return saturate_to_int32(static_cast<std::int64_t>(mm) * steps_per_mm);
}

void jog(Axis axis, std::int32_t delta) {
    std::int32_t& target = target_of(axis);
    target = saturate_to_int32(static_cast<std::int64_t>(target) + delta);
    machine_state.move_requested = true;
}

GoToResult go_to_position(const std::int32_t (&goto_mm)[3], const std::int32_t (&table_mm)[3]) {
    MachineState& m = machine_state;
    const AppliedSettings& a = applied_settings;
    GoToResult result{};
    m.move_requested = true;
    result.taken[0] = go_to_axis(goto_mm[0], table_mm[0], a.steps_per_mm_x, m.target_x);
    result.taken[1] = go_to_axis(goto_mm[1], table_mm[1], a.steps_per_mm_y, m.target_y);
    result.taken[2] = go_to_axis(goto_mm[2], table_mm[2], a.steps_per_mm_z, m.target_z);
    if (result.taken[2]) m.travel_height_z = m.target_z;
    result.move_requested = m.move_requested;
    if (m.move_requested) {
        const std::int64_t total = static_cast<std::int64_t>(distance(m.target_z, m.current_z)) +
                                   distance(m.target_y, m.current_y) +
                                   distance(m.target_x, m.current_x);
        result.progress_maximum = saturate_to_int32(total);
    }
    return result;
}

void halt_motion() {
    MachineState& m = machine_state;
    m.target_x = m.current_x;
    m.target_y = m.current_y;
    m.target_z = m.current_z;
}

void clamp_targets() {
    MachineState& m = machine_state;
    m.target_x = clamp_to_travel(m.target_x, m.travel_limit_x);
    m.target_y = clamp_to_travel(m.target_y, m.travel_limit_y);
    m.target_z = clamp_to_travel(m.target_z, m.travel_limit_z);
}

bool motion_step() {
    MachineState& m = machine_state;
    struct AxisRef {
        std::int32_t& current;
        std::int32_t target;
        std::int32_t select;
    };
    AxisRef order[3] = {{m.current_z, m.target_z, port_layout::SELECT_Z},
                        {m.current_y, m.target_y, port_layout::SELECT_Y},
                        {m.current_x, m.target_x, port_layout::SELECT_X}};
    for (AxisRef& a : order) {
        if (a.current == a.target) continue;
        // The counter changes before the cycle is output; a move of more than 2^31 steps
        // without an idle pass holds it at its largest value.
        if (m.step_count < std::numeric_limits<std::int32_t>::max()) ++m.step_count;
        if (a.current > a.target) {
            --a.current;
            phase_cycle_decreasing(a.select, m.step_delay_ms);
        } else {
            ++a.current;
            phase_cycle_increasing(a.select, m.step_delay_ms);
        }
        return true;
    }
    return false;
}

void idle_pass() {
    machine_state.step_count = 0;
    write_manual_port_byte();
}
