// motion.h - machine position and the one-step-per-pass motion: jog, go-to, halt, the target
// clamp, the motion step and the idle pass. Owns machine_state; the only code that changes
// current_x/y/z.
#pragma once

#include <cstdint>

struct MachineState {
    std::int32_t target_x = 0, target_y = 0, target_z = 0;                    // steps
    std::int32_t current_x = 0, current_y = 0, current_z = 0;                 // steps
    std::int32_t travel_limit_x = 0, travel_limit_y = 0, travel_limit_z = 0;  // largest target
    std::int32_t travel_height_z = 0;  // raised Z of the runs, steps
    bool move_requested = false;       // every pass is a moving pass while not paused
    bool paused = false;               // every pass is an idle pass
    std::int32_t step_count = 0;       // steps since the last idle pass
    std::int32_t step_delay_ms = 1;    // phase wait
};
extern MachineState machine_state;

enum class Axis { x, y, z };

// Millimetres times steps per millimetre, saturated to int32.
std::int32_t mm_to_steps(std::int32_t mm, std::int32_t steps_per_mm);

// Adds delta (+1 or -1) to the axis target and requests a move; the next clamp limits it.
void jog(Axis axis, std::int32_t delta);
struct GoToResult {
    bool taken[3];        // X, Y, Z: the go-to lies inside the table and became the target
    bool move_requested;  // no axis was refused
    std::int32_t progress_maximum;  // steps to go on all three axes, when a move is requested
};
// The go-to "Ok": each axis (X, Y, Z) whose go-to lies inside the table becomes its target; a
// refused axis cancels the move request. Z also sets the travel height.
GoToResult go_to_position(const std::int32_t (&goto_mm)[3], const std::int32_t (&table_mm)[3]);
// Every target becomes its axis's current position: a move under way ends with the next pass.
void halt_motion();
// Brings each target into 0..travel limit, X, then Y, then Z.
void clamp_targets();
// One step cycle on the first of Z, Y, X not at its target; false when all are there.
bool motion_step();
// The pass while nothing moves: step count 0, the manual byte on the port.
void idle_pass();
