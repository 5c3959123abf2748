// ids.h - the fixed small integers the platform and the program share: event kinds, the limit
// of control ids, key codes and picture numbers. Data only; every folder may include it. The
// panel's own ids (controls, shortcuts, field colours) live in app/controls.h.
#pragma once

namespace ids {

// Event kinds returned by platform::poll_event.
inline constexpr int EVENT_NONE = 0;
inline constexpr int EVENT_CLOSE = 16;
inline constexpr int EVENT_CONTROL = 13100;
inline constexpr int EVENT_SHORTCUT = 13101;

// Largest control id plus one: platform records may keep arrays indexed by id.
inline constexpr int CONTROL_ID_LIMIT = 100;

// Key codes of the shortcuts (virtual-key numbering: letters and digits are their ASCII).
inline constexpr int KEY_ESC = 0x1B;
inline constexpr int KEY_LEFT = 0x25;
inline constexpr int KEY_UP = 0x26;
inline constexpr int KEY_RIGHT = 0x27;
inline constexpr int KEY_DOWN = 0x28;
inline constexpr int KEY_0 = 0x30;
inline constexpr int KEY_A = 0x41;
inline constexpr int KEY_Z = 0x5A;

// Pictures 1..9 of the panel.
inline constexpr int PICTURE_ARROW_UP = 1;
inline constexpr int PICTURE_ARROW_DOWN = 2;
inline constexpr int PICTURE_ARROW_RIGHT = 3;
inline constexpr int PICTURE_ARROW_LEFT = 4;
inline constexpr int PICTURE_PAUSE = 5;
inline constexpr int PICTURE_STOP = 6;
inline constexpr int PICTURE_OPEN = 7;
inline constexpr int PICTURE_BIT_OFF = 8;
inline constexpr int PICTURE_BIT_ON = 9;
inline constexpr int PICTURE_COUNT = 9;

}  // namespace ids
