// port_panel.cpp - the manual byte and the indicators of the data lines.
#include "drive/port_panel.h"

#include "base/port_layout.h"  // DATA_PORT
#include "platform/port.h"     // Out32, Inp32

PortPanel port_panel;

void set_panel_byte(std::uint8_t byte) {
    port_panel.panel_byte = byte;
}

void apply_manual_port_byte() {
    port_panel.manual_port_byte = port_panel.panel_byte;
}

void write_manual_port_byte() {
    platform::Out32(port_layout::DATA_PORT, port_panel.manual_port_byte);
}

PortLines read_port_lines() {
    const auto byte = static_cast<std::uint8_t>(platform::Inp32(port_layout::DATA_PORT));
    // Only a changed line needs a new picture; every pass reads, few passes change anything.
    const auto changed = static_cast<std::uint8_t>(
        port_panel.shown_byte < 0 ? 0xFFu : byte ^ static_cast<unsigned>(port_panel.shown_byte));
    port_panel.shown_byte = byte;
    return {byte, changed};
}
