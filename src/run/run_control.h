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
    bool running = false;       // from an accepted Start until an accepted Stop
    bool work_pending = false;  // the last fetch took a point still to be worked
    bool point_taken = false;   // a fetch took a point (hole, travel or cut) since Start
    bool completed = false;     // the job ran to its end (told once); a Start begins it again
};
extern RunControl run_control;

// What a moving pass asks the panel to show before the machine moves on.
struct RunNotice {
    bool run_ended = false;         // the run stopped: its controls come back
    const char* message = nullptr;  // a message box (title and text alike)
};

// The start button: arms the run of the loaded job; true when a run started (its controls go,
// the progress bar counts to job_length).
bool start_job();
// The pause button.
void toggle_pause();
// The stop button: ends a running job, then halts any motion; true when a run ended.
bool stop_job();
// Ends the run because its job file can no longer be read.
RunNotice abort_unreadable_job();
// In every moving pass after the job hooks: the end of the job, told once (else null).
const char* check_completion();
// The progress bar at the end of a moving pass: the byte position while running, else the step
// count.
std::int32_t progress_value();
