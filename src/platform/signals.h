// signals.h - the termination signals (SIGTERM, SIGINT, SIGHUP: a logout, Ctrl-C, a kill): they
// ask the program to end the way the close box does, so that the parameters are still saved.
// A second one ends the program at once, for a main loop that cannot come to look at the
// request (stuck in a read from a file system that stopped answering).
// Declarations only: the controller links linux/, tests and the simulator link fake/.
#pragma once

namespace platform {

// From now on a termination signal only sets a request that the main loop reads once a pass,
// and a second one ends the program at once. A write to a closed pipe (standard error read by
// nobody) fails instead of killing the program.
void watch_termination_signals();
// True once a termination signal has come.
bool termination_requested();

// What the program saves when it ends at once: true when the parameters were written. It may
// run on a thread of its own while the main loop is anywhere, so it reads only state that it
// guards itself, and never the window toolkit.
using LastSave = bool (*)();
void set_last_save(LastSave save);

// Ends the program now, without its shutdown: runs the last save (given a second or two at
// most), writes "cncmirel: WHY: the parameters were saved" (or "were not saved") on standard
// error and exits with `status`.
[[noreturn]] void end_at_once(int status, const char* why);

}  // namespace platform
