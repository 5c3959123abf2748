// picture.cpp - polygons filled by scan lines (non-zero winding) into an RGB buffer, encoded
// with libpng's simplified interface.
#include "picture.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "gerber.h"
#include "writers.h"

namespace prep {

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

struct Canvas {
    int width = 0, height = 0;
    double x0 = 0, y1 = 0;  // the table millimetres of the picture's top-left corner
    double per_mm = 1;      // pixels per millimetre
    std::vector<std::uint8_t> rgb;

    void fill(const ClipperLib::Paths& paths, Rgb colour) {
        struct Edge {
            double y_top, y_bottom, x_at_top, slope;
            int winding;
        };
        std::vector<Edge> edges;
        for (const ClipperLib::Path& path : paths) {
            for (std::size_t i = 0; i < path.size(); ++i) {
                const ClipperLib::IntPoint& a = path[i];
                const ClipperLib::IntPoint& b = path[(i + 1) % path.size()];
                const double ax = (static_cast<double>(a.X) / GEOMETRY_PER_MM - x0) * per_mm;
                const double ay = (y1 - static_cast<double>(a.Y) / GEOMETRY_PER_MM) * per_mm;
                const double bx = (static_cast<double>(b.X) / GEOMETRY_PER_MM - x0) * per_mm;
                const double by = (y1 - static_cast<double>(b.Y) / GEOMETRY_PER_MM) * per_mm;
                if (ay == by) continue;
                const bool down = ay < by;
                const double top = down ? ay : by, bottom = down ? by : ay;
                const double top_x = down ? ax : bx;
                edges.push_back({top, bottom, top_x, (bx - ax) / (by - ay), down ? 1 : -1});
            }
        }
        std::sort(edges.begin(), edges.end(),
                  [](const Edge& a, const Edge& b) { return a.y_top < b.y_top; });
        std::vector<const Edge*> active;
        std::vector<std::pair<double, int>> crossings;
        std::size_t next = 0;
        for (int row = 0; row < height; ++row) {
            const double y = row + 0.5;
            while (next < edges.size() && edges[next].y_top <= y) active.push_back(&edges[next++]);
            std::erase_if(active, [&](const Edge* e) { return e->y_bottom <= y; });
            crossings.clear();
            for (const Edge* e : active) {
                if (e->y_top <= y)
                    crossings.emplace_back(e->x_at_top + (y - e->y_top) * e->slope, e->winding);
            }
            std::sort(crossings.begin(), crossings.end());
            int winding = 0;
            for (std::size_t k = 0; k + 1 < crossings.size(); ++k) {
                winding += crossings[k].second;
                if (winding == 0) continue;
                const int from = std::max(0, static_cast<int>(std::ceil(crossings[k].first - 0.5)));
                const int to = std::min(
                    width - 1, static_cast<int>(std::ceil(crossings[k + 1].first - 0.5)) - 1);
                for (int x = from; x <= to; ++x) {
                    std::uint8_t* p = &rgb[(static_cast<std::size_t>(row) * width + x) * 3];
                    p[0] = colour.r;
                    p[1] = colour.g;
                    p[2] = colour.b;
                }
            }
        }
    }
};

}  // namespace

void write_picture(std::FILE* file, const PictureLayers& layers) {
    double min_x = std::numeric_limits<double>::infinity(), min_y = min_x;
    double max_x = -min_x, max_y = -min_x;
    for (const auto* set : {&layers.copper, &layers.cuts, &layers.holes}) {
        for (const ClipperLib::Paths& paths : *set) {
            for (const ClipperLib::Path& path : paths) {
                for (const ClipperLib::IntPoint& p : path) {
                    const double x = static_cast<double>(p.X) / GEOMETRY_PER_MM;
                    const double y = static_cast<double>(p.Y) / GEOMETRY_PER_MM;
                    min_x = std::min(min_x, x);
                    max_x = std::max(max_x, x);
                    min_y = std::min(min_y, y);
                    max_y = std::max(max_y, y);
                }
            }
        }
    }
    if (min_x > max_x) min_x = max_x = min_y = max_y = 0;
    Canvas c;
    c.x0 = min_x - 1;
    c.y1 = max_y + 1;
    const double w_mm = max_x - min_x + 2, h_mm = max_y - min_y + 2;
    c.per_mm = std::min(20.0, PICTURE_MAX_PIXELS / std::max(w_mm, h_mm));
    c.width = std::max(1, static_cast<int>(std::ceil(w_mm * c.per_mm)));
    c.height = std::max(1, static_cast<int>(std::ceil(h_mm * c.per_mm)));
    c.rgb.assign(static_cast<std::size_t>(c.width) * c.height * 3, 0);
    for (std::size_t i = 0; i < c.rgb.size(); i += 3) {  // the bare board
        c.rgb[i] = 24;
        c.rgb[i + 1] = 64;
        c.rgb[i + 2] = 40;
    }
    for (const ClipperLib::Paths& p : layers.copper) c.fill(p, {214, 146, 60});
    for (const ClipperLib::Paths& p : layers.cuts) c.fill(p, {230, 230, 230});
    for (const ClipperLib::Paths& p : layers.holes) c.fill(p, {0, 0, 0});

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(c.width);
    image.height = static_cast<png_uint_32>(c.height);
    image.format = PNG_FORMAT_RGB;
    errno = 0;
    if (!png_image_write_to_stdio(&image, file, 0, c.rgb.data(), 0, nullptr)) {
        const int error = errno;
        png_image_free(&image);
        if (error) throw WriteFailed(error);
        throw PrepError(std::string("cannot encode the picture: ") + image.message);
    }
}

}  // namespace prep
