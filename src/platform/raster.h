// raster.h - the software drawing surface shared by every build: pictures held as RGB pixels,
// the shape rules of the preview, and the drawing area as the short list of what one pass
// draws on it, turned into pixels only when someone looks (a window, a PNG, a test).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace platform {

// Pixels are stored as 0xFFRRGGBB so that a toolkit can show them without conversion.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Creates (or re-creates) the picture at the given size, filled with `rgb` (0xRRGGBB).
void create_picture(Picture& picture, int width, int height, std::uint32_t rgb);
// The colour of one pixel as 0xRRGGBB; 0 outside the picture.
std::uint32_t pixel_rgb(const Picture& picture, int x, int y);
void fill_picture(Picture& picture, std::uint32_t rgb);

// Shape rules, all clipped to the picture:
// - a circle of radius r covers the pixels whose centre lies within r - 1/2 of (cx, cy), so
//   radius 1 (and 0) is the single pixel (cx, cy); the outline keeps the pixels of that disc
//   that touch a pixel outside it;
// - a box of width w and height h at (x, y) covers (x, y) to (x + w - 1, y + h - 1); its outline
//   is its border row and column;
// - a line includes both end points.
void draw_circle(Picture& picture, int cx, int cy, int r, std::uint32_t rgb, bool filled);
void draw_box(Picture& picture, int x, int y, int width, int height, std::uint32_t rgb,
              bool filled);
void draw_line(Picture& picture, int x1, int y1, int x2, int y2, std::uint32_t rgb);
// Opaque copy of the whole `source` with its top-left corner at (x, y) of `target`.
void copy_picture(Picture& target, const Picture& source, int x, int y);

// The drawing area of the window: its background and the drawing commands of the current
// pass, kept as a list so that a pass that nobody looks at costs no pixel work.
struct DrawCommand {
    enum class Kind : std::uint8_t { picture, circle, box, line };
    Kind kind;
    bool filled;
    int a, b, c, d;  // picture: x, y; circle: cx, cy, r; box: x, y, w, h; line: x1, y1, x2, y2
    std::uint32_t rgb;
    const Picture* source;
};

struct DrawingArea {
    static constexpr int MAX_COMMANDS = 16;
    int width = 0;
    int height = 0;
    std::uint32_t background = 0;
    int command_count = 0;
    std::array<DrawCommand, MAX_COMMANDS> commands{};
};

void open_area(DrawingArea& area, int width, int height, std::uint32_t background);
// Drops the commands of the pass and sets the colour the next render starts from.
void clear_area(DrawingArea& area, std::uint32_t rgb);
void area_copy_picture(DrawingArea& area, const Picture& source, int x, int y);
void area_circle(DrawingArea& area, int cx, int cy, int r, std::uint32_t rgb, bool filled);
void area_line(DrawingArea& area, int x1, int y1, int x2, int y2, std::uint32_t rgb);
// Turns the area into pixels (re-creating `out` at the area's size when needed).
void render_area(const DrawingArea& area, Picture& out);

}  // namespace platform
