// run_control.cpp - Start, Pause, Stop, completion and progress.
#include "run/run_control.h"

#include <algorithm>
#include <limits>

#include "base/job_kind.h"  // job_kind_of
#include "base/texts.h"
#include "drive/motion.h"  // machine_state, halt_motion
#include "jobs/job.h"      // job_state

RunControl run_control;

namespace {

// A Start after the job ran to its end begins it again from the first byte.
void restart_completed_job() {
    const std::int64_t size = std::clamp<std::int64_t>(job_state.file_fingerprint.identity.size, 0,
                                                       std::numeric_limits<std::int32_t>::max());
    job_state.job_position = 0;
    job_state.job_length = static_cast<std::int32_t>(size);
    job_state.pen_state = 0;
    run_control.completed = false;
}

}  // namespace

bool start_job() {
    if (job_state.job_file_name.empty() || run_control.running) return false;
    if (run_control.completed) restart_completed_job();
    const JobKind kind = job_kind_of(job_state.job_file_name);
    if (kind == JobKind::drilling) {
        run_control.run_state = drill_fetch;
    } else if (kind == JobKind::milling) {
        run_control.run_state = mill_fetch;
    }
    run_control.work_pending = false;
    run_control.point_taken = false;
    machine_state.move_requested = true;
    run_control.running = true;
    return true;
}

void toggle_pause() {
    machine_state.paused = !machine_state.paused && !job_state.job_file_name.empty();
}

bool stop_job() {
    bool ended = false;
    if (!job_state.job_file_name.empty() && run_control.running) {
        ended = true;
        run_control.run_state = state_none;
        machine_state.move_requested = false;
        run_control.running = false;
    }
    halt_motion();
    return ended;
}

RunNotice abort_unreadable_job() {
    return {stop_job(), texts::FILE_NOT_OPENED};
}

const char* check_completion() {
    if (!run_control.running || run_control.completed) return nullptr;
    if (job_state.job_position != job_state.job_length) return nullptr;
    // A hole or cut taken with the end of the file is worked first; the next fetch, finding
    // nothing, completes the job.
    if (run_control.work_pending) return nullptr;
    run_control.completed = true;
    // A job that ran to its end without a single point did nothing: that is not a success.
    const char* text = run_control.point_taken ? texts::PROGRAM_FINISHED : texts::NO_POINTS;
    job_state.job_length = 0;
    run_control.run_state = state_none;
    return text;
}

std::int32_t progress_value() {
    return run_control.running ? job_state.job_position : machine_state.step_count;
}
