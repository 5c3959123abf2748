// tour.h - the order of the points of a job in the machine's own cost: it steps one axis at a
// time, so a move costs the X steps plus the Y steps between two whole-unit positions, each
// step one pass of the main loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "place.h"

namespace prep {

// Machine steps per job unit on X and Y.
struct AxisSteps {
    std::int64_t x = 1;
    std::int64_t y = 1;
};

// Passes the machine spends moving from `a` to `b` on X and Y.
inline std::int64_t move_cost(const IntPoint& a, const IntPoint& b, const AxisSteps& s) {
    return s.x * std::llabs(a.x - b.x) + s.y * std::llabs(a.y - b.y);
}

// Where a run starts and, when it makes a way back after its last point, where that ends.
struct TourEnds {
    IntPoint start;
    std::optional<IntPoint> end;
};

// Travel passes of visiting `points` in this order from `ends.start`, back to `ends.end` when
// there is one.
std::int64_t path_cost(const std::vector<IntPoint>& points, const TourEnds& ends,
                       const AxisSteps& steps);

struct TourOptions {
    AxisSteps steps;
    TourEnds ends;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    bool kicks = true;  // perturbation after the local search has converged
};

// An order of `points` (indices) with short travel: nearest neighbour over a grid, then 2-opt
// and Or-opt moves over neighbour lists until none gains, then double-bridge kicks kept when
// they shorten the tour, all until the deadline. Equal points should be merged beforehand.
// Without a deadline the result depends only on the input.
std::vector<std::uint32_t> short_tour(const std::vector<IntPoint>& points,
                                      const TourOptions& options);

// Nearest neighbour alone, from the start, over the same grid.
std::vector<std::uint32_t> nearest_tour(const std::vector<IntPoint>& points, const TourEnds& ends,
                                        const AxisSteps& steps);

// How one stroke is cut: an open stroke from its first vertex or, reversed, from its last; a
// closed one (its first and last vertex the same) entered at vertex `first` and cut round
// back to it.
struct StrokeRun {
    std::uint32_t stroke = 0;
    std::uint32_t first = 0;
    bool reversed = false;
};

// Pen-up travel passes of cutting `strokes` (their rounded vertices) as `runs` says.
std::int64_t stroke_travel(const std::vector<std::vector<IntPoint>>& strokes,
                           const std::vector<StrokeRun>& runs, const TourEnds& ends,
                           const AxisSteps& steps);

// Every stroke once, in an order, with entries and directions, of short pen-up travel: the
// same search as short_tour over the places strokes are entered and left at.
std::vector<StrokeRun> short_strokes(const std::vector<std::vector<IntPoint>>& strokes,
                                     const TourOptions& options);

}  // namespace prep
