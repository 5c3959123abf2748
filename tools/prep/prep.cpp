// prep.cpp - the command line, the conversion from input to outputs, and the report.
#include "prep.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

#include "detect.h"
#include "hpgl.h"
#include "machine.h"
#include "output.h"
#include "report.h"
#include "source.h"
#include "version.h"  // CNCMIREL_VERSION
#include "writers.h"

namespace prep {

namespace {

constexpr const char* USAGE =
    "usage: cncmirel-prep INPUT -o OUTPUT [options]\n"
    "\n"
    "Turns an Excellon drill file or an HP-GL plot file, as PCB CAD programs export them,\n"
    "into a job the controller runs as it is meant: whole millimetres for scale 100, placed\n"
    "on the table. The kind of INPUT comes from its content; OUTPUT must end in .drl for a\n"
    "drill file and in .plt for HP-GL. A report of everything assumed goes to standard output.\n"
    "\n"
    "  -o, --output FILE          the output job (with --tools split, the name the tool\n"
    "                             files are made from: FILE-stem-T<nn>-<diameter>mm.drl)\n"
    "  --tools split|all          one drilling job per tool (default) or all holes in one\n"
    "  --origin keep|corner       keep the file's coordinates, or put the job's corner\n"
    "                             nearest X 0, Y 0 at the margin (default corner)\n"
    "  --margin MM                the corner's distance from the table's edges (default 5)\n"
    "  --offset X,Y               a further shift in millimetres\n"
    "  --mirror-x                 mirror about the job's vertical centre line (back side)\n"
    "  --excellon-format U,Z,I:D  number format of a drill file, for example METRIC,LZ,3:3\n"
    "                             or INCH,TZ,2:4 (LZ: leading zeros kept; TZ: trailing zeros\n"
    "                             kept); replaces what the file states\n"
    "  --hpgl-unit MM             length of one HP-GL plotter unit (default 0.025)\n"
    "  --order file|nearest       keep the file's hole order (default) or shorten the travel\n"
    "  --params FILE              check the jobs against the machine of this Param.ini: the\n"
    "                             table, and each job's duration at 60 Hz\n"
    "  --quiet                    no report\n"
    "  -h, --help                 this text\n"
    "  --version                  the program's version\n"
    "\n"
    "Exit status: 0 done; 2 usage error, unreadable, unsupported or ambiguous input (nothing\n"
    "is written then).\n";

bool number(const std::string& text, double& value) {
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') ++begin;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
           std::isfinite(value);
}

[[noreturn]] void usage(const std::string& text) {
    throw PrepError(text + " (see --help)");
}

bool ends_with_ext(const std::string& path, const char* ext) {
    if (path.size() < 5) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ext && path[path.size() - 5] != '/';
}

std::string diameter_text(double mm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", mm);
    std::string s = text;
    while (s.size() > 1 && s.back() == '0' && s[s.size() - 3] != '.') s.pop_back();
    return s;
}

std::string tool_file(const std::string& output, const Tool& tool) {
    const std::string stem = output.substr(0, output.size() - 4);
    char number[16];
    std::snprintf(number, sizeof number, "%02d", tool.number);
    std::string name = stem + "-T" + number;
    if (tool.diameter_mm > 0) name += "-" + diameter_text(tool.diameter_mm) + "mm";
    return name + output.substr(output.size() - 4);
}

std::vector<std::string> temporaries(OutputSet& outputs) {
    outputs.close_all();
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < outputs.final_paths().size(); ++i) {
        paths.push_back(outputs.temporary_path(i));
    }
    return paths;
}

// Holes of one output that land on the same whole millimetre as another of its holes.
std::int64_t shared_positions(const HoleList& holes, const std::vector<std::uint32_t>& order,
                              const Transform& t) {
    std::vector<std::uint64_t> keys;
    keys.reserve(order.size());
    for (const std::uint32_t i : order) {
        const IntPoint p = round_mm(t.apply(holes.point(i)));
        keys.push_back((static_cast<std::uint64_t>(p.x) << 32) ^ static_cast<std::uint32_t>(p.y));
    }
    std::sort(keys.begin(), keys.end());
    std::int64_t shared = 0;
    for (std::size_t k = 1; k < keys.size(); ++k) shared += keys[k] == keys[k - 1];
    return shared;
}

void convert_drill(const Options& o, Report& report) {
    DrillJob job = read_excellon(o.input, o.excellon_format);
    if (job.holes.size() > 0xffffffffu) throw PrepError("too many holes");
    Box box;
    job.holes.each([&](std::size_t, const Point& p, std::int32_t) { box.add(p); });
    const Transform t = placement(box, o.place);

    // One output per tool in tool order, or one for all: lists of hole indices in file order.
    std::map<std::int32_t, std::vector<std::uint32_t>> groups;
    std::map<std::int32_t, std::int64_t> per_tool;
    job.holes.each([&](std::size_t i, const Point&, std::int32_t tool) {
        groups[o.split_tools ? tool : 0].push_back(static_cast<std::uint32_t>(i));
        ++per_tool[tool];
    });
    report.drill_input(o.input, job, per_tool);
    report.placement(box, t, o.place);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    OutputSet outputs(o.input);
    std::vector<std::string> names;
    for (auto& [tool, order] : groups) {
        std::string name = o.output;
        if (o.split_tools) {
            const auto it = job.tools.find(tool);
            name = tool_file(o.output, it == job.tools.end() ? Tool{tool, 0} : it->second);
        }
        std::optional<std::int64_t> before;
        if (o.nearest) {
            before = travel_mm(job.holes, order, t);
            order_nearest(job.holes, order, t, deadline);
        }
        const std::int64_t travel = travel_mm(job.holes, order, t);
        const std::int64_t shared = shared_positions(job.holes, order, t);
        const DrillWritten w = write_drill(outputs.open(name), job.holes, order, t);
        report.drill_output(name, w.holes, travel, before, shared);
        names.push_back(name);
    }

    RoundingError rounding;
    job.holes.each([&](std::size_t, const Point& p, std::int32_t) { rounding.add(t.apply(p)); });
    report.rounding(rounding);
    std::optional<MachineReport> machine;
    if (!o.params.empty()) machine = check_on_machine(o.params, temporaries(outputs));
    Outside outside;
    job.holes.each([&](std::size_t, const Point& p, std::int32_t) {
        outside.add(round_mm(t.apply(p)), machine ? &*machine : nullptr);
    });
    report.machine(machine ? &*machine : nullptr, outside, names);
    outputs.commit();
    report.closing(true);
}

void convert_plot(const Options& o, Report& report) {
    const PlotJob job = read_hpgl(o.input, o.hpgl_unit_mm);
    Box box;
    for (const Point& p : job.points) box.add(p);
    const Transform t = placement(box, o.place);
    report.plot_input(o.input, job);
    report.placement(box, t, o.place);

    OutputSet outputs(o.input);
    report.plot_output(o.output, write_plot(outputs.open(o.output), job, t));
    RoundingError rounding;
    for (const Point& p : job.points) rounding.add(t.apply(p));
    report.rounding(rounding);
    std::optional<MachineReport> machine;
    if (!o.params.empty()) machine = check_on_machine(o.params, temporaries(outputs));
    Outside outside;
    for (const Point& p : job.points) {
        outside.add(round_mm(t.apply(p)), machine ? &*machine : nullptr);
    }
    report.machine(machine ? &*machine : nullptr, outside, {o.output});
    outputs.commit();
    report.closing(false);
}

}  // namespace

