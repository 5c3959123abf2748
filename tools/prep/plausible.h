// plausible.h - whether the holes of a drill file look like a board: a wrong guess at its
// number format scales every position by a power of ten, which makes a board too large,
// holes of one tool that overlap, or spacings off every grid a part is placed on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "model.h"

namespace prep {

// The largest board a drill file is taken to describe, in millimetres.
inline constexpr double MAX_BOARD_MM = 500;

struct Plausibility {
    double width_mm = 0, height_mm = 0;
    // Holes closer to another hole of their tool than its diameter (holes along slots and
    // routed paths left out), and the closest such pair.
    std::int64_t overlapping = 0;
    std::int32_t tool = 0;
    double diameter_mm = 0, gap_mm = 0;
    Point at;
    // Share of the spacings between holes drilled one after another that land on a common
    // grid (0.05 in, 0.1 in, 0.5 mm, 1 mm, 1.27 mm, 2.54 mm); negative when there are none.
    double on_grid = -1;
    // Share of those holes with another of their tool within 10 mm, as pads of a part are;
    // a format ten times too large spreads them apart. Negative with fewer than two holes.
    double near = -1;

    bool too_large() const { return width_mm > MAX_BOARD_MM || height_mm > MAX_BOARD_MM; }
    bool ok() const { return !too_large() && overlapping == 0; }
    // What makes the holes implausible, with the figures; empty when they are plausible.
    std::string problem() const;
    // How board-like plausible holes look, 0 .. 2: the grid share plus the near share.
    double score() const { return std::max(0.0, on_grid) + std::max(0.0, near); }
    // "board 40.6 x 30.5 mm, 93% of spacings on grid", for the report and the candidates.
    std::string summary() const;
};

Plausibility check_plausible(const DrillJob& job);

}  // namespace prep
