// handlers.h - what the panel's controls do: each handler reads its fields, calls the core with
// plain values and shows what the core returns. The panel table names a handler in each row;
// the main loop uses the show_ functions after each pass.
#pragma once

#include <cstdint>

#include "drive/port_panel.h"  // PortLines
#include "run/run_control.h"   // RunNotice

void on_jog_y_minus();
void on_jog_y_plus();
void on_jog_x_plus();
void on_jog_x_minus();
void on_jog_z_plus();
void on_jog_z_minus();
void on_start();
void on_pause();
void on_stop();
void on_open_file();
void on_ok_backlash();
void on_ok_steps_per_mm();
void on_ok_table_size();
void on_ok_time_depth_scale();
void on_ok_go_to();
void on_ok_port();
// Any parameter field changed: recolours all fifteen.
void on_field_changed();
// Any port check box changed: the panel byte from boxes 47 down to 40, shown in its label.
void on_port_check();

// A message box whose title is its text; nothing for null.
void show_message(const char* text);
// The box that says the port cannot be reached, with the cause on its second line.
void show_no_port_access();
// The three step counts in the position labels.
void show_position_labels(std::int32_t x, std::int32_t y, std::int32_t z);
// The indicators of the lines that changed, indicator 80 for bit 0.
void show_port_lines(const PortLines& lines);
// The run's notice: the run controls back when the run ended, then its message.
void show_run_notice(const RunNotice& notice);
