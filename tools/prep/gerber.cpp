// gerber.cpp - the RS-274X reader. The file is a stream of word commands ended by '*' and
// extended commands between '%' signs; each flash, draw and region becomes polygons that are
// gathered per polarity and united once per batch, so a ground pour of many thousand objects
// costs a few polygon operations, not one per object.
#include "gerber.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>

#include "source.h"

namespace prep {

namespace {

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

// Arcs and circles become chords no farther than this from the true curve.
constexpr double CHORD_TOLERANCE_MM = 0.002;
// Coordinates and sizes beyond this are not a board but a bad number or format.
constexpr double MAX_MM = 100'000;
// The polygon work allowed for one file, in points passed through the polygon library: it
// bounds the time of a file that alternates polarity many times over a large image.
constexpr std::int64_t MAX_WORK = 5 * MAX_POINTS;
constexpr double PI = std::numbers::pi;

struct Aperture {
    bool circle = false;  // a plain circle: draws with it are strokes with round ends
    bool convex = false;  // a single convex outline: draws sweep its hull
    double diameter = 0;  // for a circle, in mm
    Paths shape;          // at the origin, in geometry units
};

// One macro statement: a primitive or a variable assignment, with its offset for messages.
struct MacroStatement {
    std::string text;
    std::size_t at = 0;
};

// Objects of one polarity gathered before they are united with the image at once.
struct Batch {
    Paths paths;                    // closed outlines, outers counter-clockwise
    std::map<cInt, Paths> strokes;  // centre lines of round-aperture draws, by radius
    bool empty() const { return paths.empty() && strokes.empty(); }
};

// What a step-and-repeat block drew: its batches in order, each united, with their polarity.
struct Recorded {
    bool dark;
    Paths paths;
};

std::int64_t count_points(const Paths& paths) {
    std::int64_t n = 0;
    for (const Path& p : paths) n += static_cast<std::int64_t>(p.size());
    return n;
}

// The number of chords that keep an arc of radius `r` and sweep `sweep` (radians) within the
// tolerance; at least one.
std::int64_t chords_for(double r, double sweep) {
    if (r <= CHORD_TOLERANCE_MM) {
        return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(sweep / (PI / 2))));
    }
    const double step = 2 * std::acos(1 - CHORD_TOLERANCE_MM / r);
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(sweep / step)));
}

Path convex_hull(Path pts) {
    std::sort(pts.begin(), pts.end(), [](const IntPoint& a, const IntPoint& b) {
        return a.X < b.X || (a.X == b.X && a.Y < b.Y);
    });
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
    if (pts.size() < 3) return pts;
    auto cross = [](const IntPoint& o, const IntPoint& a, const IntPoint& b) {
        return static_cast<double>(a.X - o.X) * static_cast<double>(b.Y - o.Y) -
               static_cast<double>(a.Y - o.Y) * static_cast<double>(b.X - o.X);
    };
    Path hull(2 * pts.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
        hull[k++] = pts[i];
    }
    for (std::size_t i = pts.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], pts[i - 1]) <= 0) --k;
        hull[k++] = pts[i - 1];
    }
    hull.resize(k - 1);
    return hull;
}

class Parser {
public:
    Parser(std::string_view text, const std::string& name) : text_(text), name_(name) {}

    GerberLayer run() {
        if (text_.starts_with("\xef\xbb\xbf")) pos_ = 3;
        for (;;) {
            skip_blank();
            at_ = pos_;
            if (pos_ >= text_.size()) fail("the file ends before M02: it is cut short");
            if (text_[pos_] == '%') {
                extended();
            } else {
                word();
            }
            if (ended_) break;
        }
        if (in_region_) fail("M02 inside a region (G36 without G37)");
        close_step_repeat();
        end_line();
        flush(main_);
        layer_.image = std::move(image_);
        if (layer_.units.empty()) layer_.units = "mm";
        return std::move(layer_);
    }

private:
    // --- messages and budgets --------------------------------------------------------------

    [[noreturn]] void fail(const std::string& what) const {
        throw PrepError(name_ + ": byte " + std::to_string(at_) + ": " + what);
    }

    void budget(std::int64_t points, const char* what) {
        if (points < 0 || points > MAX_POINTS - made_) fail(too_many_points(what));
        made_ += points;
    }

    void work(std::int64_t points) {
        work_ += points;
        if (work_ > MAX_WORK) {
            fail("the polygon work would exceed " + std::to_string(MAX_WORK) +
                 " points (too many polarity changes over a large image)");
        }
    }

    void note_once(const std::string& text) {
        if (std::find(layer_.notes.begin(), layer_.notes.end(), text) == layer_.notes.end()) {
            layer_.notes.push_back(text);
        }
    }

    // --- the byte stream -------------------------------------------------------------------

    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    void skip_blank() {
        while (pos_ < text_.size() && blank(text_[pos_])) ++pos_;
    }

    // Control bytes are binary data anywhere; bytes above 127 only inside comments and
    // attributes, which may be UTF-8.
    void check_bytes(std::size_t from, std::size_t to, bool text_allowed) {
        for (std::size_t i = from; i < to; ++i) {
            const auto c = static_cast<unsigned char>(text_[i]);
            if ((c < 0x20 && !blank(static_cast<char>(c))) || c == 0x7f ||
                (c >= 0x80 && !text_allowed)) {
                at_ = i;
                fail("binary data (byte " + std::to_string(c) + "): not a Gerber file");
            }
        }
    }

    // The text from `from` to `to` without line ends (which the format lets fall anywhere).
    std::string joined(std::size_t from, std::size_t to) const {
        std::string s;
        s.reserve(to - from);
        for (std::size_t i = from; i < to; ++i) {
            if (text_[i] != '\r' && text_[i] != '\n') s.push_back(text_[i]);
        }
        return s;
    }

    void word() {
        const std::size_t star = text_.find('*', pos_);
        const std::size_t percent = text_.find('%', pos_);
        if (star == std::string_view::npos) fail("the command has no closing '*': cut short");
        if (percent < star) fail("'%' inside a command: a '*' is missing");
        const bool comment = text_.substr(pos_, 3) == "G04";
        check_bytes(pos_, star, comment);
        std::string w = joined(pos_, star);
        pos_ = star + 1;
        if (w.starts_with("G04")) return comment_word(w);
        std::string compact;
        for (char c : w) {
            if (c != ' ' && c != '\t') compact.push_back(c);
        }
        if (!compact.empty()) data_block(compact);
    }

