// writers.h - the controller's own dialects: a drilling job of "X<int>Y<int>" lines in whole
// millimetres ended by M30, and a milling job of one HP-GL command a line with X written
// 50 mm less, because the controller adds 50 mm to every X it reads from a plot file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "model.h"
#include "place.h"

namespace prep {

inline constexpr std::int64_t PLOT_X_SHIFT_MM = 50;
// The controller keeps file offsets in 32 bits.
inline constexpr std::int64_t MAX_JOB_BYTES = 2147483647;

// A write to an output that the system refused (a full disk, a file size limit); the caller
// knows the file's name and says it.
class WriteFailed : public PrepError {
public:
    explicit WriteFailed(int code) : PrepError(std::strerror(code)), error(code) {}
    int error;
};

struct DrillWritten {
    std::int64_t holes = 0;
    std::int64_t bytes = 0;
};

// Writes the holes of `order`, placed by `t` and rounded; throws PrepError when the file
// would be too long for the controller, WriteFailed when a write fails.
DrillWritten write_drill(std::FILE* file, const HoleList& holes,
                         const std::vector<std::uint32_t>& order, const Transform& t);

struct PlotWritten {
    std::int64_t strokes = 0;
    std::int64_t vertices = 0;  // PA lines, travel points included
    std::int64_t dropped = 0;   // points that rounded onto the point before them
    std::int64_t single = 0;    // strokes that rounded to one point: a plunge in place
    std::int64_t bytes = 0;
};

// Writes "IN;", then every stroke: "PU;", its first point, "PD;", its other points, and at the end
// "PU;" with the last point again, so that the job ends raised where it stopped.
PlotWritten write_plot(std::FILE* file, const PlotJob& job, const Transform& t);

}  // namespace prep
