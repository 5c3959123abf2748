// window.h - the window toolkit the program needs: one window, its controls addressed by
// ControlId, shortcuts, the event poll, message box and file dialog, and the present.
// Declarations only: the controller links qt/, tests and the simulator link fake/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

struct DrawingArea;

enum class ControlKind {
    image_button,
    text_button,
    spin_field,
    check_box,
    frame,
    progress_bar,
    label,
    image_indicator,
};

// One control as the panel creates it; unused members are 0 or null.
struct ControlSpec {
    int id;
    ControlKind kind;
    int x, y, width, height;
    std::int32_t minimum, maximum;  // spin field and progress bar range
    int picture;                    // image button and indicator
    const char* text;               // text button, frame, label (UTF-8)
};

// Starts the drawing system; false when no display can be used.
bool start_drawing_system();
// Opens window 0 at (0, 0) with the given inner size and title; not resizable.
void open_window(int width, int height, std::string_view title);
// Places the drawing area inside window 0.
void open_drawing_area(int x, int y, int width, int height);
// Decodes one embedded BMP file as picture `picture_id`; false when it cannot be decoded.
bool load_picture(int picture_id, const std::uint8_t* bmp, std::size_t size);
// Makes a bare key raise a shortcut event with `shortcut_id` before the focused control sees it.
void register_shortcut(int key_code, int shortcut_id);
void create_control(const ControlSpec& control);

// Takes the next event without waiting: its kind, or ids::EVENT_NONE.
int poll_event();
// The control id or shortcut id of the event just polled.
int event_id();
// The id of the control that has the keyboard focus, -1 when none.
int focused_control();

// Control operations; none of them raises a control event. Spin fields bring a value
// outside their range to the nearest bound.
std::int32_t control_value(int id);
void set_control_value(int id, std::int32_t value);
void set_control_text(int id, std::string_view text);
void set_back_colour(int id, std::uint32_t rgb);
void set_progress_maximum(int id, std::int32_t maximum);
void set_control_picture(int id, int picture_id);
void hide_control(int id);
void show_control(int id);

// Modal box with one OK button; returns when it is closed.
void message_box(std::string_view title, std::string_view text);
// File-open dialog; `filter` holds "description|pattern" pairs separated by "|",
// `selected_filter` counts pairs from 0. Returns the chosen path, empty when cancelled.
std::string choose_file(std::string_view title, std::string_view start_folder,
                        std::string_view filter, int selected_filter);

// Shows the drawing area and waits for the next display frame.
void present(const DrawingArea& area);
// Releases the window and everything the toolkit holds.
void end_program();

}  // namespace platform
