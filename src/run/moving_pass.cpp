// moving_pass.cpp - the fixed order of one moving pass.
#include "run/moving_pass.h"

#include "drive/motion.h"
#include "run/drill_run.h"
#include "run/mill_run.h"
#include "run/run_control.h"

namespace {

void arrival() {
    switch (run_control.run_state) {
        case drill_travel:
        case drill_plunge:
            drill_arrival();
            break;
        case mill_travel:
        case mill_substep_travel:
            mill_arrival();
            break;
        default:
            // Nothing further to do: jog, go-to, or a finished or stopped job.
            machine_state.move_requested = false;
            break;
    }
}

}  // namespace

RunNotice run_hooks() {
    RunNotice notice;
    if (run_control.run_state == drill_fetch && !drill_fetch_hook()) {
        notice = abort_unreadable_job();
    }
    if (run_control.run_state == mill_fetch && !mill_fetch_hook()) notice = abort_unreadable_job();
    if (run_control.run_state == mill_substep) mill_substep_hook();
    end_of_segment_test();
    // A stopped run is never complete: at most one message per pass.
    if (const char* completion = check_completion()) notice.message = completion;
    return notice;
}

void move_one_step() {
    clamp_targets();
    if (!motion_step()) arrival();
}
