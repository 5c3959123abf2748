// hpgl.cpp - the HP-GL reader. Commands are two letters and a parameter list, ended by ";",
// a line end or the next command; they are read straight from the byte stream, so neither a
// long line nor a long coordinate list costs memory beyond the strokes themselves.
#include "hpgl.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>
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

class Reader {
public:
    Reader(const std::string& path, double unit_mm) : source_(path), unit_(unit_mm) {}

    PlotJob read() {
        source_.skip_byte_order_mark();
        for (;;) {
            skip_separators();
            const int first = source_.peek();
            if (first < 0) break;
            if (control(first)) {
                trailing_controls();
                break;
            }
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

    static bool control(int c) { return (c < 0x20 && !blank(c)) || c == 0x7f; }

    // Control bytes (NUL padding, an end-of-file mark) after the last command are ignored;
    // a command after them would make them binary data inside the file.
    void trailing_controls() {
        start_ = source_.offset();
        std::int64_t count = 0;
        for (int c; (c = source_.peek()) >= 0; source_.get()) {
            if (!control(c) && !blank(c)) {
                start_ = source_.offset();
                fail("binary data (byte " + std::to_string(c) +
                     " after control bytes): not an "
                     "HP-GL file");
            }
            count += control(c);
        }
        job_.relied.push_back(std::to_string(count) +
                              " control bytes after the last command, ignored");
    }

    // "!PZ-100,50;": a vendor escape of engraver spoolers between the standard commands,
    // skipped up to its ";" or the line end.
    void vendor_escape() {
        std::string name = "!";
        for (int c; (c = source_.peek()) >= 0 && c != ';' && c != '\n' && c != '\r';) {
            source_.get();
            if (name.size() < 3 && letter(c)) {
                name.push_back(static_cast<char>(std::toupper(c)));
            } else if (name.size() < 3) {
                name.resize(3, '?');
            }
        }
        if (source_.peek() == ';') source_.get();
        ++job_.skipped[name];
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
        if (a == '!') return vendor_escape();
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
                p1p2_.reset();
                user_.reset();
            }
            (void)args;
            return;
        }
        if (m == "PE") fail("HP-GL/2 polyline encoding (PE) is not supported");
        if (m == "IP") return input_points(parameters(16));
        if (m == "SC") return scale(parameters(16));
        if (m == "IR" || m == "RO") {
            const std::vector<double> args = parameters(16);
            const bool changes = m == "RO" ? !args.empty() && args[0] != 0 : !args.empty();
            if (changes) {
                fail(std::string(m) +
                     " changes the plotter's scaling or rotation, which is not supported");
            }
            ++job_.skipped[std::string(m)];
            return;
        }
        if (listed_mnemonic(SKIPPED, m)) {
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

    // IP: the scaling points P1 and P2 in plotter units. Only all four numbers fix them; the
    // plotter's own defaults are not known here.
    void input_points(const std::vector<double>& args) {
        if (args.size() != 0 && args.size() != 4) {
            fail("IP with " + std::to_string(args.size()) +
                 " numbers leaves P2 to the plotter's own calibration, which is not supported");
        }
        if (args.empty()) {
            p1p2_.reset();
            ++job_.skipped["IP"];
        } else {
            p1p2_ = {args[0], args[1], args[2], args[3]};
            job_.relied.push_back("IP " + number_text(args[0]) + "," + number_text(args[1]) + "," +
                                  number_text(args[2]) + "," + number_text(args[3]) + " (byte " +
                                  std::to_string(start_) + "): scaling points P1 and P2");
        }
        if (user_) set_scaling();
    }

    // SC: user units mapped onto P1 and P2, anisotropic (type 0) or by factors (type 2).
    void scale(const std::vector<double>& args) {
        if (args.empty()) {
            user_.reset();
            ++job_.skipped["SC"];
            return;
        }
        const double type = args.size() >= 5 ? args[4] : 0;
        if (args.size() < 4 || (type != 0 && type != 2)) {
            fail("SC of this form (isotropic or incomplete) is not supported");
        }
        user_ = {args[0], args[1], args[2], args[3], type};
        set_scaling();
        job_.relied.push_back("SC " + number_text(args[0]) + "," + number_text(args[1]) + "," +
                              number_text(args[2]) + "," + number_text(args[3]) +
                              (type == 2 ? ",2" : "") + " (byte " + std::to_string(start_) +
                              "): user units, scaled by the file's own IP");
    }

    void set_scaling() {
        if (!p1p2_) {
            fail(
                "SC scales to the plotter's own P1 and P2, which the file does not set with IP: "
                "not supported");
        }
        const auto& p = *p1p2_;
        const auto& u = *user_;
        origin_ = Point{p[0], p[1]};
        user_min_ = Point{u[0], u[2]};
        if (u[4] == 2) {
            factor_ = Point{u[1], u[3]};
        } else {
            if (u[1] == u[0] || u[3] == u[2]) fail("SC with an empty range");
            factor_ = Point{(p[2] - p[0]) / (u[1] - u[0]), (p[3] - p[1]) / (u[3] - u[2])};
        }
        if (!(std::fabs(factor_.x) < 1e9 && std::fabs(factor_.y) < 1e9) || factor_.x == 0 ||
            factor_.y == 0) {
            fail("SC out of range");
        }
    }

    // A user-unit position or step in millimetres.
    Point at(double x, double y) {
        if (!user_) return Point{millimetres(x), millimetres(y)};
        return Point{millimetres(origin_.x + (x - user_min_.x) * factor_.x),
                     millimetres(origin_.y + (y - user_min_.y) * factor_.y)};
    }
    Point step(double x, double y) {
        if (!user_) return Point{millimetres(x), millimetres(y)};
        return Point{millimetres(x * factor_.x), millimetres(y * factor_.y)};
    }
    // Arcs keep their shape only under equal scaling of both axes.
    double arc_length(double units) {
        if (!user_) return millimetres(units);
        if (std::fabs(std::fabs(factor_.x) - std::fabs(factor_.y)) > 1e-9 * std::fabs(factor_.x)) {
            fail("an arc under unequal scaling of the axes is not supported");
        }
        return millimetres(units * std::fabs(factor_.x));
    }
    // A mirrored scaling turns arcs the other way.
    double arc_turn() const { return user_ && factor_.x * factor_.y < 0 ? -1 : 1; }

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
            const Point d = step(x, y);
            const Point p = relative_ ? Point{current_.x + d.x, current_.y + d.y} : at(x, y);
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
            const double r = arc_length(args[0]);
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
        arc_length(0);  // refuses unequal scaling
        const Point d = step(args[0], args[1]);
        const Point centre =
            m == "AA" ? at(args[0], args[1]) : Point{current_.x + d.x, current_.y + d.y};
        const double radius = std::hypot(current_.x - centre.x, current_.y - centre.y);
        const double start = std::atan2(current_.y - centre.y, current_.x - centre.x);
        arc(centre, radius, start, arc_turn() * args[2] * std::numbers::pi / 180);
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
    std::optional<std::array<double, 4>> p1p2_;  // IP: P1 and P2 in plotter units
    std::optional<std::array<double, 5>> user_;  // SC: its numbers and type, while scaling
    Point origin_, user_min_, factor_;
};

}  // namespace

PlotJob read_hpgl(const std::string& path, double unit_mm) {
    return Reader(path, unit_mm).read();
}

bool hpgl_drawing_command(std::string_view mnemonic) {
    return listed_mnemonic(DRAWING, mnemonic);
}

}  // namespace prep
