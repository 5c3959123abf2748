// parameters.cpp - applying the parameter rows and colouring the fields.
#include "app/parameters.h"

#include "app/controls.h"
#include "app/handlers.h"  // show_message
#include "base/helpers.h"  // per_mm, number_text
#include "base/settings.h"
#include "base/texts.h"
#include "drive/motion.h"
#include "jobs/preview.h"
#include "platform/window.h"

AppliedSettings applied_settings;

namespace {

std::int32_t field(int id) {
    return platform::control_value(id);
}

void colour(int first_id, int last_id, std::uint32_t rgb) {
    for (int id = first_id; id <= last_id; ++id) platform::set_back_colour(id, rgb);
}

}  // namespace

void set_default_fields() {
    for (int i = 0; i < ids::FIELD_COUNT; ++i) {
        platform::set_control_value(ids::FIELD_FIRST + i,
                                    DEFAULT_FIELD_VALUES[static_cast<std::size_t>(i)]);
    }
}

void apply_all() {
    AppliedSettings& a = applied_settings;
    MachineState& m = machine_state;
    a.backlash_x = field(ids::FIELD_BACKLASH_X);
    a.backlash_y = field(ids::FIELD_BACKLASH_Y);
    a.backlash_z = field(ids::FIELD_BACKLASH_Z);
    a.steps_per_mm_x = field(ids::FIELD_STEPS_PER_MM_X);
    a.steps_per_mm_y = field(ids::FIELD_STEPS_PER_MM_Y);
    a.steps_per_mm_z = field(ids::FIELD_STEPS_PER_MM_Z);
    m.travel_limit_x = mm_to_steps(field(ids::FIELD_TABLE_SIZE_X), a.steps_per_mm_x);
    m.travel_limit_y = mm_to_steps(field(ids::FIELD_TABLE_SIZE_Y), a.steps_per_mm_y);
    m.travel_limit_z = mm_to_steps(field(ids::FIELD_TABLE_SIZE_Z), a.steps_per_mm_z);
    m.step_delay_ms = field(ids::FIELD_TIME_MS);
    a.depth_steps = mm_to_steps(field(ids::FIELD_DEPTH_MM), a.steps_per_mm_z);
    a.scale_percent = field(ids::FIELD_SCALE_PERCENT);
    m.target_x = mm_to_steps(field(ids::FIELD_GOTO_X), a.steps_per_mm_x);
    m.target_y = mm_to_steps(field(ids::FIELD_GOTO_Y), a.steps_per_mm_y);
    m.target_z = mm_to_steps(field(ids::FIELD_GOTO_Z), a.steps_per_mm_z);
    // The machine is taken to stand at the go-to position.
    m.travel_height_z = m.target_z;
    m.current_x = m.target_x;
    m.current_y = m.target_y;
    m.current_z = m.target_z;
}

void apply_backlash() {
    applied_settings.backlash_x = field(ids::FIELD_BACKLASH_X);
    applied_settings.backlash_y = field(ids::FIELD_BACKLASH_Y);
    applied_settings.backlash_z = field(ids::FIELD_BACKLASH_Z);
    colour(ids::FIELD_BACKLASH_X, ids::FIELD_BACKLASH_Z, ids::COLOUR_APPLIED);
}

void apply_steps_per_mm() {
    applied_settings.steps_per_mm_x = field(ids::FIELD_STEPS_PER_MM_X);
    applied_settings.steps_per_mm_y = field(ids::FIELD_STEPS_PER_MM_Y);
    applied_settings.steps_per_mm_z = field(ids::FIELD_STEPS_PER_MM_Z);
    colour(ids::FIELD_STEPS_PER_MM_X, ids::FIELD_STEPS_PER_MM_Z, ids::COLOUR_APPLIED);
    // deliberate: only the table limits follow; depth, travel height and positions keep their
    // step values until their own rows are applied.
    apply_table_size();
}

void apply_table_size() {
    machine_state.travel_limit_x =
        mm_to_steps(field(ids::FIELD_TABLE_SIZE_X), applied_settings.steps_per_mm_x);
    machine_state.travel_limit_y =
        mm_to_steps(field(ids::FIELD_TABLE_SIZE_Y), applied_settings.steps_per_mm_y);
    machine_state.travel_limit_z =
        mm_to_steps(field(ids::FIELD_TABLE_SIZE_Z), applied_settings.steps_per_mm_z);
    colour(ids::FIELD_TABLE_SIZE_X, ids::FIELD_TABLE_SIZE_Z, ids::COLOUR_APPLIED);
}

void apply_time_depth_scale() {
    machine_state.step_delay_ms = field(ids::FIELD_TIME_MS);
    applied_settings.depth_steps =
        mm_to_steps(field(ids::FIELD_DEPTH_MM), applied_settings.steps_per_mm_z);
    machine_state.travel_height_z =
        mm_to_steps(field(ids::FIELD_GOTO_Z), applied_settings.steps_per_mm_z);
    if (field(ids::FIELD_DEPTH_MM) < field(ids::FIELD_TABLE_SIZE_Z)) {
        platform::set_back_colour(ids::FIELD_GOTO_Z, ids::COLOUR_APPLIED);
    } else {
        // The depth stands all the same; any move under way stops.
        machine_state.move_requested = false;
        platform::message_box(texts::BAD_COORDINATES, texts::BAD_DEPTH);
    }
    applied_settings.scale_percent = field(ids::FIELD_SCALE_PERCENT);
    colour(ids::FIELD_TIME_MS, ids::FIELD_SCALE_PERCENT, ids::COLOUR_APPLIED);
    show_message(redraw_job_preview());
}

void colour_fields() {
    const AppliedSettings& a = applied_settings;
    const MachineState& m = machine_state;
    const std::array<std::int32_t, ids::FIELD_COUNT> reference = {
        a.backlash_x,
        a.backlash_y,
        a.backlash_z,
        a.steps_per_mm_x,
        a.steps_per_mm_y,
        a.steps_per_mm_z,
        per_mm(m.travel_limit_x, a.steps_per_mm_x),
        per_mm(m.travel_limit_y, a.steps_per_mm_y),
        per_mm(m.travel_limit_z, a.steps_per_mm_z),
        m.step_delay_ms,
        per_mm(a.depth_steps, a.steps_per_mm_z),
        a.scale_percent,
        per_mm(m.target_x, a.steps_per_mm_x),
        per_mm(m.target_y, a.steps_per_mm_y),
        per_mm(m.target_z, a.steps_per_mm_z),
    };
    for (int i = 0; i < ids::FIELD_COUNT; ++i) {
        const int id = ids::FIELD_FIRST + i;
        const std::int32_t value = field(id);
        if (value != reference[static_cast<std::size_t>(i)]) {
            platform::set_control_text(id, number_text(value).view());
            platform::set_back_colour(id, ids::COLOUR_CHANGED);
        } else {
            platform::set_back_colour(id, ids::COLOUR_APPLIED);
        }
    }
}
