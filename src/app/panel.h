// panel.h - the control panel: every control with its place, size, range, text or picture, in
// creation order; the text labels; the seventeen shortcuts; the pictures.
#pragma once

#include <cstddef>
#include <span>

#include "platform/window.h"

// The handler of a control's events, registered in its row of the panel; null when none.
void (*control_handler(int control_id))();
// The text labels, created after the parameters are loaded.
std::span<const platform::ControlSpec> panel_labels();

struct ShortcutSpec {
    int key_code;
    int shortcut_id;
};
// The seventeen shortcuts in registration order.
std::span<const ShortcutSpec> panel_shortcuts();

// Decodes the nine embedded pictures as pictures 1 to 9.
void load_panel_pictures();
void register_panel_shortcuts();
void create_panel();
// Creates labels 70 to 77; the position labels show the current targets.
void create_panel_labels();
