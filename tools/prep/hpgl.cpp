// hpgl.cpp - the HP-GL reader. Commands are two letters and a parameter list, ended by ";",
// a line end or the next command; they are read straight from the byte stream, so neither a
// long line nor a long coordinate list costs memory beyond the strokes themselves.
#include "hpgl.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>
#include <string_view>
#include <vector>

#include "source.h"

namespace prep {

namespace {

constexpr double MAX_MM = 1e6;
constexpr int NUMBER_LIMIT = 64;
constexpr int ETX = 3;

// Commands that neither move the pen nor change how coordinates are read.
constexpr std::string_view SKIPPED =
    "AC AD AF AH AP AS BF BL BP BR BZ CA CC CF CM CO CP CR CS CT CV DC DF DI DL DP DR DS DV EA "
    "EC EP ER ES EW FI FN FP FR FS FT GC GM GP IM IV IW KY LA LM LO LT MC MG MT NP NR OA OC OD "
    "OE OF OG OH OI OK OL OO OP OS OT OW PB PC PG PM PP PS PT PW QL RA RF RP RQ RR RT SA SB SD "
    "SG SI SL SM SR SS ST SV TD TL TR UC UL VS WG WU XT YT";

// Skipped commands that draw shapes of their own, which the output leaves out.
constexpr std::string_view DRAWING = "EA ER EW RA RR WG BZ BR PE FP EP";

bool listed(std::string_view list, std::string_view mnemonic) {
    for (std::size_t i = 0; i + 1 < list.size(); i += 3) {
        if (list.substr(i, 2) == mnemonic) return true;
    }
    return false;
}

class Reader {
public:
    Reader(const std::string& path, double unit_mm) : source_(path), unit_(unit_mm) {}

    PlotJob read() {
        source_.skip_byte_order_mark();
        for (;;) {
            skip_separators();
            const int first = source_.peek();
            if (first < 0) break;
            command();
        }
        end_stroke();
        if (job_.points.empty()) fail_plain("the file holds no pen-down strokes");
        job_.relied.push_back("plotter unit " + number_text(unit_) + " mm");
        return std::move(job_);
    }

private:
    [[noreturn]] void fail(const std::string& text) const {
        throw PrepError(source_.path() + ": byte " + std::to_string(start_) + ": " + text);
    }
    [[noreturn]] void fail_plain(const std::string& text) const {
        throw PrepError(source_.path() + ": " + text);
    }

    static std::string number_text(double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", v);
        return text;
    }

    static bool blank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

    void check_byte(int c) {
        if ((c < 0x20 && !blank(c) && c != ETX) || c == 0x7f || c >= 0x80) {
            start_ = source_.offset();
            fail("binary data (byte " + std::to_string(c) + "): not an HP-GL file");
        }
    }

    void skip_separators() {
        for (int c; (c = source_.peek()) >= 0;) {
            if (!blank(c) && c != ';') return;
            source_.get();
        }
    }

    void command() {
        start_ = source_.offset();
        const int a = source_.get();
        const int b = source_.peek();
        check_byte(a);
        if (!letter(a) || !letter(b)) {
            fail(std::string("unexpected '") + static_cast<char>(a) + "': not an HP-GL command");
        }
        source_.get();
        const char name[2] = {static_cast<char>(std::toupper(a)),
                              static_cast<char>(std::toupper(b))};
        const std::string_view m(name, 2);
        ++job_.commands;
        if (m == "LB") return label();
        if (m == "DT") return terminator();
        if (m == "PU" || m == "PD" || m == "PA" || m == "PR") return pen_command(m);
        if (m == "CI" || m == "AA" || m == "AR") return arc_command(m);
        if (m == "SP" || m == "IN") {
            std::vector<double> args = parameters(2);
            pen_down_ = false;
            end_stroke();
            if (m == "IN") {
                relative_ = false;
                label_end_ = ETX;
            }
            (void)args;
            return;
        }
        if (m == "PE") fail("HP-GL/2 polyline encoding (PE) is not supported");
        if (m == "SC" || m == "IP" || m == "IR" || m == "RO") {
            const std::vector<double> args = parameters(16);
            const bool changes = m == "RO" ? !args.empty() && args[0] != 0 : !args.empty();
            if (changes) {
                fail(std::string(m) +
                     " changes the plotter's scaling or rotation, which is not supported");
            }
            ++job_.skipped[std::string(m)];
            return;
        }
        if (listed(SKIPPED, m)) {
            if (m == "SM")
                symbol_mode();
            else
                parameters(64);
            ++job_.skipped[std::string(m)];
            return;
        }
        fail("unknown HP-GL command " + std::string(m));
    }

