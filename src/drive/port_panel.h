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

// Check box event: recomposes panel_byte from boxes 47 down to 40 and shows it.
void compose_panel_byte();
// "Ok" of the port frame: the panel byte becomes the manual byte.
void apply_manual_port_byte();
// Writes the manual byte to the data port.
void write_manual_port_byte();
// Reads the data port back and shows its eight lines, indicator 80 for bit 0.
void refresh_port_indicators();
