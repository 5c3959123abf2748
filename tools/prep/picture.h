// picture.h - a PNG picture of a board on the table: copper, the areas the milling tool
// sweeps, and the drill holes at their diameters, seen from above with X to the right.
#pragma once

#include <cstdint>
#include <cstdio>
#include <polyclipping/clipper.hpp>
#include <vector>

namespace prep {

struct PictureLayers {
    // Polygons in GEOMETRY_PER_MM units of the table, drawn in this order.
    std::vector<ClipperLib::Paths> copper;
    std::vector<ClipperLib::Paths> cuts;
    std::vector<ClipperLib::Paths> holes;
};

// Writes the picture, at most PICTURE_MAX_PIXELS on its longer side and 20 pixels per mm at
// most, framing everything drawn with 1 mm to spare; throws PrepError when PNG encoding
// fails, WriteFailed when the file cannot be written.
inline constexpr int PICTURE_MAX_PIXELS = 3000;
void write_picture(std::FILE* file, const PictureLayers& layers);

}  // namespace prep
