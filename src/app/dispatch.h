// dispatch.h - what a control event and a shortcut event do: the two tables of the main loop.
#pragma once

// Runs the handler of a control event; ids without a handler are ignored.
void dispatch_control(int control_id);
// Runs the handler of a shortcut event (only while no job runs), then digit entry. Returns
// true when the shortcut asks the loop to end (Esc).
bool dispatch_shortcut(int shortcut_id);
