// board.h - the inputs of one board converted together: read in full before anything is
// placed, so that every one of them gets the same shift and mirror, taken from the bounding
// box of them all, and their jobs line up on the table. Also the output folder they go to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "detect.h"
#include "excellon.h"
#include "gerber.h"
#include "model.h"
#include "place.h"

namespace prep {

// Calls f for the corners of a Gerber layer's image's bounding box and for its lines' points.
template <typename F>
void gerber_points(const GerberLayer& layer, F&& f) {
    bool any = false;
    ClipperLib::cInt x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (const ClipperLib::Path& path : layer.image) {
        for (const ClipperLib::IntPoint& p : path) {
            if (!any || p.X < x0) x0 = p.X;
            if (!any || p.X > x1) x1 = p.X;
            if (!any || p.Y < y0) y0 = p.Y;
            if (!any || p.Y > y1) y1 = p.Y;
            any = true;
        }
    }
    if (any) {
        f(from_geometry(ClipperLib::IntPoint(x0, y0)));
        f(from_geometry(ClipperLib::IntPoint(x1, y1)));
    }
    for (const std::vector<Point>& line : layer.lines) {
        for (const Point& p : line) f(p);
    }
}

struct BoardInput {
    std::string path;
    InputKind kind = InputKind::excellon;
    DrillJob drill;      // for a drill file
    PlotJob plot;        // for HP-GL
    GerberLayer gerber;  // for Gerber
    std::string output;  // its output (for split tools, the name the tool files are made from)

    template <typename F>
    void each_point(F&& f) const {
        if (kind == InputKind::excellon) {
            drill.holes.each([&](std::size_t, const Point& p, std::int32_t) { f(p); });
        } else if (kind == InputKind::hpgl) {
            for (const Point& p : plot.points) f(p);
        } else {
            gerber_points(gerber, f);
        }
    }
};

// Reads every input; throws PrepError naming the input that cannot be read. The same file
// given twice is refused.
std::vector<BoardInput> read_board(const std::vector<std::string>& paths,
                                   const std::optional<ExcellonFormat>& excellon_format,
                                   double hpgl_unit_mm);

// Refuses drill inputs whose holes do not look like a board (see plausible.h), naming the
// figures; with `force` they are converted and the report says so.
void check_plausible_drills(std::vector<BoardInput>& inputs, bool force);

// The bounding box of every point of every input.
Box board_box(const std::vector<BoardInput>& inputs);

// Multiplies every coordinate by `per_mm`, so that the inputs are in job units.
void scale_board(std::vector<BoardInput>& inputs, std::int32_t per_mm);

// The output of `input` in `folder`: its name without the folder and the extension, then .drl
// or .plt by its kind.
std::string output_in_folder(const std::string& folder, const BoardInput& input);

// An output folder, made when missing and removed again, if still empty, unless kept.
class OutputFolder {
public:
    // Throws PrepError when `path` exists as something other than a folder or cannot be made.
    explicit OutputFolder(std::string path);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Throws PrepError unless `force` when the folder holds anything but `outputs` and
    // `temporaries` (full paths).
    void check_only(const std::vector<std::string>& outputs,
                    const std::vector<std::string>& temporaries, bool force) const;
    void keep() { made_ = false; }

private:
    std::string path_;
    bool made_ = false;
};

}  // namespace prep
