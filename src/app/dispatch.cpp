// dispatch.cpp - the control table and the shortcut table.
#include "app/dispatch.h"

#include "app/digit_entry.h"
#include "app/ids.h"
#include "app/parameters.h"
#include "drive/motion.h"
#include "drive/port_panel.h"
#include "jobs/preview.h"
#include "run/run_control.h"

void dispatch_control(int control_id) {
    using namespace ids;
    switch (control_id) {
        case JOG_Y_MINUS: jog(Axis::y, -1); break;
        case JOG_Y_PLUS: jog(Axis::y, +1); break;
        case JOG_X_PLUS: jog(Axis::x, +1); break;
        case JOG_X_MINUS: jog(Axis::x, -1); break;
        case JOG_Z_PLUS: jog(Axis::z, +1); break;
        case JOG_Z_MINUS: jog(Axis::z, -1); break;
        case START_BUTTON: start_job(); break;
        case PAUSE_BUTTON: toggle_pause(); break;
        case STOP_BUTTON: stop_job(); break;  // halts the motion in every case
        case OPEN_FILE_BUTTON: open_job_file(); break;
        case OK_BACKLASH: apply_backlash(); break;
        case OK_STEPS_PER_MM: apply_steps_per_mm(); break;
        case OK_TABLE_SIZE: apply_table_size(); break;
        case OK_TIME_DEPTH_SCALE: apply_time_depth_scale(); break;
        case OK_GOTO: go_to_position(); break;
        case OK_PORT: apply_manual_port_byte(); break;
        default:
            if (is_field(control_id)) {
                colour_fields();
            } else if (control_id >= PORT_CHECK_FIRST && control_id <= PORT_CHECK_LAST) {
                compose_panel_byte();
            }
            break;
    }
}

bool dispatch_shortcut(int shortcut_id) {
    using namespace ids;
    bool close = false;
    switch (shortcut_id) {
        case SHORTCUT_ESC: close = true; break;
        case SHORTCUT_UP: jog(Axis::y, -1); break;
        case SHORTCUT_DOWN: jog(Axis::y, +1); break;
        case SHORTCUT_LEFT: jog(Axis::x, -1); break;
        case SHORTCUT_RIGHT: jog(Axis::x, +1); break;
        case SHORTCUT_A: jog(Axis::z, +1); break;
        case SHORTCUT_Z: jog(Axis::z, -1); break;
        case SHORTCUT_DIGIT_0: append_digit('0'); break;
        default:
            if (shortcut_id >= SHORTCUT_DIGIT_1 && shortcut_id < SHORTCUT_DIGIT_1 + 9) {
                append_digit(static_cast<char>('1' + (shortcut_id - SHORTCUT_DIGIT_1)));
            }
            break;
    }
    digit_entry();
    return close;
}
