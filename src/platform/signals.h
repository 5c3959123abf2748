// signals.h - the termination signals (SIGTERM, SIGINT, SIGHUP: a logout, Ctrl-C, a kill): they
// ask the program to end the way the close box does, so that the parameters are still saved.
// Declarations only: the controller links linux/, tests and the simulator link fake/.
#pragma once

namespace platform {

// From now on a termination signal only sets a request that the main loop reads once a pass.
// A write to a closed pipe (standard error read by nobody) fails instead of killing the program.
void watch_termination_signals();
// True once a termination signal has come.
bool termination_requested();

}  // namespace platform
