// digit_entry.cpp - the shared digit buffer and its entry into the focused field.
#include "app/digit_entry.h"

#include "app/controls.h"
#include "platform/window.h"

std::string digit_buffer;

void append_digit(char digit) {
    digit_buffer.push_back(digit);
}

void digit_entry() {
    const int focused = platform::focused_control();
    std::int32_t value = 0;
    if (digit_buffer.size() == 5) {
        digit_buffer.clear();
    } else {
        // At most four digits are held between events, so the value fits any field's digits.
        for (const char c : digit_buffer) value = value * 10 + (c - '0');
    }
    if (!ids::is_field(focused)) return;
    // The field brings the value to its range (a minimum of 1 turns 0 into 1).
    platform::set_control_value(focused, value);
    platform::set_back_colour(focused, ids::COLOUR_CHANGED);
}