    void extended() {
        const std::size_t close = text_.find('%', pos_ + 1);
        if (close == std::string_view::npos) fail("the '%' command has no closing '%': cut short");
        const std::string_view head =
            text_.substr(pos_ + 1, std::min<std::size_t>(3, close - pos_));
        const bool attribute = head.starts_with("TF") || head.starts_with("TA") ||
                               head.starts_with("TO") || head.starts_with("TD") ||
                               head.starts_with("AM") || head.starts_with("IN") ||
                               head.starts_with("LN");
        check_bytes(pos_ + 1, close, attribute);
        // The statements of the block, each ended by '*'.
        std::vector<MacroStatement> parts;
        std::size_t start = pos_ + 1;
        for (std::size_t i = start; i < close; ++i) {
            if (text_[i] != '*') continue;
            MacroStatement s{joined(start, i), start};
            if (s.text.find_first_not_of(" \t") != std::string::npos) parts.push_back(s);
            start = i + 1;
        }
        if (joined(start, close).find_first_not_of(" \t") != std::string::npos) {
            at_ = start;
            fail("a '*' is missing before the closing '%'");
        }
        pos_ = close + 1;
        if (parts.empty()) return;
        if (parts[0].text.starts_with("AM")) {
            return macro_definition(parts);
        }
        for (const MacroStatement& s : parts) {
            at_ = s.at;
            if (attribute) {
                parameter(s.text);
            } else {
                // Some writers put blanks between the values of a parameter.
                std::string compact = s.text;
                std::erase_if(compact, [](char c) { return c == ' ' || c == '\t'; });
                parameter(compact);
            }
        }
    }

    // --- comments and attributes -----------------------------------------------------------

    void comment_word(const std::string& w) {
        std::string_view rest = std::string_view(w).substr(3);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (rest.starts_with("#@!")) {
            rest.remove_prefix(3);
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
            attribute(rest);
        }
    }

    void attribute(std::string_view a) {
        if (a.starts_with("TF.FileFunction,")) {
            layer_.function = std::string(a.substr(16));
        }
        ++attributes_;
    }

    // --- extended commands -----------------------------------------------------------------

    void parameter(const std::string& s) {
        if (s.size() < 2) fail("unknown command %" + s);
        const std::string code = s.substr(0, 2);
        const std::string_view v = std::string_view(s).substr(2);
        if (code == "FS") return format(s);
        if (code == "MO") {
            if (v == "MM") {
                scale_ = 1;
                layer_.units = "mm";
            } else if (v == "IN") {
                scale_ = 25.4;
                layer_.units = "inch";
            } else {
                fail("unknown unit %" + s);
            }
            layer_.relied.push_back("%" + s + "*%");
            return;
        }
        if (code == "AD") return aperture_definition(s);
        if (code == "LP") {
            if (v == "D") {
                dark_ = true;
            } else if (v == "C") {
                dark_ = false;
            } else {
                fail("unknown polarity %" + s);
            }
            return;
        }
        if (code == "SR") return step_repeat(v);
        if (code == "TF" || code == "TA" || code == "TO" || code == "TD") return attribute(s);
        if (code == "IN" || code == "LN") {
            note_once("%" + code + " (image or layer name, deprecated) read past");
            return;
        }
        if (code == "AS") return identity(s, v == "AXBY", "axis select");
        if (code == "IP") {
            if (v == "NEG") fail("%IPNEG (a negative image) is not supported");
            return identity(s, v == "POS", "image polarity");
        }
        if (code == "MI") return identity(s, zero_pairs(v, 0), "mirror image");
        if (code == "OF") return identity(s, zero_pairs(v, 0), "offset");
        if (code == "SF") return identity(s, zero_pairs(v, 1), "scale factor");
        if (code == "IR") return identity(s, v == "0", "image rotation");
        if (code == "LM") return identity(s, v == "N", "load mirroring");
        if (code == "LR") return identity(s, number_is(v, 0), "load rotation");
        if (code == "LS") return identity(s, number_is(v, 1), "load scaling");
        if (code == "IC") return identity(s, v == "AS", "input code");
        if (code == "IJ" || code == "KO") fail("%" + code + " is not supported");
        fail("unknown command %" + code);
    }

    // "A0B0", "A1.0B1.0", "A0", "" are the values `value` for both axes.
    bool zero_pairs(std::string_view v, double value) {
        std::size_t i = 0;
        while (i < v.size()) {
            if (v[i] != 'A' && v[i] != 'B') return false;
            std::size_t j = i + 1;
            while (j < v.size() && v[j] != 'A' && v[j] != 'B') ++j;
            if (!number_is(v.substr(i + 1, j - i - 1), value)) return false;
            i = j;
        }
        return true;
    }

    bool number_is(std::string_view v, double value) {
        const std::optional<double> n = decimal(v);
        return n && *n == value;
    }

    void identity(const std::string& s, bool is_identity, const char* what) {
        if (!is_identity) fail("%" + s + " (" + what + ") is not supported");
        note_once("%" + s + "*% (" + what + " that changes nothing) read past");
    }

    void format(const std::string& s) {
        std::string_view v = std::string_view(s).substr(2);
        bool trailing = false;
        if (!v.empty() && (v[0] == 'L' || v[0] == 'T' || v[0] == 'D')) {
            trailing = v[0] == 'T';
            v.remove_prefix(1);
        }
        if (!v.empty() && v[0] == 'I') fail("incremental coordinates (%FS...I) are not supported");
        if (!v.empty() && v[0] == 'A') v.remove_prefix(1);
        int xi = -1, xd = -1, yi = -1, yd = -1;
        while (!v.empty()) {
            const char k = v[0];
            v.remove_prefix(1);
            if (k == 'N' || k == 'G' || k == 'D' || k == 'M') {
                if (v.empty() || !std::isdigit(static_cast<unsigned char>(v[0]))) break;
                v.remove_prefix(1);
                continue;
            }
            if ((k != 'X' && k != 'Y') || v.size() < 2 ||
                !std::isdigit(static_cast<unsigned char>(v[0])) ||
                !std::isdigit(static_cast<unsigned char>(v[1]))) {
                fail("bad number format %" + s);
            }
            (k == 'X' ? xi : yi) = v[0] - '0';
            (k == 'X' ? xd : yd) = v[1] - '0';
            v.remove_prefix(2);
        }
        if (!v.empty() || xi < 0 || yi < 0) fail("bad number format %" + s);
        trailing_ = trailing;
        digits_[0] = {xi, xd};
        digits_[1] = {yi, yd};
        have_format_ = true;
        layer_.relied.push_back("%" + s + "*%");
    }

    // --- numbers ---------------------------------------------------------------------------

