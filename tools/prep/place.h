// place.h - where a job lands on the table, rounding to the controller's whole millimetres,
// and the order in which the holes of one output are drilled.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "model.h"

namespace prep {

struct Box {
    double min_x = std::numeric_limits<double>::infinity();
    double min_y = std::numeric_limits<double>::infinity();
    double max_x = -std::numeric_limits<double>::infinity();
    double max_y = -std::numeric_limits<double>::infinity();

    void add(const Point& p) {
        min_x = std::min(min_x, p.x);
        min_y = std::min(min_y, p.y);
        max_x = std::max(max_x, p.x);
        max_y = std::max(max_y, p.y);
    }
    bool empty() const { return min_x > max_x; }
};

struct PlaceOptions {
    bool corner = true;  // false: the file's own coordinates
    double margin_mm = 5;
    double offset_x = 0;
    double offset_y = 0;
    bool mirror_x = false;  // about the job's vertical centre line
};

// A mirror in X (or none) followed by a shift.
struct Transform {
    double sign_x = 1;
    double shift_x = 0;
    double shift_y = 0;

    Point apply(const Point& p) const { return Point{sign_x * p.x + shift_x, p.y + shift_y}; }
    Point invert(const Point& p) const { return Point{(p.x - shift_x) * sign_x, p.y - shift_y}; }
};

Transform placement(const Box& box, const PlaceOptions& options);

// Whole millimetres, the nearest (halves away from zero).
struct IntPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool operator==(const IntPoint&) const = default;
};
inline IntPoint round_mm(const Point& p) {
    return IntPoint{std::llround(p.x), std::llround(p.y)};
}

// Rounding error over the points of a job.
struct RoundingError {
    double sum = 0;         // of the distances between each point and its rounded position
    double worst = 0;       // largest such distance
    double worst_axis = 0;  // largest error on one axis
    std::int64_t count = 0;

    void add(const Point& placed) {
        const IntPoint r = round_mm(placed);
        const double dx = std::fabs(placed.x - static_cast<double>(r.x));
        const double dy = std::fabs(placed.y - static_cast<double>(r.y));
        const double d = std::hypot(dx, dy);
        sum += d;
        worst = std::max(worst, d);
        worst_axis = std::max({worst_axis, dx, dy});
        ++count;
    }
};

// Axis travel (the machine moves one axis at a time) from the home position through the
// rounded positions of `order`, in millimetres.
std::int64_t travel_mm(const HoleList& holes, const std::vector<std::uint32_t>& order,
                       const Transform& t);

// Reorders `order` (indices into `holes`) to cut axis travel: nearest neighbour from the
// home position over a grid of cells, then exchanges of path pieces until `deadline`.
void order_nearest(const HoleList& holes, std::vector<std::uint32_t>& order, const Transform& t,
                   std::chrono::steady_clock::time_point deadline);

}  // namespace prep
