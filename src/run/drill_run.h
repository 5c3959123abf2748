// drill_run.h - the drilling run: fetch the next hole, travel Z, Y, X to it, mark it, plunge
// to the working depth, and send Z back to the travel height on the way to the next hole.
#pragma once

// Moving-pass hook in drill_fetch: the next hole becomes the X and Y targets; false when the job
// file can no longer be read (nothing changed).
bool drill_fetch_hook();
// Arrival in drill_travel or drill_plunge.
void drill_arrival();
