// moving_pass.h - the pass of the main loop that moves the machine, in two parts around what the
// panel shows: the run hooks in their fixed order and the completion test, then the clamp, one
// step and the arrival transition.
#pragma once

#include "run/run_control.h"  // RunNotice

// The first part: the fetch and sub-step hooks, the end-of-segment test and the completion
// test. The notice is shown before the second part runs.
RunNotice run_hooks();
// The second part: the clamp of the targets, at most one step, the arrival transition.
void move_one_step();
