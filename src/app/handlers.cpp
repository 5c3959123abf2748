// handlers.cpp - the panel's handlers and the panel updates of the main loop.
#include "app/handlers.h"

#include <string>

#include "app/controls.h"
#include "app/parameters.h"  // apply_*, colour_fields
#include "base/helpers.h"    // number_text
#include "base/texts.h"
#include "drive/motion.h"   // jog, go_to_position
#include "jobs/job.h"       // job_state
#include "jobs/preview.h"   // open_job_file
#include "platform/port.h"  // port_problem, port_device
#include "platform/window.h"

namespace {

// The buttons a run hides: open file, the six "Ok" buttons.
void set_run_controls_visible(bool visible) {
    for (int id = ids::OPEN_FILE_BUTTON; id <= ids::OK_PORT; ++id) {
        if (visible) {
            platform::show_control(id);
        } else {
            platform::hide_control(id);
        }
    }
}

}  // namespace

void on_jog_y_minus() {
    jog(Axis::y, -1);
}
void on_jog_y_plus() {
    jog(Axis::y, +1);
}
void on_jog_x_plus() {
    jog(Axis::x, +1);
}
void on_jog_x_minus() {
    jog(Axis::x, -1);
}
void on_jog_z_plus() {
    jog(Axis::z, +1);
}
void on_jog_z_minus() {
    jog(Axis::z, -1);
}

void on_start() {
    if (!start_job()) return;
    set_run_controls_visible(false);
    platform::set_progress_maximum(ids::PROGRESS_BAR, job_state.job_length);
}

void on_pause() {
    toggle_pause();
}

// Halts the motion in every case.
void on_stop() {
    if (stop_job()) set_run_controls_visible(true);
}

void on_open_file() {
    const OpenedJob opened = open_job_file(
        platform::choose_file(texts::OPEN_DIALOG_TITLE, "c:/", texts::OPEN_DIALOG_FILTER,
                              texts::OPEN_DIALOG_SELECTED_FILTER));
    if (opened.type_label) platform::set_control_text(ids::LABEL_PROGRAM_TYPE, opened.type_label);
    show_message(opened.message);
    show_message(opened.format_message);
}

void on_ok_backlash() {
    apply_backlash();
}
void on_ok_steps_per_mm() {
    apply_steps_per_mm();
}
void on_ok_table_size() {
    apply_table_size();
}
void on_ok_time_depth_scale() {
    apply_time_depth_scale();
}

void on_ok_go_to() {
    using namespace ids;
    const std::int32_t goto_mm[3] = {platform::control_value(FIELD_GOTO_X),
                                     platform::control_value(FIELD_GOTO_Y),
                                     platform::control_value(FIELD_GOTO_Z)};
    const std::int32_t table_mm[3] = {platform::control_value(FIELD_TABLE_SIZE_X),
                                      platform::control_value(FIELD_TABLE_SIZE_Y),
                                      platform::control_value(FIELD_TABLE_SIZE_Z)};
    constexpr int fields[3] = {FIELD_GOTO_X, FIELD_GOTO_Y, FIELD_GOTO_Z};
    constexpr const char* refusals[3] = {texts::BAD_COORDINATE_X, texts::BAD_COORDINATE_Y,
                                         texts::BAD_COORDINATE_Z};
    const GoToResult result = go_to_position(goto_mm, table_mm);
    for (int axis = 0; axis < 3; ++axis) {
        if (result.taken[axis]) {
            platform::set_back_colour(fields[axis], COLOUR_APPLIED);
        } else {
            platform::message_box(texts::BAD_COORDINATES, refusals[axis]);
        }
    }
    if (result.move_requested)
        platform::set_progress_maximum(PROGRESS_BAR, result.progress_maximum);
}

void on_ok_port() {
    apply_manual_port_byte();
}

void on_field_changed() {
    colour_fields();
}

void on_port_check() {
    int value = 0;
    for (int id = ids::PORT_CHECK_LAST; id >= ids::PORT_CHECK_FIRST; --id) {
        value = value * 2 + (platform::control_value(id) != 0 ? 1 : 0);
    }
    set_panel_byte(static_cast<std::uint8_t>(value));
    platform::set_control_text(ids::LABEL_PANEL_BYTE, number_text(value).view());
}

void show_message(const char* text) {
    if (text) platform::message_box(text, text);
}

void show_no_port_access() {
    // A start from the desktop menu has no terminal for the line on standard error.
    std::string text = texts::NO_PORT_ACCESS;
    text += '\n';
    switch (platform::port_problem()) {
        case platform::PortProblem::no_device:
            text += texts::PORT_NO_DEVICE;
            text += platform::port_device();
            break;
        case platform::PortProblem::no_permission:
            text += texts::PORT_NO_PERMISSION;
            text += platform::port_device();
            text += texts::PORT_PERMISSION_GROUP;
            break;
        case platform::PortProblem::busy:
            text += texts::PORT_BUSY;
            break;
        case platform::PortProblem::none:
            text.pop_back();
            break;
    }
    platform::message_box(texts::NO_PORT_ACCESS, text);
}

void show_position_labels(std::int32_t x, std::int32_t y, std::int32_t z) {
    platform::set_control_text(ids::LABEL_POSITION_X, number_text(x).view());
    platform::set_control_text(ids::LABEL_POSITION_Y, number_text(y).view());
    platform::set_control_text(ids::LABEL_POSITION_Z, number_text(z).view());
}

void show_port_lines(const PortLines& lines) {
    for (int bit = 7; bit >= 0; --bit) {
        if (((lines.changed >> bit) & 1u) == 0) continue;
        platform::set_control_picture(ids::INDICATOR_FIRST + bit, ((lines.byte >> bit) & 1u) != 0
                                                                      ? ids::PICTURE_BIT_ON
                                                                      : ids::PICTURE_BIT_OFF);
    }
}

void show_run_notice(const RunNotice& notice) {
    if (notice.run_ended) set_run_controls_visible(true);
    show_message(notice.message);
}
