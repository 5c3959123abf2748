// excellon.cpp - the drill-file reader. A line at a time, with bounded memory: the header
// settles units and number format, the body moves a current position and drills, slots or
// routes. Whatever the file leaves open is taken from the generator's known habits and
// recorded, or the reader stops and asks for --excellon-format.
#include "excellon.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "plausible.h"
#include "source.h"

namespace prep {

namespace {

constexpr std::size_t LINE_LIMIT = 4096;
constexpr double MAX_MM = 1e6;  // far beyond any table; larger values are corrupt files

const char* const FORMAT_HINT =
    "give --excellon-format UNITS,ZEROS,I:D (for example METRIC,LZ,3:3 or INCH,TZ,2:4)";

std::string upper(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == ' ' || c == '\t') continue;
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "000.000" -> 3:3; nothing when the text is not such a pattern.
bool digit_pattern(std::string_view text, int& int_digits, int& dec_digits) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos || text.size() < 2) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != dot && text[i] != '0') return false;
    }
    int_digits = static_cast<int>(dot);
    dec_digits = static_cast<int>(text.size() - dot - 1);
    return int_digits > 0 && dec_digits > 0;
}

// "3:3" -> 3 and 3, each 1..9.
bool digit_pair(std::string_view text, int& int_digits, int& dec_digits) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const auto one = std::from_chars(text.data(), text.data() + colon, int_digits);
    const auto two =
        std::from_chars(text.data() + colon + 1, text.data() + text.size(), dec_digits);
    return one.ec == std::errc() && one.ptr == text.data() + colon && two.ec == std::errc() &&
           two.ptr == text.data() + text.size() && int_digits >= 1 && int_digits <= 9 &&
           dec_digits >= 0 && dec_digits <= 9;
}

// Number habits of the programs whose drill files leave something unstated.
struct Generator {
    const char* name;
    const char* needle;  // looked for, in lower case, in the header comments
    bool metric;         // units when the file names none
    std::optional<bool> leading;
    int inch_int, inch_dec, mm_int, mm_dec;
};

const Generator GENERATORS[] = {
    {"KiCad", "kicad", true, std::nullopt, 2, 4, 3, 3},
    {"Eagle", "eagle", false, false, 2, 4, 3, 3},
    {"Altium", "altium", false, true, 2, 4, 3, 3},
    {"Altium", "layer_color=", false, true, 2, 4, 3, 3},
    {"Protel", "protel", false, true, 2, 4, 3, 3},
};

struct Word {
    char letter;
    std::string_view text;
};

std::string format_name(const ExcellonFormat& f) {
    std::string text = f.metric ? (*f.metric ? "METRIC" : "INCH") : "?";
    text += f.leading ? (*f.leading ? ",LZ" : ",TZ") : ",?";
    if (f.int_digits) {
        text += "," + std::to_string(*f.int_digits) + ":" + std::to_string(*f.dec_digits);
    } else {
        text += ",?";
    }
    return text;
}

// Thrown when implied-decimal numbers need digits or zeros that nothing in the file states:
// the caller then tries the candidate formats.
struct NeedFormat {
    std::string message;
};

// What the implied-decimal numbers and the comments of a file show about its format.
struct Evidence {
    ExcellonFormat stated;                    // as the file (and its generator's habits) leave it
    std::int64_t leading_zero = 0;            // numbers that start with 0: leading zeros are kept
    std::int64_t trailing_zero = 0;           // numbers that end in 0: trailing zeros are kept
    int widest = 0;                           // digits of the longest number
    std::optional<std::pair<int, int>> hint;  // digits a comment gives, as "2.4" or "2:4"
    std::string hint_line;                    // that comment, for the report
    std::string zeros_word;                   // a comment naming the zeros, for the report
};

class Reader {
public:
    // `fallback` fills what the file leaves unstated (a candidate being tried); `probe` reads
    // the file only for the Evidence, every number it cannot place read as 0.
    Reader(const std::string& path, const std::optional<ExcellonFormat>& given,
           const std::optional<ExcellonFormat>& fallback = std::nullopt, bool probe = false)
        : source_(path), given_(given.has_value()), fallback_(fallback), probe_(probe) {
        if (given) {
            format_ = *given;
            job_.relied.push_back("--excellon-format " + format_text() +
                                  " (replaces what the file states)");
        }
    }

