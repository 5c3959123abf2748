// preview.cpp - loading a job onto the canvas and composing the drawing area each pass.
//
// The tool marker. Each pass draws a circle at the tool's current X and Y whose radius is half the
// Z *target* in millimetres, with the cross-hair through the current position. The radius follows
// the target rather than the position on purpose: a plunge or a lift takes many passes, and the
// marker shows at once where Z is going (small while drilling down, large at travel height), so the
// operator sees the next move before it is made; X and Y show where the tool is now.
#include "jobs/preview.h"

#include <limits>
#include <string>

#include "base/helpers.h"   // per_mm
#include "base/job_kind.h"  // job_kind_of
#include "base/settings.h"  // applied_settings
#include "base/texts.h"
#include "drive/motion.h"  // machine_state, mm_to_steps
#include "jobs/drill_file.h"
#include "jobs/job.h"
#include "jobs/plot_file.h"

platform::Picture preview_canvas;
platform::DrawingArea drawing_area;
void (*run_mark_observer)(MarkKind, std::int32_t, std::int32_t) = nullptr;

namespace {

void clear_canvas() {
    platform::draw_box(preview_canvas, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT, COLOUR_CANVAS, true);
}

// Whether a point a scan hands over lies outside the table as applied.
bool outside_table(std::int32_t x_px, std::int32_t y_px) {
    const MachineState& m = machine_state;
    const AppliedSettings& a = applied_settings;
    return x_px < 0 || y_px < 0 || mm_to_steps(x_px, a.steps_per_mm_x) > m.travel_limit_x ||
           mm_to_steps(y_px, a.steps_per_mm_y) > m.travel_limit_y;
}

struct DrawnJob {
    std::int32_t length;            // as the scan returned it
    bool outside;                   // some hole or segment end lies outside the table
    bool several_commands = false;  // some plot line holds more than one command
};

// Clears the canvas and draws the job through its scan; with `record`, the scan records what it
// read there.
DrawnJob draw_job(JobKind kind, FileFingerprint* record) {
    clear_canvas();
    bool outside = false;
    bool several_commands = false;
    std::int32_t length = 0;
    if (kind == JobKind::drilling) {
        length = scan_drill_preview(
            job_state.job_file_name, applied_settings.scale_percent,
            [&outside](std::int32_t x, std::int32_t y) {
                platform::draw_circle(preview_canvas, x, y, 2, COLOUR_HOLE, true);
                outside = outside || outside_table(x, y);
            },
            record);
    } else {
        length = scan_plot_preview(
            job_state.job_file_name, applied_settings.scale_percent,
            [&outside](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
                platform::draw_line(preview_canvas, x1, y1, x2, y2, COLOUR_STROKE);
                outside = outside || outside_table(x1, y1) || outside_table(x2, y2);
            },
            record, &several_commands);
    }
    return {length, outside, several_commands};
}

// Told each time a job is drawn: the run would clamp such points onto the table's edge.
const char* warning_of(const DrawnJob& drawn) {
    return drawn.outside ? texts::OUTSIDE_TABLE : nullptr;
}

// Drawing-area coordinate of a table millimetre, kept inside int range.
int area_coordinate(int origin, std::int32_t mm) {
    const long long v = static_cast<long long>(origin) + mm;
    return static_cast<int>(std::min<long long>(v, std::numeric_limits<int>::max()));
}

}  // namespace

void create_preview(int area_width, int area_height) {
    platform::create_picture(preview_canvas, CANVAS_WIDTH, CANVAS_HEIGHT, COLOUR_CANVAS);
    platform::open_area(drawing_area, area_width, area_height, COLOUR_AREA_BACKGROUND);
}

