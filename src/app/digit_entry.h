// digit_entry.h - typing numbers into the focused parameter field with the digit shortcuts.
// Owns digit_buffer, shared by all fields and kept when the focus moves.
#pragma once

#include <string>

extern std::string digit_buffer;

// Appends one digit character ('0'..'9') to the buffer.
void append_digit(char digit);
// Runs after every handled shortcut: puts the buffer's value into the focused field, or on the
// fifth digit empties the buffer and sets the field to 0.
void digit_entry();