    DrillJob read() {
        source_.skip_byte_order_mark();
        std::string line;
        while (next_line(line)) {
            ++line_number_;
            handle(line);
            if (ended_) break;
        }
        if (!ended_) {
            fail_plain("the file ends without M30: it looks truncated");
        }
        if (path_.size() > 0) flush_path();
        if (job_.holes.empty()) fail_plain("the file holds no holes");
        for (auto& [number, tool] : job_.tools) {
            if (tool.diameter_mm < 0) tool.diameter_mm = -tool.diameter_mm * unit_mm();
        }
        job_.units = format_.metric.value_or(true) ? "mm" : "inch";
        job_.dialect = dialect();
        return std::move(job_);
    }

    Evidence probe() {
        read();
        evidence_.stated = format_;
        return evidence_;
    }

private:
    [[noreturn]] void fail(const std::string& text) const {
        throw PrepError(source_.path() + ": line " + std::to_string(line_number_) + ": " + text);
    }
    [[noreturn]] void fail_plain(const std::string& text) const {
        throw PrepError(source_.path() + ": " + text);
    }

    bool next_line(std::string& line) {
        line.clear();
        for (;;) {
            const int c = source_.get();
            if (c < 0) return !line.empty();
            if (c == '\n' || c == '\r') {
                if (c == '\r' && source_.peek() == '\n') source_.get();
                if (line.empty()) {
                    ++line_number_;
                    continue;
                }
                return true;
            }
            if ((c < 0x20 && c != '\t') || c == 0x7f) {
                ++line_number_;
                fail("binary data (byte " + std::to_string(c) + " at offset " +
                     std::to_string(source_.offset() - 1) + "): not a drill file");
            }
            if (line.size() >= LINE_LIMIT) {
                ++line_number_;
                fail("line longer than " + std::to_string(LINE_LIMIT) + " bytes: not a drill file");
            }
            line.push_back(static_cast<char>(c));
        }
    }

    std::string where() const { return " (line " + std::to_string(line_number_) + ")"; }

    void handle(const std::string& raw) {
        std::string_view text = raw;
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            text.remove_prefix(1);
        if (text.empty()) return;
        if (text.front() == ';') return comment(text);
        text = text.substr(0, text.find(';'));  // a comment after a command
        const std::string line = upper(text);
        if (line.empty()) return;
        if (line == "M48") {
            header_ = true;
            return;
        }
        if (line == "%" || line == "M95") {
            header_ = false;
            return;
        }
        if (line.starts_with("METRIC") || line.starts_with("INCH")) return unit_line(line);
        if (line == "LZ" || line == "TZ") return zeros_line(line, line);
        if (line.starts_with("FMAT,")) {
            if (line != "FMAT,1" && line != "FMAT,2") fail("unknown format " + line);
            job_.relied.push_back(line + where() + ": command set " + line.substr(5));
            return;
        }
        if (line.starts_with("ICI,")) {
            incremental_ = line == "ICI,ON";
            if (incremental_) job_.relied.push_back(line + where() + ": incremental coordinates");
            return;
        }
        if (line.starts_with("M47")) return;  // operator message
        if (line.size() > 1 && line[0] == 'T' &&
            std::isdigit(static_cast<unsigned char>(line[1]))) {
            return tool_line(line);
        }
        std::vector<Word> words;
        if (!split_words(line, words)) {
            if (header_) {
                ++job_.ignored_lines;
                return;
            }
            fail("unknown command '" + line.substr(0, 40) + "'");
        }
        body_line(line, words);
    }

    void comment(std::string_view text) {
        const std::string low = lower(text);
        if (!generator_) {
            for (const Generator& g : GENERATORS) {
                if (low.find(g.needle) != std::string::npos) {
                    generator_ = &g;
                    generator_line_ = line_number_;
                    break;
                }
            }
        }
        if (given_) return;
        const std::string compact = upper(text);
        if (compact.starts_with(";FILE_FORMAT=")) {
            int i = 0, d = 0;
            if (!digit_pair(std::string_view(compact).substr(13), i, d)) {
                job_.notes.push_back("comment " + compact.substr(0, 40) + where() +
                                     " cannot be read: left aside");
                return;
            }
            set_digits(i, d, compact);
            return;
        }
        if (compact.starts_with(";FORMAT={")) return format_comment(std::string(text), low);
        hint_comment(text, low);
    }

