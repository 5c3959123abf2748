// drill_run.cpp - the drilling run's two hooks.
#include "run/drill_run.h"

#include "base/settings.h"
#include "drive/motion.h"
#include "jobs/drill_file.h"
#include "jobs/job.h"
#include "jobs/preview.h"
#include "run/run_control.h"

bool drill_fetch_hook() {
    if (job_state.job_file_name.empty()) return true;
    const DrillPoint point =
        fetch_drill_point(job_state.job_file_name, applied_settings.scale_percent,
                          job_state.job_position, &job_state.file_fingerprint);
    // A job file that vanished, is no longer the file opened or holds other bytes than the scan
    // read ends the run; nothing moves to its points.
    if (!point.readable) {
        return false;
    }
    machine_state.target_x = mm_to_steps(point.x_mm, applied_settings.steps_per_mm_x);
    machine_state.target_y = mm_to_steps(point.y_mm, applied_settings.steps_per_mm_y);
    job_state.job_position = point.next_position;
    // No hole left ends the job as "M30" does (the travel to X 0, Y 0 follows).
    if (!point.found) job_state.job_position = job_state.job_length;
    run_control.work_pending = point.found;
    run_control.point_taken = run_control.point_taken || point.found;
    run_control.run_state = drill_travel;
    return true;
}

void drill_arrival() {
    MachineState& m = machine_state;
    if (run_control.run_state == drill_travel && run_control.running) {
        draw_run_mark(MarkKind::hole, m.current_x / applied_settings.steps_per_mm_x,
                      m.current_y / applied_settings.steps_per_mm_y);
        m.target_z = applied_settings.depth_steps;
        run_control.run_state = drill_plunge;
    } else if (run_control.run_state == drill_plunge) {
        m.target_z = m.travel_height_z;
        run_control.run_state = drill_fetch;
    }
}
