// raster.cpp - pixel rules of the drawing surface.
#include "platform/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace platform {

namespace {

constexpr std::uint32_t OPAQUE = 0xFF000000u;

inline void put(Picture& picture, int x, int y, std::uint32_t pixel) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
    picture.pixels[static_cast<std::size_t>(y) * picture.width + x] = pixel;
}

// True when the pixel at offset (dx, dy) from the centre lies in the disc of radius r.
inline bool in_disc(long long dx, long long dy, long long r) {
    if (r <= 1) return dx == 0 && dy == 0;
    // |d| <= r - 1/2, squared and scaled by 4 to stay in integers.
    return 4 * (dx * dx + dy * dy) <= (2 * r - 1) * (2 * r - 1);
}

}  // namespace

void create_picture(Picture& picture, int width, int height, std::uint32_t rgb) {
    picture.width = std::max(0, width);
    picture.height = std::max(0, height);
    picture.pixels.assign(static_cast<std::size_t>(picture.width) * picture.height, OPAQUE | rgb);
}

std::uint32_t pixel_rgb(const Picture& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return 0;
    return picture.pixels[static_cast<std::size_t>(y) * picture.width + x] & 0xFFFFFFu;
}

void fill_picture(Picture& picture, std::uint32_t rgb) {
    std::fill(picture.pixels.begin(), picture.pixels.end(), OPAQUE | rgb);
}

void draw_circle(Picture& picture, int cx, int cy, int r, std::uint32_t rgb, bool filled) {
    const std::uint32_t pixel = OPAQUE | rgb;
    const long long radius = std::max(r, 0);
    // Only the part of the bounding square that meets the picture is visited.
    const long long x0 = std::max<long long>(static_cast<long long>(cx) - radius, 0);
    const long long x1 =
        std::min<long long>(static_cast<long long>(cx) + radius, picture.width - 1);
    const long long y0 = std::max<long long>(static_cast<long long>(cy) - radius, 0);
    const long long y1 =
        std::min<long long>(static_cast<long long>(cy) + radius, picture.height - 1);
    for (long long y = y0; y <= y1; ++y) {
        for (long long x = x0; x <= x1; ++x) {
            const long long dx = x - cx;
            const long long dy = y - cy;
            if (!in_disc(dx, dy, radius)) continue;
            if (!filled && in_disc(dx - 1, dy, radius) && in_disc(dx + 1, dy, radius) &&
                in_disc(dx, dy - 1, radius) && in_disc(dx, dy + 1, radius)) {
                continue;
            }
            put(picture, static_cast<int>(x), static_cast<int>(y), pixel);
        }
    }
}

void draw_box(Picture& picture, int x, int y, int width, int height, std::uint32_t rgb,
              bool filled) {
    if (width <= 0 || height <= 0) return;
    const std::uint32_t pixel = OPAQUE | rgb;
    const long long right = static_cast<long long>(x) + width - 1;
    const long long bottom = static_cast<long long>(y) + height - 1;
    const long long x0 = std::max<long long>(x, 0);
    const long long x1 = std::min<long long>(right, picture.width - 1);
    const long long y0 = std::max<long long>(y, 0);
    const long long y1 = std::min<long long>(bottom, picture.height - 1);
    for (long long py = y0; py <= y1; ++py) {
        for (long long px = x0; px <= x1; ++px) {
            const bool border = px == x || px == right || py == y || py == bottom;
            if (filled || border) put(picture, static_cast<int>(px), static_cast<int>(py), pixel);
        }
    }
}

namespace {

// Cuts the segment to the rectangle [lo_x, hi_x] x [lo_y, hi_y] (Liang-Barsky); false when
// nothing of it is inside.
bool clip_segment(double& x1, double& y1, double& x2, double& y2, double lo_x, double lo_y,
                  double hi_x, double hi_y) {
    double t0 = 0.0;
    double t1 = 1.0;
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - lo_x, hi_x - x1, y1 - lo_y, hi_y - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) return false;
    }
    const double nx1 = x1 + t0 * dx, ny1 = y1 + t0 * dy;
    const double nx2 = x1 + t1 * dx, ny2 = y1 + t1 * dy;
    x1 = nx1;
    y1 = ny1;
    x2 = nx2;
    y2 = ny2;
    return true;
}

}  // namespace