    // Comments such as "; Format 2.4 / Trailing": the digits become the only candidate, the
    // zeros word is only noted (generators use it in both senses; the digits decide).
    void hint_comment(std::string_view text, const std::string& low) {
        if (low.find("leading") != std::string::npos || low.find("trailing") != std::string::npos) {
            if (evidence_.zeros_word.empty()) {
                evidence_.zeros_word = std::string(text.substr(0, 60)) + where();
            }
        }
        if (low.find("format") == std::string::npos || evidence_.hint) return;
        for (std::size_t k = 1; k + 1 < low.size(); ++k) {
            const auto digit = [&](std::size_t at) {
                return std::isdigit(static_cast<unsigned char>(low[at])) != 0;
            };
            if ((low[k] != '.' && low[k] != ':') || !digit(k - 1) || !digit(k + 1)) continue;
            if ((k >= 2 && digit(k - 2)) || (k + 2 < low.size() && digit(k + 2))) continue;
            const int i = low[k - 1] - '0', d = low[k + 1] - '0';
            if (i < 1 || i > 6 || d < 1 || d > 6) continue;
            evidence_.hint = std::pair{i, d};
            evidence_.hint_line = std::string(text.substr(0, 60)) + where();
            return;
        }
    }

    // ";FORMAT={3:3/ absolute / metric / suppress leading zeros}", as KiCad writes it.
    void format_comment(const std::string& text, const std::string& low) {
        const std::size_t open = low.find('{');
        const std::size_t slash = low.find('/', open);
        if (slash == std::string::npos) return;
        std::string digits = upper(std::string_view(low).substr(open + 1, slash - open - 1));
        int i = 0, d = 0;
        const std::size_t close = low.find('}');
        const std::string trimmed = close == std::string::npos ? text : text.substr(0, close + 1);
        if (digit_pair(digits, i, d)) set_digits(i, d, trimmed);
        if (low.find("metric") != std::string::npos) set_units(true, trimmed);
        if (low.find("inch") != std::string::npos) set_units(false, trimmed);
        if (low.find("suppress leading") != std::string::npos) set_zeros(false, trimmed);
        if (low.find("suppress trailing") != std::string::npos) set_zeros(true, trimmed);
        if (low.find("keep zeros") != std::string::npos) set_zeros(true, trimmed);
    }

    void set_units(bool metric, const std::string& line) {
        if (given_) return;
        if (format_.metric != metric) {
            job_.relied.push_back(line + where() + ": " + (metric ? "millimetres" : "inches"));
        }
        format_.metric = metric;
    }
    void set_zeros(bool leading, const std::string& line) {
        if (given_) return;
        if (format_.leading != leading) {
            job_.relied.push_back(
                line + where() + ": " +
                (leading ? "leading zeros kept (LZ)" : "trailing zeros kept (TZ)"));
        }
        format_.leading = leading;
    }
    void set_digits(int i, int d, const std::string& line) {
        if (given_) return;
        if (format_.int_digits != i || format_.dec_digits != d) {
            job_.relied.push_back(line + where() + ": " + std::to_string(i) + ":" +
                                  std::to_string(d) + " digits");
        }
        format_.int_digits = i;
        format_.dec_digits = d;
    }

