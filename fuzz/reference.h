// reference.h - plain, slow models of the job-file readers for the fuzz targets to compare
// against: the whole file in memory, lines split one byte at a time, numbers through the C
// library in the "C" locale, arithmetic written out differently from the real readers.
#pragma once

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "jobs/line_reader.h"

namespace reference {

struct Line {
    std::string text;  // the examined head of the line
    std::size_t end;   // offset just past its terminator
};

inline Line line_at(const std::string& d, std::size_t from) {
    std::size_t j = from;
    while (j < d.size() && d[j] != '\r' && d[j] != '\n' && d[j] != '\0') ++j;
    Line line{d.substr(from, std::min(j - from, LineReader::LINE_LIMIT)), j};
    if (j < d.size()) line.end += d[j] == '\r' && j + 1 < d.size() && d[j + 1] == '\n' ? 2 : 1;
    return line;
}

inline std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return s;
}

inline bool begins(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// atof into a float, decimal only: strtod, except where it would take hexadecimal or words.
inline float decimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) != nullptr && text[i] != 0) ++i;
    std::size_t j = i;
    const bool negative = j < text.size() && text[j] == '-';
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && std::strchr("iInN", text[j]) != nullptr && text[j] != 0) return 0.0f;
    if (j + 1 < text.size() && text[j] == '0' && (text[j + 1] == 'x' || text[j + 1] == 'X')) {
        return negative ? -0.0f : 0.0f;
    }
    return static_cast<float>(std::strtod(text.c_str(), nullptr));
}

// Blanks and tabs, sign, digits; saturating, as strtoll does.
inline std::int64_t integer(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && std::strchr("\n\v\f\r", text[i]) != nullptr && text[i] != 0) return 0;
    errno = 0;
    return std::strtoll(text.c_str() + i, nullptr, 10);
}

inline std::int32_t truncate(float q) {
    if (std::isnan(q) || std::isinf(q)) return 0;
    const double t = std::trunc(static_cast<double>(q));
    if (t > 2147483647.0) return INT32_MAX;
    if (t < -2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(t);
}

inline std::int32_t clamp32(__int128 v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// The fields of a text between ",", at least two.
inline std::vector<std::string> fields_of(const std::string& s) {
    std::vector<std::string> fields(1);
    for (char c : s) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    fields.resize(std::max<std::size_t>(fields.size(), 2));
    return fields;
}

// Each "X" removed, each "Y" read as ","; the fields between ",".
inline std::vector<std::string> drill_scan_fields(std::string s) {
    std::string t;
    for (char c : s) {
        if (c == 'X') continue;
        t += c == 'Y' ? ',' : c;
    }
    return fields_of(t);
}

// Each "PA" removed (one pass from the left), each ";" read as ","; the fields between ",".
inline std::string plot_converted(std::string s) {
    for (std::size_t at = s.find("PA"); at != std::string::npos; at = s.find("PA", at))
        s.erase(at, 2);
    for (char& c : s) {
        if (c == ';') c = ',';
    }
    return s;
}

struct Hole {
    std::int32_t x, y;
    bool operator==(const Hole&) const = default;
};
struct Segment {
    std::int32_t x1, y1, x2, y2;
    bool operator==(const Segment&) const = default;
};
struct Fetched {
    std::int32_t x = 0, y = 0, pen = 0;
    std::int64_t next = 0;
    bool found = false;
    bool operator==(const Fetched&) const = default;
};

inline std::vector<Hole> drill_scan(const std::string& d, std::int32_t divisor) {
    std::vector<Hole> holes;
    for (std::size_t off = 0; off < d.size();) {
        const Line line = line_at(d, off);
        off = line.end;
        if (!begins(line.text, "X")) continue;
        const auto f = drill_scan_fields(line.text);
        holes.push_back({clamp32(integer(f[0]) / divisor), clamp32(integer(f[1]) / divisor)});
    }
    return holes;
}

inline Fetched drill_fetch(const std::string& d, std::int32_t divisor, std::int32_t position) {
    Fetched r;
    r.next = position;
    for (std::size_t off = static_cast<std::size_t>(std::max(position, 0)); off < d.size();) {
        const Line line = line_at(d, off);
        off = line.end;
        const std::string u = upper(line.text);
        if (begins(u, "X")) {
            r.next = static_cast<std::int64_t>(off);
            const std::size_t y = u.find('Y');
            std::string xs = u.substr(0, y);
            std::erase(xs, 'X');
            std::string ys;
            if (y != std::string::npos) {
                ys = u.substr(y + 1);
                ys = ys.substr(0, ys.find('Y'));
            }
            r.x = truncate(decimal(xs) / static_cast<float>(divisor));
            r.y = truncate(decimal(ys) / static_cast<float>(divisor));
            r.found = true;
            break;
        }
        if (begins(u, "M30")) r.next = static_cast<std::int64_t>(d.size());
    }
    return r;
}

inline void plot_point(const std::string& text, std::int32_t divisor, Fetched& r) {
    const auto f = fields_of(plot_converted(upper(text)));
    const double x = decimal(f[0]);
    const double y = decimal(f[1]);
    r.x = truncate(static_cast<float>(x / divisor + 50.0));
    r.y = truncate(static_cast<float>(y / divisor));
    r.found = true;
}

inline Fetched plot_fetch(const std::string& d, std::int32_t divisor, std::int32_t pen,
                          std::int32_t position) {
    Fetched r;
    r.pen = pen;
    r.next = position;
    std::size_t off = static_cast<std::size_t>(std::max(position, 0));
    while (off < d.size()) {
        const Line line = line_at(d, off);
        off = line.end;
        const std::string u = upper(line.text);
        if (begins(u, "PU")) {
            r.pen = 6;
            Line travel{"", off};
            if (off < d.size()) travel = line_at(d, off);
            off = travel.end;
            r.next = static_cast<std::int64_t>(off);
            plot_point(travel.text, divisor, r);
            break;
        }
        r.next = static_cast<std::int64_t>(off);
        if (r.pen == 7) {
            plot_point(line.text, divisor, r);
            break;
        }
        if (begins(u, "PD")) r.pen = 7;
    }
    if (off >= d.size()) r.next = static_cast<std::int64_t>(d.size());
    return r;
}

inline std::vector<Segment> plot_scan(const std::string& d, std::int32_t divisor) {
    std::vector<Segment> segments;
    int stroke = 0;  // 0 lifted, 1 first point, 2 drawing
    std::int32_t px = 0, py = 0;
    for (std::size_t off = 0; off < d.size();) {
        const Line line = line_at(d, off);
        off = line.end;
        std::string s = line.text;
        if (begins(s, "PU")) stroke = 0;
        if (stroke != 0) {
            s = plot_converted(s);
            const auto f = fields_of(s);
            const std::int32_t x = clamp32(static_cast<__int128>(integer(f[0]) / divisor) + 50);
            const std::int32_t y = clamp32(integer(f[1]) / divisor);
            if (stroke == 2) segments.push_back({x, y, px, py});
            px = x;
            py = y;
            if (stroke == 1) stroke = 2;
        }
        if (begins(s, "PD")) stroke = 1;
    }
    return segments;
}

}  // namespace reference
