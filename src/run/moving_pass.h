// moving_pass.h - the pass of the main loop that moves the machine: the run hooks in their
// fixed order, the completion test, the clamp, one step, the arrival transition.
#pragma once

void moving_pass();
