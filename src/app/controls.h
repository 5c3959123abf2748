// controls.h - the panel's ids: the window size every position is an offset from, the controls
// of window 0, the shortcut ids and the field colours. Data only; a new control touches app/
// alone (within ids::CONTROL_ID_LIMIT).
#pragma once

#include <cstdint>

#include "base/ids.h"  // event kinds, CONTROL_ID_LIMIT, key codes, pictures

namespace ids {

// Window size: every panel position is an offset from these, computed once.
inline constexpr int W = 1024;
inline constexpr int H = 768;

// Controls of window 0.
inline constexpr int JOG_Y_MINUS = 1;
inline constexpr int JOG_Y_PLUS = 2;
inline constexpr int JOG_X_PLUS = 3;
inline constexpr int JOG_X_MINUS = 4;
inline constexpr int JOG_Z_PLUS = 5;
inline constexpr int JOG_Z_MINUS = 6;
inline constexpr int START_BUTTON = 7;
inline constexpr int PAUSE_BUTTON = 8;
inline constexpr int STOP_BUTTON = 9;
inline constexpr int OPEN_FILE_BUTTON = 10;
inline constexpr int OK_BACKLASH = 11;
inline constexpr int OK_STEPS_PER_MM = 12;
inline constexpr int OK_TABLE_SIZE = 13;
inline constexpr int OK_TIME_DEPTH_SCALE = 14;
inline constexpr int OK_GOTO = 15;
inline constexpr int OK_PORT = 16;

inline constexpr int FIELD_FIRST = 20;  // backlash_x
inline constexpr int FIELD_LAST = 34;   // goto_z
inline constexpr int FIELD_COUNT = FIELD_LAST - FIELD_FIRST + 1;
inline constexpr int FIELD_BACKLASH_X = 20;
inline constexpr int FIELD_BACKLASH_Y = 21;
inline constexpr int FIELD_BACKLASH_Z = 22;
inline constexpr int FIELD_STEPS_PER_MM_X = 23;
inline constexpr int FIELD_STEPS_PER_MM_Y = 24;
inline constexpr int FIELD_STEPS_PER_MM_Z = 25;
inline constexpr int FIELD_TABLE_SIZE_X = 26;
inline constexpr int FIELD_TABLE_SIZE_Y = 27;
inline constexpr int FIELD_TABLE_SIZE_Z = 28;
inline constexpr int FIELD_TIME_MS = 29;
inline constexpr int FIELD_DEPTH_MM = 30;
inline constexpr int FIELD_SCALE_PERCENT = 31;
inline constexpr int FIELD_GOTO_X = 32;
inline constexpr int FIELD_GOTO_Y = 33;
inline constexpr int FIELD_GOTO_Z = 34;

inline constexpr int PORT_CHECK_FIRST = 40;  // bit 0
inline constexpr int PORT_CHECK_LAST = 47;   // bit 7
inline constexpr int FRAME_FIRST = 50;
inline constexpr int FRAME_LAST = 59;
inline constexpr int PROGRESS_BAR = 60;
inline constexpr int LABEL_AXES = 70;
inline constexpr int LABEL_BITS = 71;
inline constexpr int LABEL_STEPS = 72;
inline constexpr int LABEL_PANEL_BYTE = 73;
inline constexpr int LABEL_POSITION_X = 74;
inline constexpr int LABEL_POSITION_Y = 75;
inline constexpr int LABEL_POSITION_Z = 76;
inline constexpr int LABEL_PROGRAM_TYPE = 77;
inline constexpr int INDICATOR_FIRST = 80;  // bit 0
inline constexpr int INDICATOR_LAST = 87;   // bit 7

// Shortcut ids (8 and 9 are never registered).
inline constexpr int SHORTCUT_ESC = 1;
inline constexpr int SHORTCUT_UP = 2;
inline constexpr int SHORTCUT_DOWN = 3;
inline constexpr int SHORTCUT_LEFT = 4;
inline constexpr int SHORTCUT_RIGHT = 5;
inline constexpr int SHORTCUT_A = 6;
inline constexpr int SHORTCUT_Z = 7;
inline constexpr int SHORTCUT_DIGIT_1 = 10;  // 10..18 are the digits 1..9
inline constexpr int SHORTCUT_DIGIT_0 = 19;

// Back colours of the parameter fields, 0xRRGGBB.
inline constexpr std::uint32_t COLOUR_CHANGED = 0xFFFFFF;
inline constexpr std::uint32_t COLOUR_APPLIED = 0xC6C6C6;

inline constexpr bool is_field(int id) {
    return id >= FIELD_FIRST && id <= FIELD_LAST;
}

}  // namespace ids