const char* usage_text() {
    return USAGE;
}

std::optional<Options> parse_options(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> inputs;
    bool output_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name == "-h" || name == "--help") return std::nullopt;
        if (name.size() < 2 || name[0] != '-') {
            inputs.push_back(name);
            continue;
        }
        if (const std::size_t eq = name.find('=');
            name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto take = [&]() -> std::string {
            if (value) return *value;
            if (i + 1 >= args.size()) usage(name + " needs a value");
            return args[++i];
        };
        if (name == "--mirror-x" || name == "--quiet") {
            if (value) usage(name + " takes no value");
            if (name == "--mirror-x")
                o.place.mirror_x = true;
            else
                o.quiet = true;
        } else if (name == "-o" || name == "--output") {
            o.output = take();
            output_given = true;
        } else if (name == "--tools") {
            const std::string v = take();
            if (v != "split" && v != "all") usage("--tools wants split or all, not '" + v + "'");
            o.split_tools = v == "split";
        } else if (name == "--origin") {
            const std::string v = take();
            if (v != "keep" && v != "corner")
                usage("--origin wants keep or corner, not '" + v + "'");
            o.place.corner = v == "corner";
        } else if (name == "--margin") {
            const std::string v = take();
            if (!number(v, o.place.margin_mm) || o.place.margin_mm < 0 || o.place.margin_mm > 1e5) {
                usage("--margin wants millimetres, 0 or more, not '" + v + "'");
            }
        } else if (name == "--offset") {
            const std::string v = take();
            const std::size_t comma = v.find(',');
            if (comma == std::string::npos || !number(v.substr(0, comma), o.place.offset_x) ||
                !number(v.substr(comma + 1), o.place.offset_y) ||
                std::fabs(o.place.offset_x) > 1e5 || std::fabs(o.place.offset_y) > 1e5) {
                usage("--offset wants X,Y in millimetres, not '" + v + "'");
            }
        } else if (name == "--excellon-format") {
            o.excellon_format = parse_excellon_format(take());
        } else if (name == "--hpgl-unit") {
            const std::string v = take();
            if (!number(v, o.hpgl_unit_mm) || !(o.hpgl_unit_mm > 0) || o.hpgl_unit_mm > 1000) {
                usage("--hpgl-unit wants millimetres above 0, not '" + v + "'");
            }
        } else if (name == "--order") {
            const std::string v = take();
            if (v != "file" && v != "nearest")
                usage("--order wants file or nearest, not '" + v + "'");
            o.nearest = v == "nearest";
        } else if (name == "--params") {
            o.params = take();
            if (o.params.empty()) usage("--params needs a file");
        } else {
            usage("unknown option " + name);
        }
    }
    if (inputs.size() != 1) usage(inputs.empty() ? "no INPUT given" : "more than one INPUT given");
    if (!output_given || o.output.empty()) usage("no OUTPUT given: -o OUTPUT");
    o.input = inputs[0];
    return o;
}

