// sim.cpp - the simulator's command line and the `inspect` verb.
#include "sim.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "base/line_writer.h"
#include "jobs/drill_file.h"
#include "jobs/job.h"
#include "jobs/plot_file.h"
#include "version.h"  // CNCMIREL_VERSION

namespace sim {

namespace {

constexpr const char* USAGE =
    "usage: cncmirel-sim inspect JOBFILE [--scale N]\n"
    "       cncmirel-sim run JOBFILE [--params FILE] [--refresh HZ] [--port-log FILE] [--png "
    "FILE]\n"
    "       cncmirel-sim --help | --version\n"
    "\n"
    "Runs the controller's own code without a window, port or real time.\n"
    "\n"
    "inspect  shows how the controller reads a job file (.drl drilling, .plt milling):\n"
    "         the preview scan, then the fetches from byte 0 to the end of the file.\n"
    "         --scale N       the scale parameter, 1 to 100 (default 100)\n"
    "\n"
    "run      starts the controller with the parameters of FILE, opens JOBFILE, presses\n"
    "         Start and runs until the motion has ended, listing messages, steps and marks.\n"
    "         --params FILE   parameter file to start with (default ./Param.ini; never written)\n"
    "         --refresh HZ    display refresh rate for the duration estimate (default 60)\n"
    "         --port-log FILE every byte written to the port from Start on, raw\n"
    "         --png FILE      the drawing area of the last pass as a PNG picture\n"
    "\n"
    "Exit status: 0 done; 2 usage error, unreadable job file, unwritable output file or an\n"
    "output that names an input (nothing is written then); 3 a job that did not end.\n";

void error_line(std::FILE* err, std::string_view text) {
    std::fprintf(err, "cncmirel-sim: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(err);
}

// A decimal integer made of digits only, within [low, high]; nothing otherwise.
std::optional<std::int64_t> parse_integer(const std::string& text, std::int64_t low,
                                          std::int64_t high) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return {};
    if (value < low || value > high) return {};
    return value;
}

// The command line after the verb: one job file and options given as "--name VALUE" or
// "--name=VALUE", in any order; a later option of the same name wins.
struct Arguments {
    std::string job_file;
    std::vector<std::pair<std::string, std::string>> options;
};

bool split_arguments(const std::vector<std::string>& args,
                     const std::vector<std::string_view>& known, Arguments& parsed,
                     std::FILE* err) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            std::string name = arg;
            std::optional<std::string> value;
            if (const std::size_t eq = arg.find('=');
                arg.starts_with("--") && eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
            bool is_known = false;
            for (const std::string_view k : known) is_known = is_known || name == k;
            if (!is_known) {
                error_line(err, "unknown option " + name + " for " + args[0] + " (see --help)");
                return false;
            }
            if (!value) {
                if (i + 1 >= args.size()) {
                    error_line(err, "option " + name + " needs a value (see --help)");
                    return false;
                }
                value = args[++i];
            }
            parsed.options.emplace_back(name, *value);
        } else if (parsed.job_file.empty()) {
            parsed.job_file = arg;
        } else {
            error_line(err, "more than one job file: " + parsed.job_file + " and " + arg);
            return false;
        }
    }
    if (parsed.job_file.empty()) {
        error_line(err, args[0] + " needs a job file (see --help)");
        return false;
    }
    return true;
}

// The job's kind from its extension, as the open-file flow takes it.
std::optional<JobKind> kind_of(const std::string& job_file, std::FILE* err) {
    const JobKind kind = job_kind_of(job_file);
    if (kind != JobKind::other) return kind;
    error_line(err, "unknown job file extension \"" + job_file_extension(job_file) + "\" of " +
                        job_file + " (expected drl or plt)");
    return {};
}

int inspect_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    Arguments parsed;
    if (!split_arguments(args, {"--scale"}, parsed, err)) return EXIT_USAGE;
    InspectOptions options;
    options.job_file = parsed.job_file;
    for (const auto& [name, value] : parsed.options) {
        const auto scale = parse_integer(value, 1, 100);
        if (!scale) {
            error_line(err, "--scale takes a whole number from 1 to 100, not \"" + value + "\"");
            return EXIT_USAGE;
        }
        options.scale_percent = static_cast<std::int32_t>(*scale);
    }
    const auto kind = kind_of(options.job_file, err);
    if (!kind) return EXIT_USAGE;
    options.kind = *kind;
    return inspect_job(options, out, err);
}