    void unit_line(const std::string& line) {
        const bool metric = line.starts_with("METRIC");
        std::string_view rest = std::string_view(line).substr(metric ? 6 : 4);
        set_units(metric, line);
        while (!rest.empty()) {
            if (rest.front() != ',') fail("cannot read " + line);
            rest.remove_prefix(1);
            const std::size_t comma = rest.find(',');
            const std::string_view part = rest.substr(0, comma);
            int i = 0, d = 0;
            if (part == "LZ" || part == "TZ") {
                zeros_line(std::string(part), line);
            } else if (digit_pattern(part, i, d)) {
                set_digits(i, d, line);
            } else if (!part.empty()) {
                fail("cannot read " + line);
            }
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma);
        }
    }

    void zeros_line(const std::string& zeros, const std::string& line) {
        set_zeros(zeros == "LZ", line);
    }

    // "T1C0.8", "T01F00S00C0.0280", "T1": defines and/or selects a tool.
    void tool_line(const std::string& line) {
        std::size_t i = 1;
        std::int32_t number = 0;
        while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
            if (number > 99999) fail("tool number too large in " + line);
            number = number * 10 + (line[i++] - '0');
        }
        std::vector<Word> words;
        const std::string_view parameters = std::string_view(line).substr(i);
        if (!split_words(parameters, words, true)) fail("cannot read tool " + line);
        bool defined = false;
        for (const Word& w : words) {
            if (w.letter != 'C') continue;
            double value = 0;
            if (!decimal(w.text, value) || value < 0 || value > 1000) {
                fail("cannot read the diameter of " + line);
            }
            // Stored negative while the units are not yet known: read() converts it.
            job_.tools[number] = Tool{number, format_.metric ? value * unit_mm() : -value};
            defined = true;
        }
        if (!defined && !job_.tools.contains(number) && number != 0) {
            job_.tools[number] = Tool{number, 0};
        }
        if (!header_ || !defined) tool_ = number;
    }

    // Splits "X1.5Y-2G85X3Y4" into letter and number words; false when a letter that no
    // body line may hold appears (`any_letter` accepts every letter, for tool parameters).
    static bool split_words(std::string_view line, std::vector<Word>& words,
                            bool any_letter = false) {
        std::size_t i = 0;
        while (i < line.size()) {
            const char letter = line[i];
            if (letter < 'A' || letter > 'Z') return false;
            if (!any_letter && std::string_view("XYGMRFS").find(letter) == std::string_view::npos) {
                return false;
            }
            std::size_t j = i + 1;
            while (j < line.size() && (std::isdigit(static_cast<unsigned char>(line[j])) ||
                                       line[j] == '.' || line[j] == '+' || line[j] == '-')) {
                ++j;
            }
            words.push_back(Word{letter, line.substr(i + 1, j - i - 1)});
            i = j;
        }
        return true;
    }

    static bool decimal(std::string_view text, double& value) {
        if (!text.empty() && text.front() == '+') text.remove_prefix(1);
        if (text.empty()) return false;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
    }

    double unit_mm() { return format_.metric.value_or(true) ? 1.0 : 25.4; }

    void need_units() {
        if (format_.metric) return;
        if (!generator_) {
            fail("the file does not say whether it is in millimetres or inches; " +
                 std::string(FORMAT_HINT));
        }
        format_.metric = generator_->metric;
        job_.relied.push_back(std::string(generator_->name) + " default (named on line " +
                              std::to_string(generator_line_) +
                              "): " + (generator_->metric ? "millimetres" : "inches"));
    }

    // Settles the implied-decimal format for a number of `count` digits; false while probing
    // a file whose format is not settled.
    bool need_format(std::string_view number) {
        const int count = static_cast<int>(number.size());
        if (!format_.int_digits && generator_) {
            const bool mm = *format_.metric;
            format_.int_digits = mm ? generator_->mm_int : generator_->inch_int;
            format_.dec_digits = mm ? generator_->mm_dec : generator_->inch_dec;
            job_.relied.push_back(std::string(generator_->name) + " default (named on line " +
                                  std::to_string(generator_line_) +
                                  "): " + std::to_string(*format_.int_digits) + ":" +
                                  std::to_string(*format_.dec_digits) + " digits");
        }
        if (!format_.leading && generator_ && generator_->leading) {
            format_.leading = generator_->leading;
            job_.relied.push_back(
                std::string(generator_->name) + " default (named on line " +
                std::to_string(generator_line_) + "): " +
                (*generator_->leading ? "leading zeros kept (LZ)" : "trailing zeros kept (TZ)"));
        }
        const bool digits = format_.int_digits.has_value();
        if (digits && (format_.leading || count == *format_.int_digits + *format_.dec_digits)) {
            return true;
        }
        if (probe_) return false;
        if (fallback_) {
            if (!format_.int_digits) {
                format_.int_digits = fallback_->int_digits;
                format_.dec_digits = fallback_->dec_digits;
            }
            if (!format_.leading) format_.leading = fallback_->leading;
            return true;
        }
        throw NeedFormat{"the number " + std::string(number) + " has no decimal point" + where() +
                         (digits ? " and the file does not say which zeros it leaves out"
                                 : " and the file does not state its digits")};
    }

    // A coordinate in millimetres.
    double coordinate(std::string_view text) {
        need_units();
        std::string_view digits = text;
        bool negative = false;
        if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
            negative = digits.front() == '-';
            digits.remove_prefix(1);
        }
        if (digits.empty() || digits.find_first_of("+-") != std::string_view::npos) {
            fail("cannot read the coordinate '" + std::string(text) + "'");
        }
        double value = 0;
        if (digits.find('.') != std::string_view::npos) {
            if (!decimal(digits, value))
                fail("cannot read the coordinate '" + std::string(text) + "'");
            if (!decimal_seen_) {
                decimal_seen_ = true;
                job_.relied.push_back("decimal numbers" + where());
            }
        } else {
            if (digits.size() > 18) fail("the coordinate '" + std::string(text) + "' is too long");
            // Zero reads the same in every format.
            if (digits.find_first_not_of('0') == std::string_view::npos) return 0.0;
            if (probe_) {
                evidence_.leading_zero += digits.front() == '0';
                evidence_.trailing_zero += digits.back() == '0';
                evidence_.widest = std::max(evidence_.widest, static_cast<int>(digits.size()));
            }
            if (!need_format(digits)) return 0.0;
            if (!implied_seen_) {
                implied_seen_ = true;
                job_.relied.push_back("implied-decimal numbers" + where() + ", read as " +
                                      format_text());
            }
            std::uint64_t whole = 0;
            std::from_chars(digits.data(), digits.data() + digits.size(), whole);
            const int count = static_cast<int>(digits.size());
            const int shift =
                format_.leading.value_or(true) ? count - *format_.int_digits : *format_.dec_digits;
            value = static_cast<double>(whole) / std::pow(10.0, shift);
        }
        value *= unit_mm();
        if (!(std::fabs(value) < MAX_MM)) {
            fail("the coordinate '" + std::string(text) + "' is out of range");
        }
        return negative ? -value : value;
    }

    std::string format_text() const { return format_name(format_); }

    // A position from the X and Y words of a line, modal and absolute or incremental.
    Point position(const Point& from, const std::optional<std::string_view>& x,
                   const std::optional<std::string_view>& y) {
        Point p = from;
        if (x) p.x = incremental_ ? from.x + coordinate(*x) : coordinate(*x) + origin_.x;
        if (y) p.y = incremental_ ? from.y + coordinate(*y) : coordinate(*y) + origin_.y;
        if (!(std::fabs(p.x) < MAX_MM && std::fabs(p.y) < MAX_MM)) fail("position out of range");
        return p;
    }

    void drill(const Point& p) {
        if (static_cast<std::int64_t>(job_.holes.size()) >= MAX_POINTS) {
            fail(too_many_points("a hole"));
        }
        job_.holes.push(p.x, p.y, tool_);
    }

    // The tool's diameter in millimetres; 0 when the file leaves it to a tool list of its own.
    double diameter_for_path() {
        const auto it = job_.tools.find(tool_);
        const double d = it == job_.tools.end() ? 0 : it->second.diameter_mm;
        return d < 0 ? -d * unit_mm() : d;
    }

    // Holes along a path, spaced no more than the tool's diameter, both ends included. They
    // are counted before any is made, so that a path of more holes than a job can have is
    // refused at once whatever the tool. A tool of no stated size gets a hole at each end and
    // corner only, with a warning.
    void row(const std::vector<Point>& path, const char* what) {
        double spacing = diameter_for_path();
        if (spacing == 0) {
            spacing = INFINITY;
            if (!sizeless_warned_) {
                sizeless_warned_ = true;
                job_.notes.push_back("WARNING: T" + std::to_string(tool_) +
                                     " has no size in the file" + where() +
                                     ": its slots and routed paths are drilled at their ends "
                                     "and corners only");
            }
        }
        const std::size_t first = job_.holes.size();
        std::vector<std::int64_t> counts(path.size(), 0);
        double total = 1;
        for (std::size_t k = 1; k < path.size(); ++k) {
            const Point a = path[k - 1];
            const Point b = path[k];
            const double length = std::hypot(b.x - a.x, b.y - a.y);
            if (length == 0) continue;
            const double count = std::max(1.0, std::ceil(length / spacing - 1e-9));
            total += count;
            counts[k] = static_cast<std::int64_t>(count);
        }
        if (static_cast<double>(job_.holes.size()) + total > static_cast<double>(MAX_POINTS)) {
            char holes[32];
            std::snprintf(holes, sizeof holes, "%.0f", total);
            fail(too_many_points(std::string(what) + " of " + holes + " holes"));
        }
        drill(path.front());
        for (std::size_t k = 1; k < path.size(); ++k) {
            const Point a = path[k - 1];
            const Point b = path[k];
            const std::int64_t n = counts[k];
            for (std::int64_t i = 1; i <= n; ++i) {
                const double t = static_cast<double>(i) / static_cast<double>(n);
                drill(Point{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
            }
        }
        job_.path_holes += static_cast<std::int64_t>(total);
        job_.path_ranges.emplace_back(first, job_.holes.size());
    }

    void flush_path() {
        if (path_.empty()) return;
        row(path_, "a routed path");
        job_.path_routed.push_back(true);
        ++job_.routed_paths;
        path_.clear();
    }

    // What one body line asks for, gathered from its words before anything is done with it.
    struct BodyCommand {
        std::optional<std::string_view> x, y;    // the point, or a slot's start
        std::optional<std::string_view> x2, y2;  // a slot's end (after G85)
        bool slot = false;                       // G85
        bool zero_set = false;                   // G93: the origin moves
        bool dwell = false;                      // G04: its X is a time, not a place
        std::int64_t repeat = 0;                 // Rn: n more holes, each a step on
        std::vector<int> m_codes;                // done after the move, in the line's order
    };

    // A body line: its words gathered, its G codes applied to the reader's modes, then the hole,
    // slot, route point or repeat it asks for, and its M codes last.
    void body_line(const std::string& line, const std::vector<Word>& words) {
        const BodyCommand c = body_command(line, words);
        if (c.dwell) return;
        if (c.repeat) {
            repeat_holes(line, c.repeat, c.x, c.y);
        } else if (c.zero_set) {
            origin_ = Point{c.x ? coordinate(*c.x) : 0.0, c.y ? coordinate(*c.y) : 0.0};
            job_.relied.push_back(line + where() + ": origin moved");
        } else if (c.slot) {
            const Point start = position(current_, c.x, c.y);
            const Point end = position(start, c.x2, c.y2);
            row({start, end}, "a slot");
            job_.path_routed.push_back(false);
            ++job_.slots;
            current_ = end;
        } else if (c.x || c.y) {
            move_to(position(current_, c.x, c.y), line);
        }
        for (const int code : c.m_codes) m_code(code, line);
    }

    BodyCommand body_command(const std::string& line, const std::vector<Word>& words) {
        BodyCommand c;
        for (const Word& w : words) {
            if (w.letter == 'X' || w.letter == 'Y') {
                auto& target = w.letter == 'X' ? (c.slot ? c.x2 : c.x) : (c.slot ? c.y2 : c.y);
                if (target) fail("two " + std::string(1, w.letter) + " coordinates in " + line);
                target = w.text;
                continue;
            }
            if (w.letter == 'F' || w.letter == 'S') continue;  // feed and speed of a router
            int code = -1;
            const auto [end, ec] =
                std::from_chars(w.text.data(), w.text.data() + w.text.size(), code);
            if (ec != std::errc() || end != w.text.data() + w.text.size()) {
                fail("cannot read '" + line.substr(0, 40) + "'");
            }
            if (w.letter == 'R') {
                if (c.repeat || code < 1) fail("cannot read the repeat code in " + line);
                c.repeat = code;
            } else if (w.letter == 'M') {
                c.m_codes.push_back(code);
            } else {
                g_code(code, w, line, c);
                if (c.dwell) return c;
            }
        }
        return c;
    }

    // One G code: the routing, distance and tool-path modes it sets, or what it marks in `c`.
    void g_code(int code, const Word& w, const std::string& line, BodyCommand& c) {
        switch (code) {
            case 0:
                rout_ = true;
                linear_ = false;
                break;
            case 1:
                rout_ = true;
                linear_ = true;
                break;
            case 2:
            case 3:
                fail("circular routing (G02/G03) is not supported: " + line);
            case 4:
                c.dwell = true;
                break;
            case 5:
            case 81:
                flush_path();
                rout_ = false;
                break;
            case 85:
                if (!c.x && !c.y) fail("G85 slot without a start point: " + line);
                c.slot = true;
                break;
            case 90:
                incremental_ = false;
                break;
            case 91:
                incremental_ = true;
                break;
            case 93:
                c.zero_set = true;
                break;
            case 40:
            case 41:
            case 42:
                break;  // cutter compensation: the centre line is what is drilled
            default:
                fail("unsupported command G" + std::string(w.text) + ": " + line);
        }
    }

    // A move to `p`: a hole when drilling, a point of the path while the router is down.
    void move_to(const Point& p, const std::string& line) {
        if (!rout_) {
            drill(p);
        } else if (!path_.empty() && linear_) {
            path_.push_back(p);
        } else if (!path_.empty()) {
            fail("a rapid move (G00) while the router is down: " + line);
        }
        current_ = p;
    }

    // "R4X2540": four more holes, each this step from the one before (a row of pads).
    void repeat_holes(const std::string& line, std::int64_t count,
                      const std::optional<std::string_view>& x,
                      const std::optional<std::string_view>& y) {
        if (rout_) fail("a repeat code while routing: " + line);
        if (!x && !y) fail("a repeat code without a step: " + line);
        if (static_cast<std::int64_t>(job_.holes.size()) + count > MAX_POINTS) {
            fail(too_many_points("a repeat of " + std::to_string(count) + " holes"));
        }
        const Point step{x ? coordinate(*x) : 0.0, y ? coordinate(*y) : 0.0};
        for (std::int64_t k = 0; k < count; ++k) {
            current_ = Point{current_.x + step.x, current_.y + step.y};
            if (!(std::fabs(current_.x) < MAX_MM && std::fabs(current_.y) < MAX_MM)) {
                fail("position out of range");
            }
            drill(current_);
        }
        if (!repeat_seen_) {
            repeat_seen_ = true;
            job_.relied.push_back(line + where() + ": repeat code, steps from the hole before");
        }
    }

    void m_code(int code, const std::string& line) {
        switch (code) {
            case 15:
                if (!rout_) fail("M15 outside routing: " + line);
                path_.assign(1, current_);
                break;
            case 16:
            case 17:
                flush_path();
                break;
            case 30:
            case 0:
                ended_ = true;
                break;
            case 48:
                header_ = true;
                break;
            case 95:
                header_ = false;
                break;
            case 71:
                set_units(true, line);
                break;
            case 72:
                set_units(false, line);
                break;
            case 6:
            case 9:
                break;  // optional stop, inspection stop
            default:
                fail("unsupported command M" + std::to_string(code) + ": " + line);
        }
    }

    std::string dialect() const {
        std::string text = "Excellon";
        if (generator_) text += " from " + std::string(generator_->name);
        text += ", " + std::string(format_.metric.value_or(true) ? "metric" : "inch");
        if (implied_seen_) text += ", implied decimals " + format_text();
        if (decimal_seen_) text += ", decimal numbers";
        return text;
    }

    ByteSource source_;
    bool given_;                              // the format came from --excellon-format
    std::optional<ExcellonFormat> fallback_;  // fills what the file leaves unstated
    bool probe_;                              // reading only for the evidence
    Evidence evidence_;                       // what the numbers and comments show of the format
    DrillJob job_;                            // the holes and tools read so far
    ExcellonFormat format_;                   // units, zeros and digits as known so far
    const Generator* generator_ = nullptr;    // the CAD program a comment named, if any
    std::int64_t generator_line_ = 0;         // where it was named
    std::int64_t line_number_ = 0;            // of the line being read, from 1
    bool header_ = false;                     // between M48 and % (or M95)
    bool ended_ = false;                      // M30 or M00 read: the rest is not the job
    bool incremental_ = false;                // G91 or ICI,ON: coordinates are steps
    bool rout_ = false;                       // G00/G01 mode: moves route instead of drilling
    bool linear_ = false;                     // G01: the router cuts along the move
    bool decimal_seen_ = false;               // a number with a decimal point was read
    bool implied_seen_ = false;               // a number without one was read
    bool sizeless_warned_ = false;            // the report already says a route tool has no size
    bool repeat_seen_ = false;                // an Rn repeat code was read
    std::int32_t tool_ = 0;                   // the tool holes are drilled with now
    Point current_;                           // where the last move ended, in mm
    Point origin_;                            // the origin G93 set, in mm
    std::vector<Point> path_;                 // the routed path while the router is down (M15)
};

}  // namespace

