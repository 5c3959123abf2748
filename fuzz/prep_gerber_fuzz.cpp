// Fuzz target: cncmirel-prep's Gerber reader on arbitrary bytes. It must either refuse the
// file with a PrepError or give an image of closed polygons and finite centre lines, all
// within the coordinate limits.
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gerber.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    prep::GerberLayer layer;
    try {
        layer = prep::parse_gerber(text, "fuzz.gbr");
    } catch (const prep::PrepError&) {
        return 0;
    }
    // A coordinate, a step and repeat and an aperture each stay within 100 m.
    constexpr double LIMIT_MM = 300'000;
    for (const ClipperLib::Path& path : layer.image) {
        if (path.size() < 3) std::abort();
        for (const ClipperLib::IntPoint& q : path) {
            const prep::Point p = prep::from_geometry(q);
            if (std::fabs(p.x) > LIMIT_MM || std::fabs(p.y) > LIMIT_MM) std::abort();
        }
    }
    for (const auto& line : layer.lines) {
        if (line.size() < 2) std::abort();
        for (const prep::Point& p : line) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::fabs(p.x) > LIMIT_MM ||
                std::fabs(p.y) > LIMIT_MM) {
                std::abort();
            }
        }
    }
    if (layer.units != "mm" && layer.units != "inch") std::abort();
    if (layer.flashes < 0 || layer.draws < 0 || layer.arcs < 0 || layer.regions < 0) std::abort();
    (void)prep::is_profile_layer(layer, "fuzz.gbr");
    return 0;
}
