// gerber.h - an RS-274X Gerber layer read into the shapes it means: the image (copper, or
// whatever the layer draws) as polygons, dark minus clear in the file's order, and the centre
// lines of its draws, from which a board outline is taken.
#pragma once

#include <cmath>
#include <cstdint>
#include <polyclipping/clipper.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"

namespace prep {

// Polygon work is done in integer coordinates: this many per millimetre (10 nm each), far finer
// than any export and far coarser than the limits of the polygon library.
inline constexpr double GEOMETRY_PER_MM = 100'000;

inline ClipperLib::IntPoint to_geometry(const Point& p) {
    return ClipperLib::IntPoint(static_cast<ClipperLib::cInt>(std::llround(p.x * GEOMETRY_PER_MM)),
                                static_cast<ClipperLib::cInt>(std::llround(p.y * GEOMETRY_PER_MM)));
}
inline Point from_geometry(const ClipperLib::IntPoint& p) {
    return Point{static_cast<double>(p.X) / GEOMETRY_PER_MM,
                 static_cast<double>(p.Y) / GEOMETRY_PER_MM};
}

struct GerberLayer {
    std::string function;             // the %TF.FileFunction attribute as written ("Copper,L1,Top",
                                      // "Profile,NP"), empty when the file has none
    std::string units;                // "mm" or "inch", as %MO states
    std::vector<std::string> relied;  // header lines the shapes depend on, for the report
    std::vector<std::string> notes;   // warnings and what was read past, for the report
    // The layer's image in GEOMETRY_PER_MM units: every flash, draw and region united, clear
    // polarity cut out, in the file's order. Simple, non-overlapping polygons: outer contours
    // counter-clockwise, holes clockwise, as the polygon library's union leaves them.
    ClipperLib::Paths image;
    // The centre lines of the draws (D01, arcs flattened) in millimetres of the file, one
    // polyline per unbroken run of draws; for a profile layer these are the board's edges.
    std::vector<std::vector<Point>> lines;
    std::int64_t flashes = 0, draws = 0, arcs = 0, regions = 0;
};

// Reads a Gerber file; throws PrepError with the file, the byte offset and what is wrong.
GerberLayer read_gerber(const std::string& path);
// The same for text already in memory (for tests and fuzzing); `name` is used in messages.
GerberLayer parse_gerber(std::string_view text, const std::string& name);

// True when a layer's function or, without one, its file name says it is the board's profile
// (outline) rather than copper.
bool is_profile_layer(const GerberLayer& layer, const std::string& path);

}  // namespace prep
