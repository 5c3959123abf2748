// hpgl.h - the HP-GL reader: plotter files with any number of commands per line, read into
// pen-down strokes in millimetres, arcs and circles flattened to chords.
#pragma once

#include <string>
#include <string_view>

#include "model.h"

namespace prep {

// Largest distance between an arc and the chords that replace it, in millimetres.
inline constexpr double ARC_TOLERANCE_MM = 0.05;

// Reads the whole file; `unit_mm` is the length of one plotter unit. Throws PrepError on
// anything it cannot read with certainty.
PlotJob read_hpgl(const std::string& path, double unit_mm);

// Whether `mnemonic` (two capitals) is one of `list`, two-letter mnemonics separated by one
// space ("IN PU PD").
constexpr bool listed_mnemonic(std::string_view list, std::string_view mnemonic) {
    for (std::size_t i = 0; i + 1 < list.size(); i += 3) {
        if (list.substr(i, 2) == mnemonic) return true;
    }
    return false;
}

// True for the skipped commands that draw shapes of their own (rectangles, wedges, polygons
// filled or edged, curves): the report warns that the output leaves these out.
bool hpgl_drawing_command(std::string_view mnemonic);

}  // namespace prep
