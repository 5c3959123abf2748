// program.h - the program's life: start-up, one pass of the main loop, shutdown, and the reset
// of every program-wide record (used by start-up and by every test fixture).
#pragma once

// True when the last pass run was a moving pass (a tool's dry run counts them).
extern bool last_pass_was_moving;

// Clears every program-wide record to its state before start-up.
void reset_program_state();
// Start-up in its fixed order; false when no display could be used ("Screen error" shown).
bool start_up();
// One pass of the main loop; true when the loop ends after it.
bool run_pass();
// Writes the parameters back and ends the program.
void shut_down();
// The whole program; returns the exit status (non-zero after "Screen error").
int run_program();