OpenedJob open_job_file(const std::string& chosen) {
    OpenedJob opened;
    job_state.job_file_name = chosen;
    if (job_state.job_file_name.empty()) {
        opened.message = texts::FILE_NOT_OPENED;
        return opened;
    }
    const JobKind kind = job_kind_of(job_state.job_file_name);
    if (kind != JobKind::other) {
        // A job that cannot be read, or is too long for byte offsets, is refused here rather
        // than found out during a run; the old drawing and label stay.
        const FileIdentity identity = job_file_identity(job_state.job_file_name);
        if (identity.size < 0 || !fits_byte_offsets(identity.size)) {
            job_state.job_file_name.clear();
            opened.message = texts::FILE_NOT_OPENED;
            return opened;
        }
        // The run checks its fetches against what this scan read, the bytes the preview shows.
        const DrawnJob drawn = draw_job(kind, &job_state.file_fingerprint);
        job_state.job_length = drawn.length;
        opened.type_label = kind == JobKind::drilling ? texts::TYPE_DRILLING : texts::TYPE_MILLING;
        opened.message = warning_of(drawn);
        // Loaded all the same: the operator may know better, and the run reads what it can.
        if (drawn.several_commands) opened.format_message = texts::NOT_MACHINE_FORMAT;
    } else {
        job_state.file_fingerprint = {job_file_identity(job_state.job_file_name), {}};
        opened.format_message = texts::NOT_MACHINE_FORMAT;
    }
    job_state.job_position = 0;
    // A new job starts with no pen command seen.
    job_state.pen_state = 0;
    return opened;
}

const char* redraw_job_preview() {
    if (job_state.job_file_name.empty()) return nullptr;
    const JobKind kind = job_kind_of(job_state.job_file_name);
    // deliberate: a redraw records nothing; the run stays bound to the bytes read at open.
    return kind != JobKind::other ? warning_of(draw_job(kind, nullptr)) : nullptr;
}

void draw_run_mark(MarkKind kind, std::int32_t x_px, std::int32_t y_px) {
    switch (kind) {
        case MarkKind::hole:
            platform::draw_circle(preview_canvas, x_px, y_px, 2, COLOUR_DRILLED, true);
            break;
        case MarkKind::cut:
            platform::draw_box(preview_canvas, x_px, y_px, 2, 2, COLOUR_CUT_MARK, true);
            break;
        case MarkKind::travel:
            platform::draw_box(preview_canvas, x_px, y_px, 2, 2, COLOUR_TRAVEL_MARK, true);
            break;
    }
    if (run_mark_observer) run_mark_observer(kind, x_px, y_px);
}

void compose_preview() {
    const MachineState& m = machine_state;
    const AppliedSettings& a = applied_settings;
    platform::area_copy_picture(drawing_area, preview_canvas, CANVAS_X, CANVAS_Y);
    const std::int32_t x = per_mm(m.current_x, a.steps_per_mm_x);
    const std::int32_t y = per_mm(m.current_y, a.steps_per_mm_y);
    const std::int32_t r = per_mm(m.target_z, a.steps_per_mm_z) / 2;
    const std::int32_t tx = per_mm(m.travel_limit_x, a.steps_per_mm_x);
    const std::int32_t ty = per_mm(m.travel_limit_y, a.steps_per_mm_y);
    const int ax = area_coordinate(CANVAS_X, x);
    const int ay = area_coordinate(CANVAS_Y, y);
    platform::area_circle(drawing_area, ax, ay, r, COLOUR_TOOL, false);
    platform::area_line(drawing_area, CANVAS_X, ay, CANVAS_X + CANVAS_WIDTH, ay, COLOUR_TOOL);
    platform::area_line(drawing_area, ax, CANVAS_Y, ax, CANVAS_Y + CANVAS_HEIGHT, COLOUR_TOOL);
    const int edge_x = area_coordinate(CANVAS_X, tx);
    const int edge_y = area_coordinate(CANVAS_Y, ty);
    platform::area_line(drawing_area, CANVAS_X, edge_y, edge_x, edge_y, COLOUR_TABLE_EDGE);
    platform::area_line(drawing_area, edge_x, CANVAS_Y, edge_x, edge_y, COLOUR_TABLE_EDGE);
}
