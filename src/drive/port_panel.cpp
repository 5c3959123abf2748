// port_panel.cpp - the manual byte and the indicators of the data lines.
#include "drive/port_panel.h"

#include <charconv>

#include "app/ids.h"
#include "drive/port_layout.h"
#include "platform/port.h"
#include "platform/window.h"

PortPanel port_panel;

void compose_panel_byte() {
    int value = 0;
    for (int id = ids::PORT_CHECK_LAST; id >= ids::PORT_CHECK_FIRST; --id) {
        value = value * 2 + (platform::control_value(id) != 0 ? 1 : 0);
    }
    port_panel.panel_byte = static_cast<std::uint8_t>(value);
    char text[4];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    platform::set_control_text(ids::LABEL_PANEL_BYTE,
                               std::string_view(text, static_cast<std::size_t>(end - text)));
}

void apply_manual_port_byte() { port_panel.manual_port_byte = port_panel.panel_byte; }

void write_manual_port_byte() {
    platform::Out32(port_layout::DATA_PORT, port_panel.manual_port_byte);
}

void refresh_port_indicators() {
    const unsigned byte = platform::Inp32(port_layout::DATA_PORT);
    // Only a changed line needs a new picture; every pass reads, few passes change anything.
    const unsigned changed =
        port_panel.shown_byte < 0 ? 0xFFu : byte ^ static_cast<unsigned>(port_panel.shown_byte);
    for (int bit = 7; bit >= 0; --bit) {
        if (((changed >> bit) & 1u) == 0) continue;
        platform::set_control_picture(ids::INDICATOR_FIRST + bit, ((byte >> bit) & 1u) != 0
                                                                      ? ids::PICTURE_BIT_ON
                                                                      : ids::PICTURE_BIT_OFF);
    }
    port_panel.shown_byte = static_cast<std::int32_t>(byte);
}
