// program.cpp - start-up in its fixed order, one pass of the main loop, and shutdown.
#include "app/program.h"

#include "app/controls.h"
#include "app/digit_entry.h"
#include "app/dispatch.h"
#include "app/handlers.h"
#include "app/panel.h"
#include "app/param_file.h"
#include "app/parameters.h"
#include "base/settings.h"
#include "base/texts.h"
#include "drive/motion.h"
#include "drive/port_panel.h"
#include "jobs/job.h"
#include "jobs/preview.h"
#include "platform/clock.h"
#include "platform/port.h"
#include "platform/signals.h"
#include "platform/window.h"
#include "run/mill_run.h"
#include "run/moving_pass.h"
#include "run/run_control.h"

bool last_pass_was_moving = false;

void reset_program_state() {
    last_pass_was_moving = false;
    machine_state = MachineState{};
    applied_settings = AppliedSettings{};
    job_state = JobState{};
    run_control = RunControl{};
    mill_segment = MillSegment{};
    port_panel = PortPanel{};
    digit_buffer.clear();
    run_mark_observer = nullptr;
}

bool start_up() {
    reset_program_state();
    const bool port_reachable = platform::port_setup();
    if (!platform::start_drawing_system()) {
        platform::message_box(texts::SCREEN_ERROR, texts::SCREEN_ERROR);
        return false;
    }
    platform::open_window(ids::W, ids::H, texts::WINDOW_TITLE);
    platform::open_drawing_area(5, 5, ids::W - 250, ids::H - 40);
    load_panel_pictures();
    // The field colours are the constants COLOUR_CHANGED and COLOUR_APPLIED.
    create_preview(ids::W - 250, ids::H - 40);
    register_panel_shortcuts();
    create_panel();
    set_default_fields();
    // Should the program have to end at once (a lost display, a second termination signal),
    // the fields as the last pass left them are saved, the defaults while none ran yet.
    remember_parameters();
    platform::set_last_save(save_remembered_parameters);
    load_parameters();
    apply_all();
    remember_parameters();
    create_panel_labels();
    platform::prepare_step_timing();
    // Said once the window is open: without it the counters and the preview would move as if
    // the machine did.
    if (!port_reachable) show_no_port_access();
    return true;
}

bool run_pass() {
    int event = platform::poll_event();
    if (event == ids::EVENT_CONTROL) {
        dispatch_control(platform::event_id());
    } else if (event == ids::EVENT_SHORTCUT && !run_control.running) {
        // Esc turns the pass into a closing one: the rest of it runs as usual.
        if (dispatch_shortcut(platform::event_id())) event = ids::EVENT_CLOSE;
    }
    show_port_lines(read_port_lines());
    last_pass_was_moving = machine_state.move_requested && !machine_state.paused;
    if (last_pass_was_moving) {
        show_run_notice(run_hooks());
        move_one_step();
        show_port_lines(read_port_lines());
        show_position_labels(machine_state.current_x, machine_state.current_y,
                             machine_state.current_z);
        platform::set_control_value(ids::PROGRESS_BAR, progress_value());
    } else {
        idle_pass();
        platform::set_control_value(ids::PROGRESS_BAR, 0);
    }
    compose_preview();
    platform::present(drawing_area);
    platform::clear_area(drawing_area, COLOUR_AREA_BACKGROUND);
    remember_parameters();
    // A termination signal ends the program as the close box does.
    return event == ids::EVENT_CLOSE || platform::termination_requested();
}

void shut_down() {
    save_parameters();
    platform::end_program();
    platform::port_teardown();
}

int run_program() {
    platform::watch_termination_signals();
    if (!start_up()) {
        platform::end_program();
        platform::port_teardown();
        return 1;
    }
    while (!run_pass()) {
    }
    shut_down();
    return 0;
}
