// panel.cpp - the control table of window 0 and the shortcut keys.
#include "app/panel.h"

#include <array>
#include <string>

#include "app/controls.h"
#include "app/handlers.h"
#include "app/pictures.h"
#include "base/texts.h"
#include "drive/motion.h"  // machine_state

namespace {

using platform::ControlKind;
using platform::ControlSpec;
using namespace ids;

// One control and what its events do (null: it raises none that matter).
struct PanelRow {
    ControlSpec control;
    void (*handler)();
};

constexpr PanelRow image_button(int id, int x, int y, int picture, void (*handler)()) {
    return {{id, ControlKind::image_button, x, y, 40, 40, 0, 0, picture, nullptr}, handler};
}
constexpr PanelRow ok_button(int id, int y, void (*handler)()) {
    return {{id, ControlKind::text_button, W - 55, y, 30, 20, 0, 0, 0, texts::OK}, handler};
}
constexpr PanelRow field(int id, int x, int y, int minimum, int maximum) {
    return {{id, ControlKind::spin_field, x, y, 50, 20, minimum, maximum, 0, nullptr},
            on_field_changed};
}
constexpr PanelRow check_box(int bit) {
    return {{PORT_CHECK_FIRST + bit, ControlKind::check_box, W - 225 + 20 * bit, H - 115, 15, 15, 0,
             1, 0, nullptr},
            on_port_check};
}
constexpr PanelRow indicator(int bit) {
    return {{INDICATOR_FIRST + bit, ControlKind::image_indicator, W - 225 + 20 * bit, H - 70, 15,
             15, 0, 0, PICTURE_BIT_OFF, nullptr},
            nullptr};
}
constexpr PanelRow frame(int id, int y, int height, const char* title) {
    return {{id, ControlKind::frame, W - 235, y, 220, height, 0, 0, 0, title}, nullptr};
}
constexpr ControlSpec label(int id, int x, int y, int width, int height, const char* text) {
    return {id, ControlKind::label, x, y, width, height, 0, 0, 0, text};
}

// Columns X, Y, Z of the parameter rows.
constexpr int COL_X = W - 220;
constexpr int COL_Y = W - 165;
constexpr int COL_Z = W - 110;

constexpr std::array<PanelRow, 60> CONTROLS = {{
    image_button(JOG_Y_MINUS, W - 170, H - 240, PICTURE_ARROW_UP, on_jog_y_minus),
    image_button(JOG_Y_PLUS, W - 170, H - 190, PICTURE_ARROW_DOWN, on_jog_y_plus),
    image_button(JOG_X_PLUS, W - 120, H - 190, PICTURE_ARROW_RIGHT, on_jog_x_plus),
    image_button(JOG_X_MINUS, W - 220, H - 190, PICTURE_ARROW_LEFT, on_jog_x_minus),
    image_button(JOG_Z_PLUS, W - 70, H - 240, PICTURE_ARROW_UP, on_jog_z_plus),
    image_button(JOG_Z_MINUS, W - 70, H - 190, PICTURE_ARROW_DOWN, on_jog_z_minus),
    image_button(START_BUTTON, W - 220, H - 730, PICTURE_ARROW_RIGHT, on_start),
    image_button(PAUSE_BUTTON, W - 170, H - 730, PICTURE_PAUSE, on_pause),
    image_button(STOP_BUTTON, W - 120, H - 730, PICTURE_STOP, on_stop),
    image_button(OPEN_FILE_BUTTON, W - 70, H - 730, PICTURE_OPEN, on_open_file),
    ok_button(OK_BACKLASH, H - 290, on_ok_backlash),
    ok_button(OK_STEPS_PER_MM, H - 340, on_ok_steps_per_mm),
    ok_button(OK_TABLE_SIZE, H - 390, on_ok_table_size),
    ok_button(OK_TIME_DEPTH_SCALE, H - 440, on_ok_time_depth_scale),
    ok_button(OK_GOTO, H - 490, on_ok_go_to),
    ok_button(OK_PORT, H - 117, on_ok_port),
    field(FIELD_BACKLASH_X, COL_X, H - 290, 0, 9999),
    field(FIELD_BACKLASH_Y, COL_Y, H - 290, 0, 9999),
    field(FIELD_BACKLASH_Z, COL_Z, H - 290, 0, 9999),
    field(FIELD_STEPS_PER_MM_X, COL_X, H - 340, 1, 9999),
    field(FIELD_STEPS_PER_MM_Y, COL_Y, H - 340, 1, 9999),
    field(FIELD_STEPS_PER_MM_Z, COL_Z, H - 340, 1, 9999),
    field(FIELD_TABLE_SIZE_X, COL_X, H - 390, 1, 9999),
    field(FIELD_TABLE_SIZE_Y, COL_Y, H - 390, 1, 9999),
    field(FIELD_TABLE_SIZE_Z, COL_Z, H - 390, 1, 9999),
    field(FIELD_TIME_MS, COL_X, H - 440, 1, 999),
    field(FIELD_DEPTH_MM, COL_Y, H - 440, 1, 9999),
    field(FIELD_SCALE_PERCENT, COL_Z, H - 440, 1, 100),
    field(FIELD_GOTO_X, COL_X, H - 490, 0, 9999),
    field(FIELD_GOTO_Y, COL_Y, H - 490, 0, 9999),
    field(FIELD_GOTO_Z, COL_Z, H - 490, 0, 9999),
    check_box(0),
    check_box(1),
    check_box(2),
    check_box(3),
    check_box(4),
    check_box(5),
    check_box(6),
    check_box(7),
    indicator(0),
    indicator(1),
    indicator(2),
    indicator(3),
    indicator(4),
    indicator(5),
    indicator(6),
    indicator(7),
    frame(50, H - 760, 110, texts::FRAME_PROGRAM),
    frame(51, H - 650, 50, texts::FRAME_PROGRAM_TYPE),
    frame(52, H - 595, 50, texts::FRAME_EMPTY),
    frame(53, H - 510, 50, texts::FRAME_GOTO),
    frame(54, H - 460, 50, texts::FRAME_TIME_DEPTH_SCALE),
    frame(55, H - 410, 50, texts::FRAME_TABLE_SIZE),
    frame(56, H - 360, 50, texts::FRAME_STEPS_PER_MM),
    frame(57, H - 310, 50, texts::FRAME_BACKLASH),
    frame(58, H - 260, 120, texts::FRAME_MANUAL),
    frame(59, H - 140, 100, texts::FRAME_PORT),
    {{PROGRESS_BAR, ControlKind::progress_bar, W - 220, H - 680, 190, 20, 0, 9999, 0, nullptr},
     nullptr},
}};

constexpr std::array<ControlSpec, 8> LABELS = {{
    label(LABEL_AXES, W - 235, H - 540, 220, 15, texts::LABEL_AXES),
    label(LABEL_BITS, W - 225, H - 90, 160, 15, texts::LABEL_BITS),
    label(LABEL_STEPS, W - 50, H - 525, 32, 15, texts::LABEL_STEPS),
    label(LABEL_PANEL_BYTE, W - 55, H - 70, 32, 15, "0"),
    label(LABEL_POSITION_X, W - 210, H - 525, 50, 20, "0"),
    label(LABEL_POSITION_Y, W - 155, H - 525, 50, 20, "0"),
    label(LABEL_POSITION_Z, W - 100, H - 525, 50, 20, "0"),
    label(LABEL_PROGRAM_TYPE, W - 165, H - 625, 100, 20, texts::TYPE_NONE),
}};

constexpr std::array<ShortcutSpec, 17> SHORTCUTS = {{
    {KEY_ESC, SHORTCUT_ESC},
    {KEY_UP, SHORTCUT_UP},
    {KEY_DOWN, SHORTCUT_DOWN},
    {KEY_LEFT, SHORTCUT_LEFT},
    {KEY_RIGHT, SHORTCUT_RIGHT},
    {KEY_A, SHORTCUT_A},
    {KEY_Z, SHORTCUT_Z},
    {KEY_0 + 1, SHORTCUT_DIGIT_1 + 0},
    {KEY_0 + 2, SHORTCUT_DIGIT_1 + 1},
    {KEY_0 + 3, SHORTCUT_DIGIT_1 + 2},
    {KEY_0 + 4, SHORTCUT_DIGIT_1 + 3},
    {KEY_0 + 5, SHORTCUT_DIGIT_1 + 4},
    {KEY_0 + 6, SHORTCUT_DIGIT_1 + 5},
    {KEY_0 + 7, SHORTCUT_DIGIT_1 + 6},
    {KEY_0 + 8, SHORTCUT_DIGIT_1 + 7},
    {KEY_0 + 9, SHORTCUT_DIGIT_1 + 8},
    {KEY_0, SHORTCUT_DIGIT_0},
}};

}  // namespace

void (*control_handler(int control_id))() {
    for (const PanelRow& row : CONTROLS) {
        if (row.control.id == control_id) return row.handler;
    }
    return nullptr;
}

std::span<const platform::ControlSpec> panel_labels() {
    return LABELS;
}
std::span<const ShortcutSpec> panel_shortcuts() {
    return SHORTCUTS;
}

void load_panel_pictures() {
    for (int i = 0; i < PICTURE_COUNT; ++i) {
        platform::load_picture(i + 1, embedded_pictures[i].bytes, embedded_pictures[i].size);
    }
}

void register_panel_shortcuts() {
    for (const ShortcutSpec& s : SHORTCUTS) platform::register_shortcut(s.key_code, s.shortcut_id);
}

void create_panel() {
    for (const PanelRow& row : CONTROLS) platform::create_control(row.control);
}

void create_panel_labels() {
    for (const ControlSpec& c : LABELS) platform::create_control(c);
    show_position_labels(machine_state.target_x, machine_state.target_y, machine_state.target_z);
}
