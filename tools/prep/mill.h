// mill.h - milling jobs made from board geometry: isolation passes around copper, the cut
// around a board outline with its holding tabs, and the check of an isolation job as written
// against the copper it must leave standing.
#pragma once

#include <cmath>  // gerber.h rounds with std::llround
#include <cstdint>
#include <polyclipping/clipper.hpp>
#include <string>
#include <vector>

#include "gerber.h"
#include "model.h"

namespace prep {

// Offset arcs are flattened to chords that stay within this of the true arc (mm).
inline constexpr double MILL_ARC_TOLERANCE_MM = 0.002;

struct IsolationOptions {
    double tool_mm = 0;
    int passes = 1;
    double overlap = 0.5;  // of the tool's diameter, between neighbouring passes
    double unit_mm = 0.1;  // the job unit the cuts are rounded to
};

// The extra distance every isolation pass keeps from copper beyond the tool's radius, so that
// after the chords of the offset arcs and the rounding of every vertex to the job unit no cut
// comes nearer to copper than the radius less half a unit: a chord lies up to the arc
// tolerance inside its arc, and a rounded segment lies up to u/sqrt(2) from the segment it
// stands for (each end moves at most half a unit per axis), which exceeds u/2 by 0.2071 u.
double isolation_margin_mm(double unit_mm);

// Pass k (from 0) is every closed contour of the copper offset outward by the tool's radius
// plus k steps of (1 - overlap) diameters plus the margin. Strokes in millimetres of the
// file, each closed by its first point again. Throws PrepError past MAX_POINTS.
PlotJob isolation_job(const ClipperLib::Paths& copper, const IsolationOptions& options);

// Centre lines chained into closed contours: lines whose ends lie within `join_mm` are joined,
// either way round. Throws PrepError naming `path` and where the outline stays open.
std::vector<std::vector<Point>> closed_contours(const std::vector<std::vector<Point>>& lines,
                                                const std::string& path, double join_mm = 0.01);

// The routed paths of a drill file as centre lines: the holes laid along each, in order.
std::vector<std::vector<Point>> routed_lines(const DrillJob& job);

// Takes the holes of the routed paths out of a drill job (they are milled instead); the slots
// stay. The path ranges are cleared.
void drop_routed_holes(DrillJob& job);

struct OutlineOptions {
    double tool_mm = 0;
    int tabs = 0;
    double tab_width_mm = 3;
};

// The cut around the board that the contours enclose (even-odd): the region offset by the
// tool's radius, its outer contour outward and cut-outs inward. With tabs, the outer contour
// is cut in open strokes with `tabs` gaps, evenly spread, each the tab's width plus the tool's
// diameter long, where the tool lifts. Throws PrepError when the tabs do not fit.
struct OutlineJob {
    PlotJob cuts;
    std::int64_t cutouts = 0;    // holes in the board
    std::int64_t too_small = 0;  // of them, too small for the tool: not cut
};
OutlineJob outline_job(const std::vector<std::vector<Point>>& contours,
                       const OutlineOptions& options);

// What an isolation job as written does to the copper, in millimetres of the file.
struct IsolationCheck {
    std::int64_t areas = 0;          // separate copper areas
    std::int64_t joined_areas = 0;   // areas that the cuts leave joined to another
    double narrowest_joined_mm = 0;  // the narrowest gap between two joined areas
    Point narrowest_at;              // its middle
    double near_limit_mm = 0;        // the least distance allowed: radius less half a unit
    std::int64_t too_near = 0;       // stretches of cut nearer to copper than that
    double nearest_mm = 0;           // the nearest of them
    Point nearest_at;
    double cut_mm = 0;     // length of the pen-down cuts
    double travel_mm = 0;  // axis travel between the strokes
};

// The area a tool of `tool_mm` sweeps along the strokes of `cuts` (millimetres), in geometry
// units; its arcs lie a little inside the true ones.
ClipperLib::Paths swept_area(const PlotJob& cuts, double tool_mm);

// `cuts` are the job's strokes with every vertex as written, taken back into the file's
// millimetres.
IsolationCheck check_isolation(const ClipperLib::Paths& copper, const PlotJob& cuts, double tool_mm,
                               double unit_mm);

}  // namespace prep