    // Reads one number of a parameter list; false at the end of the list.
    bool number(double& value, bool& ended_by_separator) {
        ended_by_separator = false;
        for (;;) {
            const int c = source_.peek();
            if (c == ' ' || c == '\t') {
                source_.get();
                continue;
            }
            if (c == ',') {
                if (ended_by_separator) fail("an empty parameter");
                source_.get();
                ended_by_separator = true;
                continue;
            }
            if (c < 0) {
                if (ended_by_separator) fail("the file ends inside a command: it looks truncated");
                return false;
            }
            if ((c == '\r' || c == '\n') && ended_by_separator) {
                source_.get();  // a list wrapped after a comma goes on on the next line
                continue;
            }
            if (c == ';' || c == '\r' || c == '\n' || letter(c)) {
                if (ended_by_separator) fail("a parameter list ends with a comma");
                if (c == ';') source_.get();
                return false;
            }
            if (c == '"') {
                source_.get();
                for (int q; (q = source_.get()) != '"';) {
                    if (q < 0) fail("the file ends inside a quoted string: it looks truncated");
                }
                ended_by_separator = false;
                continue;
            }
            if (!(std::isdigit(c) || c == '+' || c == '-' || c == '.')) {
                check_byte(c);
                fail(std::string("unexpected '") + static_cast<char>(c) + "' in a parameter list");
            }
            char text[NUMBER_LIMIT + 1];
            int n = 0;
            for (int d; (d = source_.peek()) >= 0 &&
                        (std::isdigit(d) || d == '.' || ((d == '+' || d == '-') && n == 0));) {
                if (n == NUMBER_LIMIT) fail("a number longer than 64 characters");
                text[n++] = static_cast<char>(source_.get());
            }
            const char* begin = text[0] == '+' ? text + 1 : text;
            const auto [end, ec] = std::from_chars(begin, text + n, value);
            if (ec != std::errc() || end != text + n || !std::isfinite(value)) {
                fail("cannot read the number '" + std::string(text, static_cast<std::size_t>(n)) +
                     "'");
            }
            return true;
        }
    }

    std::vector<double> parameters(std::size_t keep) {
        std::vector<double> args;
        double v = 0;
        bool separated = false;
        while (number(v, separated)) {
            if (args.size() < keep) args.push_back(v);
        }
        return args;
    }

    void label() {
        ++job_.labels;
        for (int c; (c = source_.get()) != label_end_;) {
            if (c < 0) fail("the file ends inside a label (LB): it looks truncated");
        }
    }

    // DT: the next byte ends labels from now on; "DT;" restores the default.
    void terminator() {
        const int c = source_.peek();
        if (c < 0 || c == ';' || c == '\n' || c == '\r') {
            label_end_ = ETX;
        } else {
            label_end_ = source_.get();
        }
        parameters(2);
        ++job_.skipped["DT"];
    }

    void symbol_mode() {
        const int c = source_.peek();
        if (c >= 0 && c != ';' && c != '\n' && c != '\r') source_.get();
        parameters(2);
    }

    double millimetres(double units) {
        const double mm = units * unit_;
        if (!(std::fabs(mm) < MAX_MM)) fail("a coordinate out of range");
        return mm;
    }

    void pen_command(std::string_view m) {
        if (m == "PU") pen_down_ = false;
        if (m == "PD") pen_down_ = true;
        if (m == "PA") relative_ = false;
        if (m == "PR") relative_ = true;
        if (!pen_down_) end_stroke();
        double x = 0, y = 0;
        bool separated = false;
        bool any = false;
        while (number(x, separated)) {
            if (!number(y, separated)) fail("an odd number of coordinates: it looks truncated");
            const Point p = relative_
                                ? Point{current_.x + millimetres(x), current_.y + millimetres(y)}
                                : Point{millimetres(x), millimetres(y)};
            move(p);
            any = true;
        }
        // A pen put down without a move marks a dot.
        if (m == "PD" && !any) begin_stroke();
    }