ExcellonFormat parse_excellon_format(const std::string& text) {
    const std::string line = upper(text);
    ExcellonFormat format;
    const std::size_t one = line.find(',');
    const std::size_t two = one == std::string::npos ? one : line.find(',', one + 1);
    int i = 0, d = 0;
    if (two != std::string::npos) {
        const std::string units = line.substr(0, one);
        const std::string zeros = line.substr(one + 1, two - one - 1);
        if ((units == "METRIC" || units == "INCH") && (zeros == "LZ" || zeros == "TZ") &&
            digit_pair(std::string_view(line).substr(two + 1), i, d)) {
            format.metric = units == "METRIC";
            format.leading = zeros == "LZ";
            format.int_digits = i;
            format.dec_digits = d;
            return format;
        }
    }
    throw PrepError(
        "--excellon-format wants UNITS,ZEROS,I:D such as METRIC,LZ,3:3 or INCH,TZ,2:4, not '" +
        text + "'");
}

namespace {

// A candidate format tried on a file whose format is not settled, and what came of it.
struct Candidate {
    ExcellonFormat format;
    std::optional<DrillJob> job;
    Plausibility plausibility;
    std::string refused;    // why it could not be read at all
    std::uint64_t key = 0;  // the positions it gives, hashed: equal keys read alike
};

std::uint64_t positions_key(const DrillJob& job) {
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&](std::int64_t v) {
        h ^= static_cast<std::uint64_t>(v);
        h *= 1099511628211ull;
    };
    job.holes.each([&](std::size_t, const Point& p, std::int32_t tool) {
        mix(std::llround(p.x * 1e6));
        mix(std::llround(p.y * 1e6));
        mix(tool);
    });
    return h;
}

