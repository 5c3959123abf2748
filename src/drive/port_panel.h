// port_panel.h - the manual port panel: the byte composed with the eight check boxes, the
// manual byte that stands on the lines at rest, and the eight indicators of the lines.
#pragma once

#include <cstdint>

struct PortPanel {
    std::uint8_t panel_byte = 0;        // composed from the check boxes
    std::uint8_t manual_port_byte = 0;  // written in every idle pass
    std::int32_t shown_byte = -1;       // byte the indicators show now, -1 before the first read
};
extern PortPanel port_panel;

// A check box changed: the panel byte becomes `byte` (the eight boxes, box 40 for bit 0).
void set_panel_byte(std::uint8_t byte);
// "Ok" of the port frame: the panel byte becomes the manual byte.
void apply_manual_port_byte();
// Writes the manual byte to the data port.
void write_manual_port_byte();
struct PortLines {
    std::uint8_t byte;     // the data lines as read back
    std::uint8_t changed;  // the lines whose indicator must change (all of them the first time)
};
// Reads the data port back; the result says which indicators need a new picture.
PortLines read_port_lines();