    // A decimal number as the format writes sizes and macro values: sign, digits, point.
    static std::optional<double> decimal(std::string_view v) {
        if (v.empty() || v.size() > 40) return std::nullopt;
        std::size_t i = 0;
        bool negative = false;
        if (v[0] == '+' || v[0] == '-') {
            negative = v[0] == '-';
            i = 1;
        }
        double value = 0;
        int digits = 0;
        for (; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])); ++i, ++digits) {
            value = value * 10 + (v[i] - '0');
        }
        if (i < v.size() && v[i] == '.') {
            double unit = 0.1;
            for (++i; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i]));
                 ++i, ++digits, unit /= 10) {
                value += (v[i] - '0') * unit;
            }
        }
        if (i != v.size() || digits == 0) return std::nullopt;
        return negative ? -value : value;
    }

    // A coordinate field in the file's format, in millimetres.
    double coordinate(std::string_view v, int axis, char letter) {
        if (!have_format_)
            fail(std::string("a coordinate before %FS: the number format is unknown"));
        if (units_missing()) fail("a coordinate before %MO: the unit is unknown");
        double value = 0;
        if (v.find('.') != std::string_view::npos) {
            const std::optional<double> d = decimal(v);
            if (!d) fail(std::string("bad number ") + letter + std::string(v));
            value = *d;
        } else {
            std::size_t i = 0;
            bool negative = false;
            if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
                negative = v[0] == '-';
                i = 1;
            }
            const std::string_view digits = v.substr(i);
            const auto [whole, fraction] = digits_[axis];
            if (digits.empty() || digits.size() > 18 ||
                digits.find_first_not_of("0123456789") != std::string_view::npos ||
                (trailing_ && static_cast<int>(digits.size()) > whole + fraction)) {
                fail(std::string("bad number ") + letter + std::string(v));
            }
            double n = 0;
            for (char c : digits) n = n * 10 + (c - '0');
            int shift = fraction;
            if (trailing_) shift -= whole + fraction - static_cast<int>(digits.size());
            value = n / std::pow(10.0, shift);
            if (negative) value = -value;
        }
        value *= scale_;
        if (!std::isfinite(value) || std::fabs(value) > MAX_MM) {
            fail(std::string("coordinate ") + letter + std::string(v) + " is beyond 100 m");
        }
        return value;
    }

    bool units_missing() const { return layer_.units.empty(); }

    // A size in an aperture definition or step and repeat, in millimetres.
    double size_value(std::string_view v, const char* what) {
        if (units_missing()) fail(std::string(what) + " before %MO: the unit is unknown");
        const std::optional<double> d = decimal(v);
        if (!d) fail(std::string("bad number '") + std::string(v) + "' in " + what);
        const double mm = *d * scale_;
        if (std::fabs(mm) > MAX_MM) fail(std::string(what) + " beyond 100 m");
        return mm;
    }

    // --- shapes ----------------------------------------------------------------------------

    static IntPoint geo(double x, double y) { return to_geometry(Point{x, y}); }

    // A circle, counter-clockwise.
    Path circle(double cx, double cy, double r) {
        Path p;
        if (r <= 0) return p;
        const std::int64_t n = std::max<std::int64_t>(4, chords_for(r, 2 * PI));
        budget(n, "circles");
        p.reserve(n);
        for (std::int64_t k = 0; k < n; ++k) {
            const double a = 2 * PI * static_cast<double>(k) / static_cast<double>(n);
            p.push_back(geo(cx + r * std::cos(a), cy + r * std::sin(a)));
        }
        return p;
    }

    // Counter-clockwise rectangle centred at (cx, cy).
    static Path rectangle(double cx, double cy, double w, double h) {
        if (w <= 0 || h <= 0) return {};
        return {geo(cx - w / 2, cy - h / 2), geo(cx + w / 2, cy - h / 2),
                geo(cx + w / 2, cy + h / 2), geo(cx - w / 2, cy + h / 2)};
    }

    Path obround(double w, double h) {
        if (w <= 0 || h <= 0) return {};
        if (w == h) return circle(0, 0, w / 2);
        const bool wide = w > h;
        const double r = (wide ? h : w) / 2;
        const double d = ((wide ? w : h) - 2 * r) / 2;
        const std::int64_t n = std::max<std::int64_t>(2, chords_for(r, PI));
        budget(2 * (n + 1), "obround apertures");
        Path p;
        for (int end = 0; end < 2; ++end) {
            // Each end a half circle around its centre, the far end first.
            const double start = (wide ? -PI / 2 : 0) + end * PI;
            const double cx = wide ? (end == 0 ? d : -d) : 0;
            const double cy = wide ? 0 : (end == 0 ? d : -d);
            for (std::int64_t k = 0; k <= n; ++k) {
                const double a = start + PI * static_cast<double>(k) / static_cast<double>(n);
                p.push_back(geo(cx + r * std::cos(a), cy + r * std::sin(a)));
            }
        }
        return p;
    }

    static Path regular_polygon(double cx, double cy, double diameter, int n, double degrees,
                                double about_origin_degrees) {
        Path p;
        if (diameter <= 0) return p;
        const double rot = about_origin_degrees * PI / 180;
        for (int k = 0; k < n; ++k) {
            const double a = degrees * PI / 180 + 2 * PI * k / n;
            const double x = cx + diameter / 2 * std::cos(a), y = cy + diameter / 2 * std::sin(a);
            p.push_back(
                geo(x * std::cos(rot) - y * std::sin(rot), x * std::sin(rot) + y * std::cos(rot)));
        }
        return p;
    }

    // `shape` minus the hole of a standard aperture (one value: round; two: rectangular).
    Paths with_hole(Path shape, const std::vector<double>& hole) {
        Paths out;
        if (shape.empty()) return out;
        if (hole.empty() || hole[0] <= 0) return {shape};
        Path cut = hole.size() == 1 ? circle(0, 0, hole[0] / 2) : rectangle(0, 0, hole[0], hole[1]);
        ClipperLib::Clipper c;
        c.AddPath(shape, ClipperLib::ptSubject, true);
        c.AddPath(cut, ClipperLib::ptClip, true);
        c.Execute(ClipperLib::ctDifference, out, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        return out;
    }

    // --- aperture definitions --------------------------------------------------------------

    // The values of an aperture definition, "0.5X0.25", as written.
    std::vector<double> aperture_values(std::string_view list) {
        std::vector<double> values;
        while (!list.empty()) {
            const std::size_t x = list.find('X');
            const std::optional<double> v = decimal(list.substr(0, x));
            if (!v) {
                fail("bad number '" + std::string(list.substr(0, x)) +
                     "' in an aperture definition");
            }
            values.push_back(*v);
            if (x == std::string_view::npos) break;
            list.remove_prefix(x + 1);
            if (list.empty()) fail("an empty value in an aperture definition");
        }
        return values;
    }

    void aperture_definition(const std::string& s) {
        std::size_t i = 3;
        if (s.size() < 4 || s[2] != 'D') fail("bad aperture definition %" + s);
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == 3 || i - 3 > 9) fail("bad aperture number in %" + s);
        const long number = std::stol(s.substr(3, i - 3));
        if (number < 10) fail("aperture number D" + std::to_string(number) + " is below D10");
        const std::size_t comma = s.find(',', i);
        const std::string name =
            s.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
        const std::string_view list =
            comma == std::string::npos ? std::string_view() : std::string_view(s).substr(comma + 1);
        if (comma != std::string::npos && list.empty()) fail("no values after ',' in %" + s);
        if (units_missing()) fail("an aperture before %MO: the unit is unknown");
        Aperture a;
        if (name == "C" || name == "R" || name == "O" || name == "P") {
            // Standard apertures: their values, then an optional hole.
            const std::vector<double> raw = aperture_values(list);
            // Sizes in millimetres; a polygon's vertex count and rotation are kept as written.
            std::vector<double> v = raw;
            for (std::size_t k = 0; k < v.size(); ++k) {
                if (name == "P" && (k == 1 || k == 2)) continue;
                if (v[k] < 0) fail("a negative size in %" + s);
                v[k] *= scale_;
                if (v[k] > MAX_MM) fail("an aperture beyond 100 m: %" + s);
            }
            auto need = [&](std::size_t low, std::size_t high) {
                if (v.size() < low || v.size() > high) {
                    fail("aperture " + name + " takes " + std::to_string(low) + " to " +
                         std::to_string(high) + " values: %" + s);
                }
            };
            if (name == "C") {
                need(1, 3);
                a.circle = v.size() == 1;
                a.convex = true;
                a.diameter = v[0];
                a.shape = with_hole(circle(0, 0, v[0] / 2), {v.begin() + 1, v.end()});
            } else if (name == "R" || name == "O") {
                need(2, 4);
                a.convex = true;
                Path outline = name == "R" ? rectangle(0, 0, v[0], v[1]) : obround(v[0], v[1]);
                a.shape = with_hole(std::move(outline), {v.begin() + 2, v.end()});
            } else {
                need(2, 5);
                const double vertices = v[1];
                if (vertices != std::floor(vertices) || vertices < 3 || vertices > 12) {
                    fail("a polygon aperture has 3 to 12 vertices: %" + s);
                }
                const double rotation = v.size() > 2 ? v[2] : 0;
                a.convex = true;
                a.shape =
                    with_hole(regular_polygon(0, 0, v[0], static_cast<int>(vertices), rotation, 0),
                              {v.begin() + std::min<std::size_t>(3, v.size()), v.end()});
            }
        } else {
            const auto m = macros_.find(name);
            if (m == macros_.end())
                fail("aperture D" + std::to_string(number) + " uses the undefined macro '" + name +
                     "'");
            a.shape = macro_shape(m->second, list);
        }
        apertures_[static_cast<int>(number)] = std::move(a);
    }

    // --- aperture macros -------------------------------------------------------------------

    void macro_definition(const std::vector<MacroStatement>& parts) {
        std::string name = parts[0].text.substr(2);
        if (name.empty()) fail("an aperture macro without a name");
        std::vector<MacroStatement> body(parts.begin() + 1, parts.end());
        for (MacroStatement& st : body) {
            // Primitives and expressions hold no blanks; comments keep theirs.
            const std::size_t first = st.text.find_first_not_of(" \t");
            st.text.erase(0, first);
            if (!st.text.starts_with("0 ") && st.text != "0" && !st.text.starts_with("0,")) {
                std::erase_if(st.text, [](char c) { return c == ' ' || c == '\t'; });
            }
        }
        macros_[name] = std::move(body);
    }

    // Evaluates expressions of a macro: numbers, $n, + - x /, unary signs, parentheses.
    class Expression {
    public:
        Expression(std::string_view text, const std::map<int, double>& vars, Parser& parser)
            : t_(text), vars_(vars), p_(parser) {}
        double value() {
            const double v = sum(0);
            if (i_ != t_.size()) bad();
            if (!std::isfinite(v) || std::fabs(v) > 1e9) p_.fail("a macro value out of range");
            return v;
        }

    private:
        [[noreturn]] void bad() {
            p_.fail("bad macro expression '" + std::string(t_.substr(0, 60)) + "'");
        }
        double sum(int depth) {
            double v = product(depth);
            while (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) {
                const char op = t_[i_++];
                const double r = product(depth);
                v = op == '+' ? v + r : v - r;
            }
            return v;
        }
        double product(int depth) {
            double v = factor(depth);
            while (i_ < t_.size() && (t_[i_] == 'x' || t_[i_] == 'X' || t_[i_] == '/')) {
                const char op = t_[i_++];
                const double r = factor(depth);
                if (op == '/' && r == 0) p_.fail("division by zero in a macro");
                v = op == '/' ? v / r : v * r;
            }
            return v;
        }
        double factor(int depth) {
            if (depth > 64) p_.fail("a macro expression nested too deeply");
            if (i_ >= t_.size()) bad();
            const char c = t_[i_];
            if (c == '-' || c == '+') {
                ++i_;
                const double v = factor(depth + 1);
                return c == '-' ? -v : v;
            }
            if (c == '(') {
                ++i_;
                const double v = sum(depth + 1);
                if (i_ >= t_.size() || t_[i_] != ')') bad();
                ++i_;
                return v;
            }
            if (c == '$') {
                std::size_t j = ++i_;
                while (j < t_.size() && std::isdigit(static_cast<unsigned char>(t_[j]))) ++j;
                if (j == i_ || j - i_ > 6) bad();
                const int n = std::stoi(std::string(t_.substr(i_, j - i_)));
                i_ = j;
                const auto v = vars_.find(n);
                return v == vars_.end() ? 0 : v->second;
            }
            std::size_t j = i_;
            while (j < t_.size() &&
                   (std::isdigit(static_cast<unsigned char>(t_[j])) || t_[j] == '.')) {
                ++j;
            }
            const std::optional<double> v = decimal(t_.substr(i_, j - i_));
            if (!v) bad();
            i_ = j;
            return *v;
        }
        std::string_view t_;
        const std::map<int, double>& vars_;
        Parser& p_;
        std::size_t i_ = 0;
    };

    // The comma-separated fields of a primitive: its code, then its expressions.
    static std::vector<std::string_view> fields(std::string_view s) {
        std::vector<std::string_view> out;
        for (;;) {
            const std::size_t c = s.find(',');
            out.push_back(s.substr(0, c));
            if (c == std::string_view::npos) break;
            s.remove_prefix(c + 1);
        }
        return out;
    }

    Paths macro_shape(const std::vector<MacroStatement>& body, std::string_view list) {
        std::map<int, double> vars;
        int k = 1;
        while (!list.empty()) {
            const std::size_t x = list.find('X');
            const std::optional<double> v = decimal(list.substr(0, x));
            if (!v) fail("bad number '" + std::string(list.substr(0, x)) + "' in a macro aperture");
            vars[k++] = *v;
            if (x == std::string_view::npos) break;
            list.remove_prefix(x + 1);
        }
        // The primitives are gathered while their exposure stays the same and united at once.
        Paths shape, run;
        bool run_on = true;
        auto close_run = [&]() {
            if (run.empty()) return;
            work(count_points(shape) + count_points(run));
            ClipperLib::Clipper c;
            c.AddPaths(shape, ClipperLib::ptSubject, true);
            c.AddPaths(run, run_on ? ClipperLib::ptSubject : ClipperLib::ptClip, true);
            c.Execute(run_on ? ClipperLib::ctUnion : ClipperLib::ctDifference, shape,
                      ClipperLib::pftNonZero, ClipperLib::pftNonZero);
            run.clear();
        };
        const std::size_t saved_at = at_;
        for (const MacroStatement& st : body) {
            at_ = st.at;
            const std::string& t = st.text;
            if (t.empty() || t[0] == '0') {
                if (t.size() <= 1 || !std::isdigit(static_cast<unsigned char>(t[1]))) continue;
            }
            if (t[0] == '$') {
                const std::size_t eq = t.find('=');
                if (eq == std::string::npos || eq < 2 || eq > 7 ||
                    t.substr(1, eq - 1).find_first_not_of("0123456789") != std::string::npos) {
                    fail("bad macro statement '" + t.substr(0, 60) + "'");
                }
                const int n = std::stoi(t.substr(1, eq - 1));
                vars[n] = Expression(std::string_view(t).substr(eq + 1), vars, *this).value();
                continue;
            }
            const std::vector<std::string_view> f = fields(t);
            std::vector<double> v;
            for (std::size_t i = 1; i < f.size(); ++i) {
                v.push_back(Expression(f[i], vars, *this).value());
            }
            const std::string code(f[0]);
            bool on = true;
            Paths made = primitive(code, v, on);
            if (on != run_on) {
                close_run();
                run_on = on;
            }
            for (Path& p : made) {
                if (ClipperLib::Area(p) < 0) ClipperLib::ReversePath(p);
                run.push_back(std::move(p));
            }
        }
        close_run();
        at_ = saved_at;
        return shape;
    }

    // The polygons of one macro primitive (in millimetres of the file, scaled here), and
    // whether it adds (exposure on) or cuts.
    Paths primitive(const std::string& code, const std::vector<double>& v, bool& on) {
        auto need = [&](std::size_t low, std::size_t high) {
            if (v.size() < low || v.size() > high) {
                fail("macro primitive " + code + " takes " + std::to_string(low) +
                     (low == high ? "" : " to " + std::to_string(high)) + " values, not " +
                     std::to_string(v.size()));
            }
        };
        auto exposure = [&](double e) {
            if (e != 0 && e != 1) fail("macro exposure must be 0 or 1");
            on = e == 1;
        };
        const double k = scale_;
        auto length = [&](double x) {
            if (std::fabs(x * k) > MAX_MM) fail("a macro size beyond 100 m");
            return x * k;
        };
        // Points of a primitive, rotated about the macro's origin.
        auto rotated = [&](const std::vector<Point>& pts, double degrees) {
            const double r = degrees * PI / 180, c = std::cos(r), s = std::sin(r);
            Path p;
            p.reserve(pts.size());
            for (const Point& q : pts) p.push_back(geo(q.x * c - q.y * s, q.x * s + q.y * c));
            return p;
        };
        if (code == "1") {
            need(4, 5);
            exposure(v[0]);
            const double r = length(v[1]) / 2;
            if (r <= 0) return {};
            const double rot = v.size() > 4 ? v[4] * PI / 180 : 0;
            const double x = length(v[2]), y = length(v[3]);
            return {circle(x * std::cos(rot) - y * std::sin(rot),
                           x * std::sin(rot) + y * std::cos(rot), r)};
        }
        if (code == "20" || code == "2") {
            need(7, 7);
            exposure(v[0]);
            const double w = length(v[1]);
            const Point a{length(v[2]), length(v[3])}, b{length(v[4]), length(v[5])};
            const double len = std::hypot(b.x - a.x, b.y - a.y);
            if (w <= 0 || len <= 0) return {};
            const double nx = -(b.y - a.y) / len * w / 2, ny = (b.x - a.x) / len * w / 2;
            return {rotated({{a.x - nx, a.y - ny},
                             {b.x - nx, b.y - ny},
                             {b.x + nx, b.y + ny},
                             {a.x + nx, a.y + ny}},
                            v[6])};
        }
        if (code == "21" || code == "22") {
            need(6, 6);
            exposure(v[0]);
            const double w = length(v[1]), h = length(v[2]);
            double cx = length(v[3]), cy = length(v[4]);
            if (code == "22") cx += w / 2, cy += h / 2;
            if (w <= 0 || h <= 0) return {};
            return {rotated({{cx - w / 2, cy - h / 2},
                             {cx + w / 2, cy - h / 2},
                             {cx + w / 2, cy + h / 2},
                             {cx - w / 2, cy + h / 2}},
                            v[5])};
        }
        if (code == "4") {
            if (v.size() < 2) need(2, 2);
            exposure(v[0]);
            const double n = v[1];
            if (n != std::floor(n) || n < 1) fail("bad vertex count in an outline");
            if (n >= static_cast<double>(MAX_POINTS)) fail(too_many_points("macro outlines"));
            budget(static_cast<std::int64_t>(n) + 1, "macro outlines");
            const std::size_t count = static_cast<std::size_t>(n);
            const std::size_t base = 2 + 2 * (count + 1);
            if (v.size() != base + 1 && v.size() != base) need(base + 1, base + 1);
            std::vector<Point> pts;
            for (std::size_t i = 0; i <= count; ++i) {
                pts.push_back({length(v[2 + 2 * i]), length(v[3 + 2 * i])});
            }
            Paths out;
            ClipperLib::SimplifyPolygon(rotated(pts, v.size() > base ? v[base] : 0), out,
                                        ClipperLib::pftNonZero);
            return out;
        }
        if (code == "5") {
            need(6, 6);
            exposure(v[0]);
            if (v[1] != std::floor(v[1]) || v[1] < 3 || v[1] > 12) {
                fail("a macro polygon has 3 to 12 vertices");
            }
            return {regular_polygon(length(v[2]), length(v[3]), length(v[4]),
                                    static_cast<int>(v[1]), 0, v[5])};
        }
        if (code == "7") {
            need(6, 6);
            const double cx = length(v[0]), cy = length(v[1]);
            const double outer = length(v[2]) / 2, inner = length(v[3]) / 2, gap = length(v[4]);
            if (outer <= 0 || inner < 0 || inner >= outer || gap < 0) {
                fail("bad thermal sizes (outer must exceed inner, gap not negative)");
            }
            const double rot = v[5] * PI / 180, c = std::cos(rot), s = std::sin(rot);
            auto turn = [&](Path p) {
                for (IntPoint& q : p) {
                    const Point m = from_geometry(q);
                    q = geo(m.x * c - m.y * s, m.x * s + m.y * c);
                }
                return p;
            };
            Paths ring{turn(circle(cx, cy, outer))};
            if (inner > 0) {
                Path hole = turn(circle(cx, cy, inner));
                ClipperLib::ReversePath(hole);
                ring.push_back(hole);
            }
            Paths cross{turn(rectangle(cx, cy, 2 * outer + 1, gap)),
                        turn(rectangle(cx, cy, gap, 2 * outer + 1))};
            Paths out;
            ClipperLib::Clipper cl;
            cl.AddPaths(ring, ClipperLib::ptSubject, true);
            cl.AddPaths(cross, ClipperLib::ptClip, true);
            cl.Execute(ClipperLib::ctDifference, out, ClipperLib::pftNonZero,
                       ClipperLib::pftNonZero);
            return out;
        }
        if (code == "6") fail("macro primitive 6 (moire) is not supported");
        fail("unknown macro primitive " + code.substr(0, 12));
    }

    // --- step and repeat -------------------------------------------------------------------

    void step_repeat(std::string_view v) {
        close_step_repeat();
        if (v.empty()) return;
        int nx = 1, ny = 1;
        double dx = 0, dy = 0;
        while (!v.empty()) {
            const char k = v[0];
            std::size_t j = 1;
            while (j < v.size() && !std::isalpha(static_cast<unsigned char>(v[j]))) ++j;
            const std::string_view n = v.substr(1, j - 1);
            if (k == 'X' || k == 'Y') {
                const std::optional<double> c = decimal(n);
                if (!c || *c != std::floor(*c) || *c < 1 || *c > 1e6) {
                    fail("bad repeat count in %SR");
                }
                (k == 'X' ? nx : ny) = static_cast<int>(*c);
            } else if (k == 'I' || k == 'J') {
                (k == 'I' ? dx : dy) = size_value(n, "a step and repeat");
            } else {
                fail("bad %SR command");
            }
            v.remove_prefix(j);
        }
        if ((nx - 1) * std::fabs(dx) > MAX_MM || (ny - 1) * std::fabs(dy) > MAX_MM) {
            fail("a step and repeat beyond 100 m");
        }
        end_line();
        repeat_ = Repeat{nx, ny, dx, dy, layer_.lines.size()};
        recording_ = true;
    }

    void close_step_repeat() {
        if (!recording_) return;
        end_line();
        flush(block_);
        recording_ = false;
        const Repeat r = *repeat_;
        repeat_.reset();
        std::int64_t points = 0;
        for (const Recorded& rec : recorded_) points += count_points(rec.paths);
        for (std::size_t k = r.first_line; k < layer_.lines.size(); ++k) {
            points += static_cast<std::int64_t>(layer_.lines[k].size());
        }
        const std::int64_t copies = static_cast<std::int64_t>(r.nx) * r.ny;
        if (points > 0 && copies - 1 > (MAX_POINTS - made_) / points) {
            fail(too_many_points("step and repeat"));
        }
        made_ += points * (copies - 1);
        std::vector<Recorded> recorded = std::move(recorded_);
        recorded_.clear();
        const std::size_t line_end = layer_.lines.size();
        for (int j = 0; j < r.ny; ++j) {
            for (int i = 0; i < r.nx; ++i) {
                if (i > 0 || j > 0) {
                    for (std::size_t k = r.first_line; k < line_end; ++k) {
                        std::vector<Point> copy = layer_.lines[k];
                        for (Point& p : copy) p = Point{p.x + i * r.dx, p.y + j * r.dy};
                        layer_.lines.push_back(std::move(copy));
                    }
                }
                const cInt ox = to_geometry(Point{i * r.dx, 0}).X;
                const cInt oy = to_geometry(Point{0, j * r.dy}).Y;
                for (const Recorded& rec : recorded) {
                    set_polarity(main_, rec.dark);
                    for (const Path& p : rec.paths) {
                        Path q = p;
                        for (IntPoint& pt : q) pt = IntPoint(pt.X + ox, pt.Y + oy);
                        main_.paths.push_back(std::move(q));
                    }
                }
            }
        }
    }

    // --- batches ---------------------------------------------------------------------------

    Batch& target() { return recording_ ? block_ : main_; }

    void set_polarity(Batch& b, bool dark) {
        bool& current = &b == &main_ ? main_dark_ : block_dark_;
        if (current == dark) return;
        flush(b);
        current = dark;
    }

    Batch& batch() {
        Batch& b = target();
        set_polarity(b, dark_);
        return b;
    }

    void flush(Batch& b) {
        if (b.empty()) return;
        const bool dark = &b == &main_ ? main_dark_ : block_dark_;
        Paths objects = std::move(b.paths);
        for (auto& [radius, lines] : b.strokes) {
            work(count_points(lines) * 4);
            ClipperLib::ClipperOffset offset(2.0, CHORD_TOLERANCE_MM * GEOMETRY_PER_MM);
            offset.AddPaths(lines, ClipperLib::jtRound, ClipperLib::etOpenRound);
            Paths out;
            offset.Execute(out, static_cast<double>(radius));
            budget(count_points(out), "round draws");
            for (Path& p : out) objects.push_back(std::move(p));
        }
        b = Batch{};
        if (&b == &block_) {
            Paths united;
            work(count_points(objects));
            ClipperLib::Clipper c;
            c.AddPaths(objects, ClipperLib::ptSubject, true);
            c.Execute(ClipperLib::ctUnion, united, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
            recorded_.push_back(Recorded{dark, std::move(united)});
            return;
        }
        if (!dark && image_.empty()) return;
        work(count_points(image_) + count_points(objects));
        ClipperLib::Clipper c;
        c.AddPaths(image_, ClipperLib::ptSubject, true);
        c.AddPaths(objects, dark ? ClipperLib::ptSubject : ClipperLib::ptClip, true);
        Paths result;
        c.Execute(dark ? ClipperLib::ctUnion : ClipperLib::ctDifference, result,
                  ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        image_ = std::move(result);
    }

    void add_paths(const Paths& shape, double x, double y) {
        const IntPoint o = geo(x, y);
        budget(count_points(shape), "flashes");
        Batch& b = batch();
        for (const Path& p : shape) {
            Path q = p;
            for (IntPoint& pt : q) pt = IntPoint(pt.X + o.X, pt.Y + o.Y);
            b.paths.push_back(std::move(q));
        }
    }

    // --- data blocks -----------------------------------------------------------------------

    struct Fields {
        std::optional<double> x, y, i, j;
        int d = -1;
    };

    static bool letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

    static int code_number(std::string_view n) {
        if (n.empty() || n.size() > 9 ||
            n.find_first_not_of("0123456789") != std::string_view::npos) {
            return -1;
        }
        return std::stoi(std::string(n));
    }

    void data_block(const std::string& w) {
        Fields f;
        std::size_t i = 0;
        while (i < w.size()) {
            const char k = w[i];
            std::size_t j = i + 1;
            while (j < w.size() && !letter(w[j])) ++j;
            const std::string_view n = std::string_view(w).substr(i + 1, j - i - 1);
            i = j;
            if (k == 'G') {
                const int g = code_number(n);
                g_code(g, n);
                if (g == 4) return;  // the rest of the block is a comment
            } else if (k == 'D') {
                const int d = code_number(n);
                if (d < 0) fail("bad D code D" + std::string(n));
                if (d >= 10) {
                    select_aperture(d);
                } else if (d >= 1 && d <= 3) {
                    f.d = d;
                } else {
                    fail("unknown code D" + std::string(n));
                }
            } else if (k == 'M') {
                const int m = code_number(n);
                if (m == 0 || m == 2) {
                    ended_ = true;
                } else if (m != 1) {
                    fail("unknown code M" + std::string(n));
                }
            } else if (k == 'X' || k == 'Y') {
                (k == 'X' ? f.x : f.y) = coordinate(n, k == 'X' ? 0 : 1, k);
            } else if (k == 'I' || k == 'J') {
                (k == 'I' ? f.i : f.j) = coordinate(n, k == 'I' ? 0 : 1, k);
            } else if (k == 'N') {
                if (code_number(n) < 0) fail("bad sequence number N" + std::string(n));
            } else {
                fail(std::string("unknown code ") + k + std::string(n.substr(0, 12)));
            }
        }
        const bool coordinates = f.x || f.y || f.i || f.j;
        if (f.d < 0 && coordinates) {
            if (last_operation_ < 0) fail("coordinates without D01, D02 or D03");
            note_once("coordinates without an operation code repeat the last one (deprecated)");
            f.d = last_operation_;
        }
        if (f.d > 0) operation(f);
    }

    void g_code(int g, std::string_view n) {
        switch (g) {
            case 1:
                mode_ = Mode::linear;
                return;
            case 2:
                mode_ = Mode::clockwise;
                return;
            case 3:
                mode_ = Mode::counter_clockwise;
                return;
            case 4:   // a comment, read with its text
            case 54:  // the old prefix of an aperture selection
            case 55:  // the old prefix of a flash
            case 90:  // absolute coordinates, the only kind read
                return;
            case 36:
                if (in_region_) fail("G36 inside a region");
                end_line();
                in_region_ = true;
                contour_.clear();
                return;
            case 37:
                if (!in_region_) fail("G37 without G36");
                close_contour();
                in_region_ = false;
                return;
            case 70:
                scale_ = 25.4;
                layer_.units = "inch";
                layer_.relied.push_back("G70 (inch)");
                return;
            case 71:
                scale_ = 1;
                layer_.units = "mm";
                layer_.relied.push_back("G71 (mm)");
                return;
            case 74:
                quadrant_ = Quadrant::single;
                return;
            case 75:
                quadrant_ = Quadrant::multi;
                return;
            case 91:
                fail("incremental coordinates (G91) are not supported");
            default:
                fail("unknown code G" + std::string(n.substr(0, 12)));
        }
    }

    void select_aperture(int d) {
        if (!apertures_.count(d)) fail("aperture D" + std::to_string(d) + " is not defined");
        if (!in_region_) end_line();
        aperture_ = d;
    }

    const Aperture& current_aperture(const char* what) {
        if (aperture_ < 0) fail(std::string(what) + " with no aperture selected");
        return apertures_.at(aperture_);
    }

    void operation(const Fields& f) {
        last_operation_ = f.d;
        const Point to{f.x.value_or(at_point_.x), f.y.value_or(at_point_.y)};
        if (f.d == 2) {
            if (in_region_) {
                close_contour();
            } else {
                end_line();
            }
            at_point_ = to;
            return;
        }
        if (f.d == 3) {
            if (in_region_) fail("a flash (D03) inside a region");
            end_line();
            const Aperture& a = current_aperture("a flash (D03)");
            ++layer_.flashes;
            add_paths(a.shape, to.x, to.y);
            at_point_ = to;
            return;
        }
        // D01: a draw, an arc, or a contour's next stretch.
        std::vector<Point> pts;
        if (mode_ == Mode::linear) {
            pts.push_back(to);
        } else {
            pts = arc(at_point_, to, f.i.value_or(0), f.j.value_or(0));
            ++layer_.arcs;
        }
        if (in_region_) {
            if (contour_.empty()) contour_.push_back(at_point_);
            budget(static_cast<std::int64_t>(pts.size()), "region outlines");
            contour_.insert(contour_.end(), pts.begin(), pts.end());
            at_point_ = to;
            return;
        }
        const Aperture& a = current_aperture("a draw (D01)");
        ++layer_.draws;
        budget(static_cast<std::int64_t>(pts.size()) + (line_.empty() ? 1 : 0), "draws");
        if (line_.empty()) line_.push_back(at_point_);
        line_.insert(line_.end(), pts.begin(), pts.end());
        if (a.circle) {
            const cInt radius = static_cast<cInt>(std::llround(a.diameter / 2 * GEOMETRY_PER_MM));
            if (radius > 0) {
                Batch& b = batch();
                Paths& lines = b.strokes[radius];
                const IntPoint start = to_geometry(at_point_);
                if (!stroke_open_ || lines.empty() || lines.back().back() != start ||
                    stroke_radius_ != radius || stroke_batch_ != &b) {
                    lines.push_back(Path{start});
                }
                for (const Point& p : pts) lines.back().push_back(to_geometry(p));
                stroke_open_ = true;
                stroke_radius_ = radius;
                stroke_batch_ = &b;
            }
        } else {
            sweep(a, at_point_, pts);
        }
        at_point_ = to;
    }

    // A draw with an aperture other than a plain circle: each stretch sweeps the aperture.
    void sweep(const Aperture& a, Point from, const std::vector<Point>& pts) {
        Batch& b = batch();
        for (const Point& p : pts) {
            const IntPoint s = to_geometry(from), e = to_geometry(p);
            for (const Path& shape : a.shape) {
                if (ClipperLib::Area(shape) <= 0) continue;
                budget(2 * static_cast<std::int64_t>(shape.size()), "draws");
                if (a.convex) {
                    Path both;
                    both.reserve(2 * shape.size());
                    for (const IntPoint& q : shape) {
                        both.emplace_back(q.X + s.X, q.Y + s.Y);
                        both.emplace_back(q.X + e.X, q.Y + e.Y);
                    }
                    b.paths.push_back(convex_hull(std::move(both)));
                } else {
                    Paths out;
                    ClipperLib::MinkowskiSum(shape, Path{s, e}, out, false);
                    for (Path& q : out) {
                        if (ClipperLib::Area(q) < 0) ClipperLib::ReversePath(q);
                        b.paths.push_back(std::move(q));
                    }
                }
            }
            from = p;
        }
    }

    // The points of an arc from `from` to `to` (`to` last, `from` left out), centre offset
    // (i, j) from the start, in the current direction and quadrant mode.
    std::vector<Point> arc(Point from, Point to, double i, double j) {
        const bool clockwise = mode_ == Mode::clockwise;
        if (quadrant_ == Quadrant::unset) {
            note_once("arcs before G74/G75 are read as single quadrant, the old default");
            quadrant_ = Quadrant::single;
        }
        auto sweep_of = [&](Point c) {
            const double a1 = std::atan2(from.y - c.y, from.x - c.x);
            const double a2 = std::atan2(to.y - c.y, to.x - c.x);
            double d = clockwise ? a1 - a2 : a2 - a1;
            while (d < 0) d += 2 * PI;
            while (d >= 2 * PI) d -= 2 * PI;
            return d;
        };
        Point centre{from.x + i, from.y + j};
        double sweep = 0;
        const bool same = std::fabs(from.x - to.x) < 1e-9 && std::fabs(from.y - to.y) < 1e-9;
        if (quadrant_ == Quadrant::single) {
            // The signs of the offsets are not written: the centre is the one that makes an
            // arc of at most 90 degrees with the closest radii at both ends.
            double best = HUGE_VAL;
            bool found_small = false;
            for (int sx = -1; sx <= 1; sx += 2) {
                for (int sy = -1; sy <= 1; sy += 2) {
                    const Point c{from.x + sx * std::fabs(i), from.y + sy * std::fabs(j)};
                    const double d = same ? 0 : sweep_of(c);
                    const bool small = d <= PI / 2 + 1e-6;
                    const double mismatch = std::fabs(std::hypot(from.x - c.x, from.y - c.y) -
                                                      std::hypot(to.x - c.x, to.y - c.y));
                    if ((small && !found_small) || (small == found_small && mismatch < best)) {
                        best = mismatch;
                        found_small = small;
                        centre = c;
                        sweep = d;
                    }
                }
            }
        } else {
            sweep = same ? 2 * PI : sweep_of(centre);
        }
        const double r1 = std::hypot(from.x - centre.x, from.y - centre.y);
        const double r2 = std::hypot(to.x - centre.x, to.y - centre.y);
        if (r1 <= 0 || r2 <= 0 || sweep <= 0) return {to};
        const std::int64_t n = chords_for(std::max(r1, r2), sweep);
        budget(n, "arcs");
        std::vector<Point> pts;
        pts.reserve(static_cast<std::size_t>(n));
        const double a1 = std::atan2(from.y - centre.y, from.x - centre.x);
        const double sign = clockwise ? -1 : 1;
        for (std::int64_t k = 1; k < n; ++k) {
            const double t = static_cast<double>(k) / static_cast<double>(n);
            const double a = a1 + sign * sweep * t, r = r1 + (r2 - r1) * t;
            pts.push_back({centre.x + r * std::cos(a), centre.y + r * std::sin(a)});
        }
        pts.push_back(to);
        return pts;
    }

    void close_contour() {
        std::vector<Point> c = std::move(contour_);
        contour_.clear();
        if (c.size() < 2) return;
        ++layer_.regions;
        if (std::fabs(c.front().x - c.back().x) > 1e-9 ||
            std::fabs(c.front().y - c.back().y) > 1e-9) {
            note_once("a region contour that does not end where it starts was closed");
        }
        Path p;
        p.reserve(c.size());
        for (const Point& q : c) p.push_back(to_geometry(q));
        work(static_cast<std::int64_t>(p.size()));
        Paths out;
        ClipperLib::SimplifyPolygon(p, out, ClipperLib::pftNonZero);
        Batch& b = batch();
        for (Path& q : out) b.paths.push_back(std::move(q));
    }

    void end_line() {
        stroke_open_ = false;
        if (line_.size() >= 2) layer_.lines.push_back(std::move(line_));
        line_.clear();
    }

    enum class Mode { linear, clockwise, counter_clockwise };
    enum class Quadrant { unset, single, multi };
    struct Repeat {
        int nx, ny;
        double dx, dy;
        std::size_t first_line;  // the block's centre lines start here in the layer's lines
    };

    std::string_view text_;
    std::string name_;
    std::size_t pos_ = 0;
    std::size_t at_ = 0;  // offset of the command being read, for messages
    bool ended_ = false;
    GerberLayer layer_;

    bool have_format_ = false;
    bool trailing_ = false;
    std::pair<int, int> digits_[2] = {{0, 0}, {0, 0}};  // integer and decimal digits, X and Y
    double scale_ = 1;                                  // millimetres per file unit

    std::map<std::string, std::vector<MacroStatement>> macros_;
    std::map<int, Aperture> apertures_;
    int aperture_ = -1;
    Mode mode_ = Mode::linear;
    Quadrant quadrant_ = Quadrant::unset;
    Point at_point_;
    int last_operation_ = -1;
    bool dark_ = true;

    bool in_region_ = false;
    std::vector<Point> contour_;
    std::vector<Point> line_;
    bool stroke_open_ = false;
    cInt stroke_radius_ = 0;
    const Batch* stroke_batch_ = nullptr;

    Batch main_, block_;
    bool main_dark_ = true, block_dark_ = true;
    bool recording_ = false;
    std::optional<Repeat> repeat_;
    std::vector<Recorded> recorded_;
    Paths image_;

    std::int64_t made_ = 0;
    std::int64_t work_ = 0;
    std::int64_t attributes_ = 0;
};

}  // namespace

GerberLayer parse_gerber(std::string_view text, const std::string& name) {
    try {
        return Parser(text, name).run();
    } catch (const ClipperLib::clipperException& e) {
        throw PrepError(name + ": the polygons could not be formed: " + e.what());
    }
}

GerberLayer read_gerber(const std::string& path) {
    ByteSource source(path);
    std::string text;
    for (int c; (c = source.get()) >= 0;) text.push_back(static_cast<char>(c));
    return parse_gerber(text, path);
}

bool is_profile_layer(const GerberLayer& layer, const std::string& path) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    if (!layer.function.empty()) return lower(layer.function).starts_with("profile");
    std::string name = lower(path);
    if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    for (const char* ext : {".gko", ".gm1", ".gml"}) {
        if (name.ends_with(ext)) return true;
    }
    for (const char* word : {"edge_cuts", "edge.cuts", "outline", "profile"}) {
        if (name.find(word) != std::string::npos) return true;
    }
    return false;
}

}  // namespace prep
