// drill_file.cpp - the drilling file readers: hole lines "X..Y..", the end line "M30".
#include "jobs/drill_file.h"

#include <cstddef>
#include <string_view>

#include "base/helpers.h"  // upper, begins_upper
#include "jobs/line_reader.h"
#include "jobs/numbers.h"

namespace {

// The fetch's numbers of a hole line: X is the text before the first "Y" with every "X"
// removed, Y the text from the first "Y" to the next one.
void fetch_hole_numbers(std::string_view line, float& x, float& y) {
    char upper_line[LineReader::LINE_LIMIT];
    char x_text[LineReader::LINE_LIMIT];
    for (std::size_t i = 0; i < line.size(); ++i) upper_line[i] = upper(line[i]);
    const std::string_view text(upper_line, line.size());

    const std::size_t first_y = text.find('Y');
    const std::string_view before_y = text.substr(0, first_y);
    std::size_t x_size = 0;
    for (const char c : before_y) {
        if (c != 'X') x_text[x_size++] = c;
    }
    x = read_decimal(std::string_view(x_text, x_size));

    // deliberate: only the X text loses its "X" letters; the Y text keeps them (Y1X2 reads as 1,
    // YX2 as 0), where the preview scan would read YX2 as 2.
    std::string_view y_text;
    if (first_y != std::string_view::npos) {
        y_text = text.substr(first_y + 1);
        y_text = y_text.substr(0, y_text.find('Y'));
    }
    y = read_decimal(y_text);
}

// Millimetres of a fetched number: the quotient rounded to float, truncated toward zero.
std::int32_t fetch_millimetres(float value, std::int32_t divisor) {
    // A double quotient of two floats rounded to float is the correctly rounded float quotient.
    return truncate_to_int32(round_to_float(static_cast<double>(value) / divisor));
}

// The scan's texts of a hole line: every "X" removed, every "Y" read as ","; X is the text
// before the first ",", Y the text between the first and the second. Case is kept.
void scan_hole_texts(std::string_view line, char* scratch, std::string_view& x_text,
                     std::string_view& y_text) {
    std::size_t size = 0;
    std::size_t first_comma = std::string_view::npos;
    for (const char c : line) {
        if (c == 'X') continue;
        if (c == 'Y' || c == ',') {
            if (first_comma != std::string_view::npos) break;  // the second "," ends the Y text
            first_comma = size;
            continue;
        }
        scratch[size++] = c;
    }
    if (first_comma == std::string_view::npos) {
        x_text = std::string_view(scratch, size);
        y_text = {};
    } else {
        x_text = std::string_view(scratch, first_comma);
        y_text = std::string_view(scratch + first_comma, size - first_comma);
    }
}

}  // namespace

std::int32_t scan_drill_preview(const std::string& file_name, std::int32_t scale_percent,
                                const HoleSink& sink, FileFingerprint* record) {
    LineReader reader;
    if (!(record != nullptr ? reader.open_recording(file_name, *record) : reader.open(file_name))) {
        return 0;
    }
    const std::int64_t length = reader.length();
    const PixelScale pixel(scale_divisor(scale_percent));
    char scratch[LineReader::LINE_LIMIT];
    while (!reader.at_end()) {
        const std::string_view line = reader.next_line();
        if (line.empty() || line[0] != 'X') continue;  // capital X only: the scan keeps case
        std::string_view x_text;
        std::string_view y_text;
        scan_hole_texts(line, scratch, x_text, y_text);
        if (sink) sink(pixel(read_integer(x_text)), pixel(read_integer(y_text)));
    }
    return saturate_to_int32(length);
}

DrillPoint fetch_drill_point(const std::string& file_name, std::int32_t scale_percent,
                             std::int32_t position, const FileFingerprint* expected) {
    DrillPoint point;
    point.next_position = position;
    LineReader reader;
    if (!reader.open_unchanged(file_name, expected)) {
        point.readable = false;
        return point;
    }
    reader.seek(position);
    const std::int32_t divisor = scale_divisor(scale_percent);
    while (!reader.at_end()) {
        const std::string_view line = reader.next_line();
        if (begins_upper(line, "X")) {
            point.next_position = saturate_to_int32(reader.position());
            float x = 0.0f;
            float y = 0.0f;
            fetch_hole_numbers(line, x, y);
            point.x_mm = fetch_millimetres(x, divisor);
            point.y_mm = fetch_millimetres(y, divisor);
            point.found = true;
            break;
        }
        // deliberate: "M30" does not stop the reading; hole lines after it are still fetched.
        if (begins_upper(line, "M30")) point.next_position = saturate_to_int32(reader.length());
    }
    if (reader.failed()) {
        // The file changed or failed under us: report it as unreadable, nothing taken.
        DrillPoint unreadable;
        unreadable.next_position = position;
        unreadable.readable = false;
        return unreadable;
    }
    return point;
}
