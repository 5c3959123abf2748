// run_control.cpp - Start, Pause, Stop, completion and progress.
#include "run/run_control.h"

#include <algorithm>
#include <limits>

#include "app/ids.h"
#include "app/texts.h"
#include "drive/motion.h"
#include "jobs/job.h"
#include "platform/window.h"

RunControl run_control;

namespace {

void set_run_controls_visible(bool visible) {
    for (int id = ids::OPEN_FILE_BUTTON; id <= ids::OK_PORT; ++id) {
        if (visible) {
            platform::show_control(id);
        } else {
            platform::hide_control(id);
        }
    }
}

// A Start after the job ran to its end begins it again from the first byte.
void restart_completed_job() {
    const std::int64_t size = std::clamp<std::int64_t>(job_state.file_identity.size, 0,
                                                       std::numeric_limits<std::int32_t>::max());
    job_state.job_position = 0;
    job_state.job_length = static_cast<std::int32_t>(size);
    job_state.pen_state = 0;
    run_control.completed = false;
}

}  // namespace

void start_job() {
    if (job_state.job_file_name.empty() || run_control.running) return;
    if (run_control.completed) restart_completed_job();
    set_run_controls_visible(false);
    platform::set_progress_maximum(ids::PROGRESS_BAR, job_state.job_length);
    const std::string ext = job_file_extension(job_state.job_file_name);
    if (ext == "drl") {
        run_control.run_state = drill_fetch;
    } else if (ext == "plt") {
        run_control.run_state = mill_fetch;
    }
    run_control.work_pending = false;
    run_control.point_taken = false;
    run_control.completion_reported = false;
    machine_state.move_requested = true;
    run_control.running = true;
}

void toggle_pause() {
    machine_state.paused = !machine_state.paused && !job_state.job_file_name.empty();
}

void stop_job() {
    if (!job_state.job_file_name.empty() && run_control.running) {
        set_run_controls_visible(true);
        run_control.run_state = state_none;
        machine_state.move_requested = false;
        run_control.running = false;
    }
    halt_motion();
}

void abort_unreadable_job() {
    stop_job();
    platform::message_box(texts::FILE_NOT_OPENED, texts::FILE_NOT_OPENED);
}

void check_completion() {
    if (!run_control.running || run_control.completion_reported) return;
    if (job_state.job_position != job_state.job_length) return;
    // A hole or cut taken with the end of the file is worked first; the next fetch, finding
    // nothing, completes the job.
    if (run_control.work_pending) return;
    run_control.completion_reported = true;
    run_control.completed = true;
    // A job that ran to its end without a single point did nothing: that is not a success.
    const char* text = run_control.point_taken ? texts::PROGRAM_FINISHED : texts::NO_POINTS;
    platform::message_box(text, text);
    job_state.job_length = 0;
    run_control.run_state = state_none;
}

void show_progress() {
    platform::set_control_value(
        ids::PROGRESS_BAR, run_control.running ? job_state.job_position : machine_state.step_count);
}