void convert(const Options& o, std::FILE* final_out) {
    // The report is gathered first and shown only once every output is in place.
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = o.quiet ? nullptr : open_memstream(&text, &size);
    struct Closer {
        std::FILE*& file;
        char*& text;
        ~Closer() {
            if (file) std::fclose(file);
            std::free(text);
        }
    } closer{out, text};
    const InputKind kind = detect_kind(read_head(o.input, 1 << 16), o.input);
    if (kind == InputKind::excellon && !ends_with_ext(o.output, ".drl")) {
        usage("the input is a drill file: OUTPUT must end in .drl");
    }
    if (kind == InputKind::hpgl && !ends_with_ext(o.output, ".plt")) {
        usage("the input is HP-GL: OUTPUT must end in .plt");
    }
    Report report(out);
    if (kind == InputKind::excellon) {
        convert_drill(o, report);
    } else {
        convert_plot(o, report);
    }
    if (out) {
        std::fclose(out);
        out = nullptr;
        std::fwrite(text, 1, size, final_out);
        std::fflush(final_out);
    }
}

int run_command_line(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    // As for the controller, the first of --help and --version decides.
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") break;
        if (arg == "--version") {
            std::fprintf(out, "cncmirel-prep %s\n", CNCMIREL_VERSION);
            std::fflush(out);
            return EXIT_OK;
        }
    }
    try {
        const std::optional<Options> options = parse_options(args);
        if (!options) {
            std::fputs(USAGE, out);
            std::fflush(out);
            return EXIT_OK;
        }
        convert(*options, out);
        return EXIT_OK;
    } catch (const PrepError& e) {
        std::fflush(out);
        std::fprintf(err, "cncmirel-prep: %s\n", e.what());
        std::fflush(err);
        return EXIT_USAGE;
    } catch (const std::bad_alloc&) {
        std::fflush(out);
        std::fprintf(err, "cncmirel-prep: out of memory\n");
        return EXIT_USAGE;
    }
}

}  // namespace prep
