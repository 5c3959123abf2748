// port_layout.h - the meaning of the byte on the port's data lines: the address, the axis
// select bits and the two phase tables. Data only.
#pragma once

#include <array>
#include <cstdint>

namespace port_layout {

inline constexpr std::uint16_t DATA_PORT = 888;  // 0x378, the data register

inline constexpr std::int32_t SELECT_Z = 16;
inline constexpr std::int32_t SELECT_Y = 32;
inline constexpr std::int32_t SELECT_X = 64;

// Phase values in output order; both tables start at 9, the decreasing one walks the
// increasing one backwards.
inline constexpr std::array<std::int32_t, 4> PHASES_INCREASING = {9, 3, 6, 12};
inline constexpr std::array<std::int32_t, 4> PHASES_DECREASING = {9, 12, 6, 3};

}  // namespace port_layout
