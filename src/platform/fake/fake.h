// fake.h - the scriptable platform of tests and the simulator: a window record that takes
// scripted operator actions and logs what the program shows, a latch port with a write log,
// and a virtual clock. Nothing here touches a display, a port or real time.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/ids.h"
#include "platform/port.h"
#include "platform/raster.h"
#include "platform/signals.h"
#include "platform/window.h"

namespace fake {

struct Control {
    bool exists = false;
    platform::ControlKind kind = platform::ControlKind::label;
    int x = 0, y = 0, width = 0, height = 0;
    std::int32_t minimum = 0, maximum = 0;
    std::int32_t value = 0;
    std::int32_t progress_maximum = 0;
    std::string text;
    std::uint32_t back_colour = 0xFFFFFF;
    bool back_colour_set = false;
    bool visible = true;
    int picture = 0;
    int created_order = -1;
};

struct Message {
    std::string title;
    std::string text;
};

struct DialogCall {
    std::string title;
    std::string start_folder;
    std::string filter;
    int selected_filter = 0;
};

struct Event {
    int kind = 0;
    int id = 0;
};

struct WindowRecord {
    bool display_available = true;
    bool window_open = false;
    int width = 0, height = 0;
    std::string title;
    int area_x = 0, area_y = 0, area_width = 0, area_height = 0;
    std::array<bool, ids::PICTURE_COUNT + 1> pictures_loaded{};
    std::array<Control, ids::CONTROL_ID_LIMIT> controls{};
    int controls_created = 0;
    std::vector<std::pair<int, int>> shortcuts;  // key code, shortcut id, in registration order
    std::deque<Event> events;
    int current_event_id = 0;
    int focused = -1;
    std::vector<Message> messages;
    std::function<void(const Message&)> on_message;  // runs while the box is "open"
    std::deque<std::string> dialog_answers;          // empty: the dialog is cancelled
    std::vector<DialogCall> dialogs;
    std::int64_t presents = 0;
    int refresh_hz = 60;
    bool keep_frames = false;  // render each presented area into last_frame
    platform::Picture last_frame;
    bool ended = false;
    std::vector<std::string> call_log;  // names of start-up calls, in order
};
extern WindowRecord window;

// Forgets everything: a fresh display with no window.
void reset_window();

// Operator actions; each queues the event a real window would raise.
void push_event(int kind, int id = 0);
void click(int id);                             // button; a check box also toggles its tick
void change_field(int id, std::int32_t value);  // the operator edits a spin field
void press_shortcut(int shortcut_id);
void close_box();
void focus(int id);

struct PortWrite {
    std::int64_t time_ns;
    std::uint16_t address;
    std::uint8_t value;
};

struct PortRecord {
    bool access = true;  // false: writes do nothing, reads yield 0
    platform::PortProblem problem = platform::PortProblem::no_device;  // told without access
    std::string device = "/dev/parport0";                              // as set_port_device names
    std::uint8_t latch = 0;
    bool keep_log = true;
    std::vector<PortWrite> writes;
    int read_count = 0;
    std::function<void(std::uint8_t)> on_write;  // observer, for tools
};
extern PortRecord port;
void reset_port();
// The values written, in order (the log's bytes only).
std::vector<std::uint8_t> written_bytes();

struct ClockRecord {
    std::int64_t now_ns = 0;
    std::int64_t slept_ns = 0;  // total of the waits asked of sleep_until_ns, wait_until_ns
};
extern ClockRecord clock;
void reset_clock();

// Termination signals: whether the program asked to hear them, whether one "came", and the
// save the program gave for ending at once.
struct TerminationRecord {
    bool watching = false;
    bool requested = false;
    platform::LastSave last_save = nullptr;
};
extern TerminationRecord termination;
void reset_termination();

// Resets window, port, clock and signals together.
inline void reset_all() {
    reset_window();
    reset_port();
    reset_clock();
    reset_termination();
}

}  // namespace fake
