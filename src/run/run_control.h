// run_control.h - starting, pausing and stopping a job, the run state the drilling and milling
// runs advance, the completion test and the progress bar. Owns run_control.
#pragma once

#include <cstdint>

enum RunState : std::uint8_t {
    state_none = 0,
    drill_fetch = 1,
    drill_travel = 2,
    drill_plunge = 3,
    mill_fetch = 5,
    mill_substep = 7,
    mill_substep_travel = 8,
    mill_travel = 10,
};

struct RunControl {
    RunState run_state = state_none;
    bool running = false;              // from an accepted Start until an accepted Stop
    bool work_pending = false;         // the last fetch took a point still to be worked
    bool point_taken = false;          // a fetch took a point (hole, travel or cut) since Start
    bool completion_reported = false;  // "finished" shown since the last Start
    bool completed = false;            // the job ran to its end; a Start begins it again
};
extern RunControl run_control;

// Handler of the start button: arms the run of the loaded job.
void start_job();
// Handler of the pause button.
void toggle_pause();
// Handler of the stop button: ends a running job, then halts any motion.
void stop_job();
// Ends the run because its job file can no longer be read, and tells the operator.
void abort_unreadable_job();
// In every moving pass after the job hooks: reports the end of the job once.
void check_completion();
// At the end of a moving pass: the byte position while running, else the step count.
void show_progress();