void draw_line(Picture& picture, int x1, int y1, int x2, int y2, std::uint32_t rgb) {
    const std::uint32_t pixel = OPAQUE | rgb;
    long long ax = x1, ay = y1, bx = x2, by = y2;
    // A line reaching far outside the picture is first cut to a margin around it, so that a
    // stroke to a wild coordinate costs no more than one across the picture.
    const long long margin = 4096;
    const auto far = [&](long long x, long long y) {
        return x < -margin || y < -margin || x > picture.width + margin ||
               y > picture.height + margin;
    };
    if (far(ax, ay) || far(bx, by)) {
        double fx1 = static_cast<double>(ax), fy1 = static_cast<double>(ay);
        double fx2 = static_cast<double>(bx), fy2 = static_cast<double>(by);
        if (!clip_segment(fx1, fy1, fx2, fy2, -1.0, -1.0, picture.width, picture.height)) return;
        ax = std::llround(fx1);
        ay = std::llround(fy1);
        bx = std::llround(fx2);
        by = std::llround(fy2);
    }
    // Bresenham, both end points included.
    const long long dx = std::llabs(bx - ax);
    const long long dy = -std::llabs(by - ay);
    const int sx = ax < bx ? 1 : -1;
    const int sy = ay < by ? 1 : -1;
    long long err = dx + dy;
    long long x = ax;
    long long y = ay;
    for (;;) {
        if (x >= 0 && y >= 0 && x < picture.width && y < picture.height) {
            put(picture, static_cast<int>(x), static_cast<int>(y), pixel);
        }
        if (x == bx && y == by) break;
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void copy_picture(Picture& target, const Picture& source, int x, int y) {
    const int x0 = std::max(x, 0);
    const int y0 = std::max(y, 0);
    const long long x1 =
        std::min<long long>(static_cast<long long>(x) + source.width, target.width);
    const long long y1 =
        std::min<long long>(static_cast<long long>(y) + source.height, target.height);
    if (x0 >= x1 || y0 >= y1) return;
    const std::size_t run = static_cast<std::size_t>(x1 - x0);
    for (int ty = y0; ty < y1; ++ty) {
        const std::uint32_t* from =
            &source.pixels[static_cast<std::size_t>(ty - y) * source.width + (x0 - x)];
        std::copy(from, from + run,
                  &target.pixels[static_cast<std::size_t>(ty) * target.width + x0]);
    }
}

void open_area(DrawingArea& area, int width, int height, std::uint32_t background) {
    area.width = width;
    area.height = height;
    clear_area(area, background);
}

void clear_area(DrawingArea& area, std::uint32_t rgb) {
    area.background = rgb;
    area.command_count = 0;
}

namespace {
void push(DrawingArea& area, const DrawCommand& command) {
    // A pass draws a fixed handful of shapes; anything beyond the list is dropped.
    if (area.command_count < DrawingArea::MAX_COMMANDS)
        area.commands[area.command_count++] = command;
}
}  // namespace

void area_copy_picture(DrawingArea& area, const Picture& source, int x, int y) {
    push(area, {DrawCommand::Kind::picture, true, x, y, 0, 0, 0, &source});
}

void area_circle(DrawingArea& area, int cx, int cy, int r, std::uint32_t rgb, bool filled) {
    push(area, {DrawCommand::Kind::circle, filled, cx, cy, r, 0, rgb, nullptr});
}

void area_line(DrawingArea& area, int x1, int y1, int x2, int y2, std::uint32_t rgb) {
    push(area, {DrawCommand::Kind::line, true, x1, y1, x2, y2, rgb, nullptr});
}

void render_area(const DrawingArea& area, Picture& out) {
    if (out.width != area.width || out.height != area.height) {
        create_picture(out, area.width, area.height, area.background);
    } else {
        fill_picture(out, area.background);
    }
    for (int i = 0; i < area.command_count; ++i) {
        const DrawCommand& c = area.commands[i];
        switch (c.kind) {
            case DrawCommand::Kind::picture:
                copy_picture(out, *c.source, c.a, c.b);
                break;
            case DrawCommand::Kind::circle:
                draw_circle(out, c.a, c.b, c.c, c.rgb, c.filled);
                break;
            case DrawCommand::Kind::box:
                draw_box(out, c.a, c.b, c.c, c.d, c.rgb, c.filled);
                break;
            case DrawCommand::Kind::line:
                draw_line(out, c.a, c.b, c.c, c.d, c.rgb);
                break;
        }
    }
}

}  // namespace platform
