// motion.cpp - targets, positions and the single step of a moving pass.
#include "drive/motion.h"

#include <charconv>
#include <cstdlib>
#include <limits>

#include "app/ids.h"
#include "app/settings.h"
#include "app/texts.h"
#include "drive/phase_cycle.h"
#include "drive/port_layout.h"
#include "drive/port_panel.h"
#include "platform/window.h"

MachineState machine_state;

namespace {

std::int32_t saturate(std::int64_t v) {
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

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

void set_number_label(int id, std::int32_t value) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    platform::set_control_text(id, std::string_view(text, static_cast<std::size_t>(end - text)));
}

std::int32_t clamp_to_travel(std::int32_t target, std::int32_t limit) {
    if (target < 0) return 0;
    if (target > limit) return limit;
    return target;
}

// One axis of the go-to row; false when its field lies outside the table.
bool go_to_axis(int goto_field, int table_field, std::int32_t steps_per_mm, std::int32_t& target,
                const char* refusal) {
    const std::int32_t goto_mm = platform::control_value(goto_field);
    if (goto_mm < platform::control_value(table_field)) {
        target = mm_to_steps(goto_mm, steps_per_mm);
        platform::set_back_colour(goto_field, ids::COLOUR_APPLIED);
        return true;
    }
    machine_state.move_requested = false;
    platform::message_box(texts::BAD_COORDINATES, refusal);
    return false;
}

std::int32_t distance(std::int32_t a, std::int32_t b) {
    return saturate(std::abs(static_cast<std::int64_t>(a) - b));
}

}  // namespace

std::int32_t mm_to_steps(std::int32_t mm, std::int32_t steps_per_mm) {
    return saturate(static_cast<std::int64_t>(mm) * steps_per_mm);
}

void jog(Axis axis, std::int32_t delta) {
    std::int32_t& target = target_of(axis);
    target = saturate(static_cast<std::int64_t>(target) + delta);
    machine_state.move_requested = true;
}

void go_to_position() {
    MachineState& m = machine_state;
    m.move_requested = true;
    go_to_axis(ids::FIELD_GOTO_X, ids::FIELD_TABLE_SIZE_X, applied_settings.steps_per_mm_x,
               m.target_x, texts::BAD_COORDINATE_X);
    go_to_axis(ids::FIELD_GOTO_Y, ids::FIELD_TABLE_SIZE_Y, applied_settings.steps_per_mm_y,
               m.target_y, texts::BAD_COORDINATE_Y);
    if (go_to_axis(ids::FIELD_GOTO_Z, ids::FIELD_TABLE_SIZE_Z, applied_settings.steps_per_mm_z,
                   m.target_z, texts::BAD_COORDINATE_Z)) {
        m.travel_height_z = m.target_z;
    }
    if (m.move_requested) {
        const std::int64_t total = static_cast<std::int64_t>(distance(m.target_z, m.current_z)) +
                                   distance(m.target_y, m.current_y) +
                                   distance(m.target_x, m.current_x);
        platform::set_progress_maximum(ids::PROGRESS_BAR, saturate(total));
    }
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
    platform::set_control_value(ids::PROGRESS_BAR, 0);
}

void show_position_labels(std::int32_t x, std::int32_t y, std::int32_t z) {
    set_number_label(ids::LABEL_POSITION_X, x);
    set_number_label(ids::LABEL_POSITION_Y, y);
    set_number_label(ids::LABEL_POSITION_Z, z);
}
