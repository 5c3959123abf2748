// dispatch.cpp - a control event runs the handler of its panel row; the shortcut table.
#include "app/dispatch.h"

#include "app/controls.h"
#include "app/digit_entry.h"
#include "app/panel.h"     // control_handler
#include "drive/motion.h"  // jog

void dispatch_control(int control_id) {
    if (void (*handler)() = control_handler(control_id)) handler();
}

bool dispatch_shortcut(int shortcut_id) {
    using namespace ids;
    bool close = false;
    switch (shortcut_id) {
        case SHORTCUT_ESC:
            close = true;
            break;
        case SHORTCUT_UP:
            jog(Axis::y, -1);
            break;
        case SHORTCUT_DOWN:
            jog(Axis::y, +1);
            break;
        case SHORTCUT_LEFT:
            jog(Axis::x, -1);
            break;
        case SHORTCUT_RIGHT:
            jog(Axis::x, +1);
            break;
        case SHORTCUT_A:
            jog(Axis::z, +1);
            break;
        case SHORTCUT_Z:
            jog(Axis::z, -1);
            break;
        case SHORTCUT_DIGIT_0:
            append_digit('0');
            break;
        default:
            if (shortcut_id >= SHORTCUT_DIGIT_1 && shortcut_id < SHORTCUT_DIGIT_1 + 9) {
                append_digit(static_cast<char>('1' + (shortcut_id - SHORTCUT_DIGIT_1)));
            }
            break;
    }
    digit_entry();
    return close;
}
