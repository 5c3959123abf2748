// plot_file.cpp - the milling (plot) file readers: pen lines "PU" and "PD", coordinate lines
// "PAx,y;".
#include "jobs/plot_file.h"

#include <cstddef>
#include <string_view>

#include "base/helpers.h"  // upper, begins_upper
#include "jobs/line_reader.h"
#include "jobs/numbers.h"

namespace {

// Whether the line begins with the two letters "P" and `second`, as they stand.
bool begins_with_p(std::string_view line, char second) {
    return line.size() >= 2 && line[0] == 'P' && line[1] == second;
}

// The number texts of a coordinate line, shared by both readers: every "PA" removed, every ";"
// read as ","; X is the text before the first ",", Y the text between the first and the second.
struct CoordinateTexts {
    std::string_view x;
    std::string_view y;
    bool begins_with_pd = false;  // the line as converted begins with "PD"
};

CoordinateTexts coordinate_texts(std::string_view line, char* scratch) {
    CoordinateTexts texts;
    std::size_t size = 0;
    std::size_t first_comma = std::string_view::npos;
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = line[i];
        if (c == 'P' && i + 1 < n && line[i + 1] == 'A') {
            ++i;
            continue;
        }
        if (c == ',' || c == ';') {
            if (first_comma != std::string_view::npos) break;  // nothing past the Y text matters
            first_comma = size;
        }
        scratch[size++] = c == ';' ? ',' : c;
    }
    const std::string_view converted(scratch, size);
    texts.begins_with_pd = begins_with_p(converted, 'D');
    if (first_comma == std::string_view::npos) {
        texts.x = converted;
    } else {
        texts.x = converted.substr(0, first_comma);
        texts.y = converted.substr(first_comma + 1);
    }
    return texts;
}

// The fetch's point of a coordinate line, upper-cased: X / divisor + 50 and Y / divisor, each
// rounded to float once after the whole expression, truncated toward zero.
void fetch_point(std::string_view line, std::int32_t divisor, PlotStep& step) {
    char upper_line[LineReader::LINE_LIMIT];
    char scratch[LineReader::LINE_LIMIT];
    for (std::size_t i = 0; i < line.size(); ++i) upper_line[i] = upper(line[i]);
    const CoordinateTexts texts =
        coordinate_texts(std::string_view(upper_line, line.size()), scratch);
    const double x = read_decimal(texts.x);
    const double y = read_decimal(texts.y);
    step.x_mm = truncate_to_int32(round_to_float(x / divisor + PLOT_X_OFFSET_MM));
    step.y_mm = truncate_to_int32(round_to_float(y / divisor));
    step.found = true;
}

// Whether anything but white space follows the line's first ";".
bool holds_several_commands(std::string_view line) {
    const std::size_t semicolon = line.find(';');
    if (semicolon == std::string_view::npos) return false;
    for (const char c : line.substr(semicolon + 1)) {
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f') return true;
    }
    return false;
}

}  // namespace

std::int32_t scan_plot_preview(const std::string& file_name, std::int32_t scale_percent,
                               const SegmentSink& sink, FileFingerprint* record,
                               bool* several_commands) {
    if (several_commands) *several_commands = false;
    enum class Stroke { lifted, first_point, drawing };
    LineReader reader;
    if (!(record != nullptr ? reader.open_recording(file_name, *record) : reader.open(file_name))) {
        return 0;
    }
    const std::int64_t length = reader.length();
    const PixelScale pixel(scale_divisor(scale_percent));
    char scratch[LineReader::LINE_LIMIT];
    Stroke stroke = Stroke::lifted;
    std::int32_t previous_x = 0;
    std::int32_t previous_y = 0;
    while (!reader.at_end()) {
        const std::string_view line = reader.next_line();  // case kept
        if (several_commands && !*several_commands) {
            *several_commands = holds_several_commands(line);
        }
        if (begins_with_p(line, 'U')) stroke = Stroke::lifted;
        bool pen_down_line = false;
        if (stroke == Stroke::lifted) {
            pen_down_line = begins_with_p(line, 'D');
        } else {
            const CoordinateTexts texts = coordinate_texts(line, scratch);
            // deliberate: the test for "PD" looks at the converted line, so "PAPD" counts.
            pen_down_line = texts.begins_with_pd;
            const std::int32_t x = pixel(read_integer(texts.x), PLOT_X_OFFSET_MM);
            const std::int32_t y = pixel(read_integer(texts.y));
            if (stroke == Stroke::drawing && sink) sink(x, y, previous_x, previous_y);
            previous_x = x;
            previous_y = y;
            if (stroke == Stroke::first_point) stroke = Stroke::drawing;
        }
        if (pen_down_line) stroke = Stroke::first_point;
    }
    return saturate_to_int32(length);
}

PlotStep fetch_plot_step(const std::string& file_name, std::int32_t scale_percent,
                         std::int32_t pen_state, std::int32_t position,
                         const FileFingerprint* expected) {
    PlotStep step;
    step.pen_state = pen_state;
    step.next_position = position;
    LineReader reader;
    if (!reader.open_unchanged(file_name, expected)) {
        step.readable = false;
        return step;
    }
    reader.seek(position);
    const std::int32_t divisor = scale_divisor(scale_percent);
    std::int32_t pen = pen_state;
    std::int64_t next = position;
    while (!reader.at_end()) {
        const std::string_view line = reader.next_line();
        if (begins_upper(line, "PU")) {
            pen = PEN_UP;
            // deliberate: the line after "PU" is its travel point whatever it holds, even the
            // empty line at the end of the file.
            const std::string_view travel =
                reader.at_end() ? std::string_view{} : reader.next_line();
            next = reader.position();
            fetch_point(travel, divisor, step);
            break;
        }
        next = reader.position();
        if (pen == PEN_DOWN) {
            fetch_point(line, divisor, step);
            break;
        }
        if (begins_upper(line, "PD")) pen = PEN_DOWN;
    }
    if (reader.at_end()) next = reader.length();
    if (reader.failed()) {
        PlotStep unreadable;
        unreadable.pen_state = pen_state;
        unreadable.next_position = position;
        unreadable.readable = false;
        return unreadable;
    }
    step.pen_state = pen;
    step.next_position = saturate_to_int32(next);
    return step;
}