std::string describe(const Candidate& c) {
    if (!c.refused.empty()) return format_name(c.format) + " (" + c.refused + ")";
    std::string text = format_name(c.format) + " (" + c.plausibility.summary();
    if (!c.plausibility.ok()) text += "; implausible";
    return text + ")";
}

// How much better than the runner-up a candidate must look to be chosen.
constexpr double CLEAR_LEAD = 0.25;

// Tries the formats the file's numbers allow and keeps the one whose holes look like a board,
// when one clearly does.
DrillJob infer_format(const std::string& path, const NeedFormat& need) {
    const Evidence ev = Reader(path, std::nullopt, std::nullopt, true).probe();
    const ExcellonFormat& stated = ev.stated;
    std::vector<bool> zeros;
    std::string why;
    if (stated.leading) {
        zeros = {*stated.leading};
    } else if (ev.leading_zero > 0 && ev.trailing_zero == 0) {
        zeros = {true};
        why = "numbers start with 0 and none ends in 0: leading zeros kept";
    } else if (ev.trailing_zero > 0 && ev.leading_zero == 0) {
        zeros = {false};
        why = "numbers end in 0 and none starts with 0: trailing zeros kept";
    } else {
        zeros = {true, false};
    }
    std::vector<std::pair<int, int>> digits;
    if (stated.int_digits) {
        digits = {{*stated.int_digits, *stated.dec_digits}};
    } else if (ev.hint) {
        digits = {*ev.hint};
        if (!why.empty()) why += "; ";
        why += "digits from the comment " + ev.hint_line;
    } else if (stated.metric.value_or(true)) {
        digits = {{3, 3}, {4, 2}, {3, 2}, {4, 3}};
    } else {
        digits = {{2, 4}, {2, 3}, {2, 5}};
    }
    std::vector<Candidate> tried;
    for (const bool leading : zeros) {
        for (const auto& [i, d] : digits) {
            if (i + d < ev.widest) continue;  // the file holds longer numbers
            Candidate c;
            c.format = ExcellonFormat{stated.metric, leading, i, d};
            try {
                c.job = Reader(path, std::nullopt, c.format).read();
                c.plausibility = check_plausible(*c.job);
                c.key = positions_key(*c.job);
            } catch (const PrepError& e) {
                const std::string text = e.what();
                const std::size_t colon = text.find(": ");
                c.refused = colon == std::string::npos ? text : text.substr(colon + 2);
            }
            // Formats that read every number alike are one candidate.
            bool same = false;
            for (const Candidate& before : tried)
                same = same || (c.job && before.job && before.key == c.key);
            if (!same) tried.push_back(std::move(c));
        }
    }
    std::vector<Candidate*> plausible;
    for (Candidate& c : tried) {
        if (c.job && c.plausibility.ok()) plausible.push_back(&c);
    }
    std::stable_sort(plausible.begin(), plausible.end(),
                     [](const Candidate* a, const Candidate* b) {
                         return a->plausibility.score() > b->plausibility.score();
                     });
    const bool clear =
        plausible.size() == 1 ||
        (plausible.size() > 1 &&
         plausible[0]->plausibility.score() - plausible[1]->plausibility.score() >= CLEAR_LEAD);
    if (!clear) {
        std::string list;
        for (const Candidate& c : tried) list += (list.empty() ? "" : ", ") + describe(c);
        throw PrepError(path + ": " + need.message + ", and " +
                        (plausible.empty() ? "no format makes a plausible board"
                                           : "more than one format makes a plausible board") +
                        ": " + (list.empty() ? "no candidates" : list) + "; " + FORMAT_HINT);
    }
    Candidate& won = *plausible[0];
    const Candidate* runner = plausible.size() > 1 ? plausible[1] : nullptr;
    for (const Candidate& c : tried) {
        if (!runner && &c != &won) runner = &c;
    }
    DrillJob job = std::move(*won.job);
    std::string text =
        "number format inferred: " + format_name(won.format) + ", " + won.plausibility.summary();
    if (!why.empty()) text += "; " + why;
    text += runner ? "; runner-up " + describe(*runner) : "; no other format fits the numbers";
    job.relied.push_back(text);
    if (!ev.zeros_word.empty()) {
        job.notes.push_back("the comment " + ev.zeros_word +
                            " names the zeros; they are taken from what the digits show");
    }
    return job;
}

}  // namespace

DrillJob read_excellon(const std::string& path, const std::optional<ExcellonFormat>& given) {
    if (given) return Reader(path, given).read();
    try {
        return Reader(path, std::nullopt).read();
    } catch (const NeedFormat& need) {
        return infer_format(path, need);
    }
}

}  // namespace prep
