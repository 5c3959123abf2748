// fake_window.cpp - the scripted window: controls in an array by id, events in a queue,
// messages and dialogs logged and answered at once.
#include <algorithm>
#include <string>

#include "platform/fake/fake.h"
#include "platform/window.h"

namespace fake {

WindowRecord window;

void reset_window() {
    window = WindowRecord{};
}

void push_event(int kind, int id) {
    window.events.push_back({kind, id});
}

void click(int id) {
    Control& c = window.controls[id];
    if (c.kind == platform::ControlKind::check_box) c.value = c.value ? 0 : 1;
    push_event(ids::EVENT_CONTROL, id);
}

void change_field(int id, std::int32_t value) {
    Control& c = window.controls[id];
    c.value = std::clamp(value, c.minimum, c.maximum);
    c.text = std::to_string(c.value);
    push_event(ids::EVENT_CONTROL, id);
}

void press_shortcut(int shortcut_id) {
    push_event(ids::EVENT_SHORTCUT, shortcut_id);
}

void close_box() {
    push_event(ids::EVENT_CLOSE, 0);
}

void focus(int id) {
    window.focused = id;
}

namespace {
Control* control(int id) {
    if (id < 0 || id >= ids::CONTROL_ID_LIMIT) return nullptr;
    Control& c = window.controls[id];
    return c.exists ? &c : nullptr;
}
}  // namespace

}  // namespace fake

namespace platform {

using fake::window;

bool start_drawing_system() {
    window.call_log.push_back("start_drawing_system");
    return window.display_available;
}

void open_window(int width, int height, std::string_view title) {
    window.call_log.push_back("open_window");
    window.window_open = true;
    window.width = width;
    window.height = height;
    window.title = std::string(title);
}

void open_drawing_area(int x, int y, int width, int height) {
    window.call_log.push_back("open_drawing_area");
    window.area_x = x;
    window.area_y = y;
    window.area_width = width;
    window.area_height = height;
}

bool load_picture(int picture_id, const std::uint8_t* bmp, std::size_t size) {
    if (picture_id < 1 || picture_id > ids::PICTURE_COUNT) return false;
    // The same header checks a real decoder makes: "BM" and the size it declares.
    const bool ok =
        size >= 54 && bmp[0] == 'B' && bmp[1] == 'M' &&
        (bmp[2] | bmp[3] << 8 | bmp[4] << 16 | static_cast<std::size_t>(bmp[5]) << 24) == size;
    window.pictures_loaded[picture_id] = ok;
    if (picture_id == 1) window.call_log.push_back("load_pictures");
    return ok;
}

void register_shortcut(int key_code, int shortcut_id) {
    if (window.shortcuts.empty()) window.call_log.push_back("register_shortcuts");
    window.shortcuts.emplace_back(key_code, shortcut_id);
}

void create_control(const ControlSpec& desc) {
    if (desc.id < 0 || desc.id >= ids::CONTROL_ID_LIMIT) return;
    fake::Control& c = window.controls[desc.id];
    c = fake::Control{};
    c.exists = true;
    c.kind = desc.kind;
    c.x = desc.x;
    c.y = desc.y;
    c.width = desc.width;
    c.height = desc.height;
    c.minimum = desc.minimum;
    c.maximum = desc.maximum;
    c.picture = desc.picture;
    c.text = desc.text ? desc.text : "";
    c.created_order = window.controls_created++;
    if (desc.kind == ControlKind::spin_field) {
        c.value = desc.minimum;
        c.text = std::to_string(c.value);
    }
    if (desc.kind == ControlKind::progress_bar) c.progress_maximum = desc.maximum;
}

int poll_event() {
    if (window.events.empty()) return 0;
    const fake::Event e = window.events.front();
    window.events.pop_front();
    window.current_event_id = e.id;
    return e.kind;
}

int event_id() {
    return window.current_event_id;
}

int focused_control() {
    return window.focused;
}

std::int32_t control_value(int id) {
    const fake::Control* c = fake::control(id);
    return c ? c->value : 0;
}

void set_control_value(int id, std::int32_t value) {
    fake::Control* c = fake::control(id);
    if (!c) return;
    if (c->kind == ControlKind::spin_field) {
        c->value = std::clamp(value, c->minimum, c->maximum);
        c->text = std::to_string(c->value);
    } else if (c->kind == ControlKind::progress_bar) {
        c->value = std::clamp(value, c->minimum, std::max(c->minimum, c->progress_maximum));
    } else {
        c->value = value;
    }
}

void set_control_text(int id, std::string_view text) {
    if (fake::Control* c = fake::control(id)) c->text.assign(text.data(), text.size());
}

void set_back_colour(int id, std::uint32_t rgb) {
    if (fake::Control* c = fake::control(id)) {
        c->back_colour = rgb;
        c->back_colour_set = true;
    }
}

void set_progress_maximum(int id, std::int32_t maximum) {
    if (fake::Control* c = fake::control(id)) c->progress_maximum = maximum;
}

void set_control_picture(int id, int picture_id) {
    if (fake::Control* c = fake::control(id)) c->picture = picture_id;
}

void hide_control(int id) {
    if (fake::Control* c = fake::control(id)) c->visible = false;
}

void show_control(int id) {
    if (fake::Control* c = fake::control(id)) c->visible = true;
}

void message_box(std::string_view title, std::string_view text) {
    window.messages.push_back({std::string(title), std::string(text)});
    if (window.on_message) window.on_message(window.messages.back());
}

std::string choose_file(std::string_view title, std::string_view start_folder,
                        std::string_view filter, int selected_filter) {
    window.dialogs.push_back(
        {std::string(title), std::string(start_folder), std::string(filter), selected_filter});
    if (window.dialog_answers.empty()) return {};
    std::string answer = window.dialog_answers.front();
    window.dialog_answers.pop_front();
    return answer;
}

void present(const DrawingArea& area) {
    ++window.presents;
    if (window.keep_frames) render_area(area, window.last_frame);
    // The next frame boundary of the virtual display.
    const std::int64_t frame = 1'000'000'000LL / std::max(1, window.refresh_hz);
    fake::clock.now_ns = (fake::clock.now_ns / frame + 1) * frame;
}

void end_program() {
    window.ended = true;
}

}  // namespace platform