    void arc_command(std::string_view m) {
        const std::vector<double> args = parameters(4);
        ++job_.arcs;
        if (m == "CI") {
            if (args.empty()) fail("CI without a radius");
            const double r = millimetres(args[0]);
            const Point centre = current_;
            const bool was_down = pen_down_;
            pen_down_ = false;
            end_stroke();
            const double start = r < 0 ? std::numbers::pi : 0.0;
            const double radius = std::fabs(r);
            move(Point{centre.x + radius * std::cos(start), centre.y + radius * std::sin(start)});
            pen_down_ = true;
            arc(centre, radius, start, 2 * std::numbers::pi);
            pen_down_ = false;
            end_stroke();
            current_ = centre;
            pen_down_ = was_down;  // the next pen-down move starts at the centre
            return;
        }
        if (args.size() < 3) fail(std::string(m) + " needs a centre and an angle");
        const Point centre =
            m == "AA" ? Point{millimetres(args[0]), millimetres(args[1])}
                      : Point{current_.x + millimetres(args[0]), current_.y + millimetres(args[1])};
        const double radius = std::hypot(current_.x - centre.x, current_.y - centre.y);
        const double start = std::atan2(current_.y - centre.y, current_.x - centre.x);
        arc(centre, radius, start, args[2] * std::numbers::pi / 180);
    }

    // Moves along an arc in chords no farther than the tolerance from it.
    void arc(const Point& centre, double radius, double start, double sweep) {
        if (!(std::fabs(sweep) < 1e4)) fail("an arc angle out of range");
        std::int64_t n = 1;
        if (radius > ARC_TOLERANCE_MM) {
            const double step = 2 * std::acos(1 - ARC_TOLERANCE_MM / radius);
            n = std::max<std::int64_t>(
                1, static_cast<std::int64_t>(std::ceil(std::fabs(sweep) / step)));
        }
        // A raised pen only travels: the arc's end is all that matters, however many chords.
        if (!pen_down_) n = 1;
        // Counted before any chord is made, so that a huge arc costs nothing to refuse.
        const auto room = MAX_POINTS - static_cast<std::int64_t>(job_.points.size());
        if (n > room) fail(too_many_points("an arc of " + std::to_string(n) + " chords"));
        for (std::int64_t i = 1; i <= n; ++i) {
            const double a = start + sweep * static_cast<double>(i) / static_cast<double>(n);
            move(Point{centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)});
        }
    }

    void begin_stroke() {
        if (open_) return;
        open_ = true;
        job_.starts.push_back(static_cast<std::uint32_t>(job_.points.size()));
        job_.points.push_back(current_);
    }

    void end_stroke() { open_ = false; }

    void move(const Point& p) {
        // Arcs can reach beyond the range that each of their parameters keeps to.
        if (!(std::fabs(p.x) < MAX_MM && std::fabs(p.y) < MAX_MM))
            fail("a coordinate out of range");
        if (pen_down_) {
            begin_stroke();
            const Point& last = job_.points.back();
            if (p.x != last.x || p.y != last.y) {
                if (static_cast<std::int64_t>(job_.points.size()) >= MAX_POINTS) {
                    fail(too_many_points("a pen-down move"));
                }
                job_.points.push_back(p);
            }
        }
        current_ = p;
    }

    ByteSource source_;
    double unit_;
    PlotJob job_;
    std::int64_t start_ = 0;  // offset of the command being read
    Point current_;
    bool pen_down_ = false;
    bool relative_ = false;
    bool open_ = false;
    int label_end_ = ETX;
};

}  // namespace

PlotJob read_hpgl(const std::string& path, double unit_mm) {
    return Reader(path, unit_mm).read();
}

bool hpgl_drawing_command(std::string_view mnemonic) {
    return listed(DRAWING, mnemonic);
}

}  // namespace prep
