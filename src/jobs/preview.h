// preview.h - the map of the table at one pixel per millimetre: the canvas that holds the job
// drawing and the run marks, the job loading that fills it, and the per-pass composition onto
// the drawing area. Owns preview_canvas and drawing_area.
#pragma once

#include <cstdint>
#include <string>

#include "platform/raster.h"

inline constexpr int CANVAS_WIDTH = 735;
inline constexpr int CANVAS_HEIGHT = 715;
inline constexpr int CANVAS_X = 20;  // canvas corner in the drawing area
inline constexpr int CANVAS_Y = 5;

inline constexpr std::uint32_t COLOUR_CANVAS = 0x000000;
inline constexpr std::uint32_t COLOUR_HOLE = 0x2200FF;             // RGB(34, 0, 255)
inline constexpr std::uint32_t COLOUR_STROKE = 0x0000FF;           // RGB(0, 0, 255)
inline constexpr std::uint32_t COLOUR_DRILLED = 0xFA0000;          // RGB(250, 0, 0)
inline constexpr std::uint32_t COLOUR_CUT_MARK = 0xFF0F00;         // RGB(255, 15, 0)
inline constexpr std::uint32_t COLOUR_TRAVEL_MARK = 0x00F0FF;      // RGB(0, 240, 255)
inline constexpr std::uint32_t COLOUR_TOOL = 0xDCCF2D;             // RGB(220, 207, 45)
inline constexpr std::uint32_t COLOUR_TABLE_EDGE = 0x3B533D;       // RGB(59, 83, 61)
inline constexpr std::uint32_t COLOUR_AREA_BACKGROUND = 0x25033A;  // RGB(37, 3, 58)

extern platform::Picture preview_canvas;
extern platform::DrawingArea drawing_area;

enum class MarkKind { hole, cut, travel };
// Told of every mark a run draws (the simulator lists them); null when nobody listens.
extern void (*run_mark_observer)(MarkKind kind, std::int32_t x_px, std::int32_t y_px);

// Creates the black canvas and the drawing area at start-up.
void create_preview(int area_width, int area_height);
// What opening a job asks the panel to show, in this order; null where nothing changes.
struct OpenedJob {
    const char* type_label = nullptr;      // the program type's new text
    const char* message = nullptr;         // a message box (title and text alike)
    const char* format_message = nullptr;  // then one for a file not in the machine's dialect
};
// The file chosen in the open dialog (empty: cancelled) becomes the job: record and canvas.
OpenedJob open_job_file(const std::string& chosen);
// Draws the loaded job anew at the applied scale (the marks of earlier runs go); the message to
// show when it lies outside the table, else null.
const char* redraw_job_preview();
// Draws a run's mark at canvas pixel (x_px, y_px): a radius-2 circle for a drilled hole,
// a 2 x 2 box for a milling fetch.
void draw_run_mark(MarkKind kind, std::int32_t x_px, std::int32_t y_px);
// Every pass: the canvas, the tool marker, the cross-hair and the table edges.
void compose_preview();