int run_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    Arguments parsed;
    if (!split_arguments(args, {"--params", "--refresh", "--port-log", "--png"}, parsed, err)) {
        return EXIT_USAGE;
    }
    RunOptions options;
    options.job_file = parsed.job_file;
    for (const auto& [name, value] : parsed.options) {
        if (name == "--refresh") {
            const auto hz = parse_integer(value, 1, std::numeric_limits<std::int32_t>::max());
            if (!hz) {
                error_line(err,
                           "--refresh takes a positive whole number of Hz, not \"" + value + "\"");
                return EXIT_USAGE;
            }
            options.refresh_hz = static_cast<std::int32_t>(*hz);
        } else if (value.empty()) {
            error_line(err, name + " needs a file name");
            return EXIT_USAGE;
        } else if (name == "--params") {
            options.params_file = value;
        } else if (name == "--port-log") {
            options.port_log_file = value;
        } else {
            options.png_file = value;
        }
    }
    if (!kind_of(options.job_file, err)) return EXIT_USAGE;
    return run_job(options, out, err);
}

}  // namespace

const char* usage_text() {
    return USAGE;
}

void report_error(std::FILE* err, std::string_view text) {
    error_line(err, text);
}

int finish_output(LineWriter& lines, std::FILE* err) {
    lines.flush();
    if (!lines.failed()) return EXIT_OK;
    error_line(err, "cannot write the output (disk full or output closed)");
    return EXIT_USAGE;
}

bool check_job_file(const std::string& job_file, std::FILE* err) {
    // The same refusals as the controller's at open: not a readable regular file, or too long.
    const std::int64_t size = job_file_identity(job_file).size;
    if (size < 0) {
        error_line(err, "cannot read job file " + job_file);
        return false;
    }
    if (!fits_byte_offsets(size)) {
        error_line(err, "job file too long for byte offsets: " + job_file);
        return false;
    }
    return true;
}

int run_command_line(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            LineWriter lines(out);
            lines.text(USAGE);
            return finish_output(lines, err);
        }
        if (arg == "--version") {
            LineWriter lines(out);
            lines.text("cncmirel-sim " CNCMIREL_VERSION "\n");
            return finish_output(lines, err);
        }
    }
    if (args.empty()) {
        error_line(err, "no verb given: inspect or run (see --help)");
        return EXIT_USAGE;
    }
    if (args[0] == "inspect") return inspect_command(args, out, err);
    if (args[0] == "run") return run_command(args, out, err);
    error_line(err, "unknown verb \"" + args[0] + "\": inspect or run (see --help)");
    return EXIT_USAGE;
}

int inspect_job(const InspectOptions& options, std::FILE* out, std::FILE* err) {
    if (!check_job_file(options.job_file, err)) return EXIT_USAGE;
    const std::string& file = options.job_file;
    const std::int32_t scale = options.scale_percent;
    const bool drilling = options.kind == JobKind::drilling;
    LineWriter lines(out);

    // The preview scan, in the order it hands its items over.
    std::int32_t length = 0;
    if (drilling) {
        length = scan_drill_preview(
            file, scale, [&lines](std::int32_t x, std::int32_t y) { lines.line("hole", x, y); });
    } else {
        length =
            scan_plot_preview(file, scale,
                              [&lines](std::int32_t x1, std::int32_t y1, std::int32_t x2,
                                       std::int32_t y2) { lines.line("segment", x1, y1, x2, y2); });
    }
    lines.line("length", length);

    // The fetches, each from where the one before left off, up to the end of the file.
    std::int32_t position = 0;
    std::int32_t pen = PEN_NONE;
    for (;;) {
        bool found = false;
        bool readable = true;
        std::int32_t next = position;
        if (drilling) {
            const DrillPoint p = fetch_drill_point(file, scale, position);
            readable = p.readable;
            found = p.found;
            next = p.next_position;
            if (readable && found) lines.line("fetch", p.x_mm, p.y_mm, next);
            if (readable && !found) lines.line("end", next);
        } else {
            const PlotStep s = fetch_plot_step(file, scale, pen, position);
            readable = s.readable;
            found = s.found;
            next = s.next_position;
            pen = s.pen_state;
            if (readable && found) lines.line("fetch", s.x_mm, s.y_mm, pen, next);
            if (readable && !found) lines.line("end", pen, next);
        }
        if (!readable) {
            lines.flush();
            error_line(err,
                       "cannot read job file " + file + " at byte " + std::to_string(position));
            return EXIT_USAGE;
        }
        if (!found || next == length || lines.failed()) break;
        if (next <= position) {
            // A point taken without moving on would be fetched again and again.
            lines.flush();
            error_line(err, "the fetch at byte " + std::to_string(position) + " does not move on");
            return EXIT_PASS_LIMIT;
        }
        position = next;
    }
    return finish_output(lines, err);
}

}  // namespace sim
