// prep.cpp - the command line, the conversion from input to outputs, and the report.
#include "prep.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "app/param_file.h"
#include "board.h"
#include "detect.h"
#include "gerber.h"
#include "hpgl.h"
#include "machine.h"
#include "mill.h"
#include "output.h"
#include "picture.h"
#include "report.h"
#include "source.h"
#include "tour.h"
#include "unit.h"
#include "version.h"  // CNCMIREL_VERSION
#include "writers.h"

namespace prep {

namespace {

constexpr const char* USAGE =
    "usage: cncmirel-prep INPUT -o OUTPUT [options]\n"
    "       cncmirel-prep INPUT... -o FOLDER [--machine Param.ini] [options]\n"
    "\n"
    "Turns Excellon drill files and HP-GL plot files, as PCB CAD programs export them, into\n"
    "jobs the controller runs as they are meant, placed on the table, and Gerber copper and\n"
    "profile layers into milling jobs (--isolate, --outline). The kind of each INPUT\n"
    "comes from its content. With one INPUT and no machine, OUTPUT is the job: it must end in\n"
    ".drl for a drill file and in .plt for HP-GL, and the job is in whole millimetres for\n"
    "scale 100. With several INPUTs of one board (drill files and an outline plot, say) or a\n"
    "machine, OUTPUT is a folder: every input is placed with the same shift and mirror, and\n"
    "its jobs are named after it. A report of everything assumed goes to standard output.\n"
    "\n"
    "  -o, --output FILE|FOLDER   the output job or folder (with --tools split, the name the\n"
    "                             tool files are made from: stem-T<nn>-<diameter>mm.drl)\n"
    "  --machine FILE             the machine's own Param.ini (real millimetres): choose the\n"
    "                             finest job unit its X and Y steps per mm allow for the board,\n"
    "                             write the folder's own Param.ini for that unit and a\n"
    "                             README.txt, check the table and time each job at 60 Hz;\n"
    "                             FILE itself is never written\n"
    "  --params FILE              another name for --machine\n"
    "  --unit MM                  the job unit: 1, 0.5, 0.25, 0.2, 0.1, 0.05 or 0.025 mm\n"
    "                             (needs --machine)\n"
    "  --force                    write into a folder that holds other files, and convert a\n"
    "                             drill file whose holes look implausible (a board over\n"
    "                             500 mm, holes of one tool closer than their diameter)\n"
    "  --tools split|all          one drilling job per tool (default) or all holes in one\n"
    "  --origin keep|corner       keep the file's coordinates, or put the job's corner\n"
    "                             nearest X 0, Y 0 at the margin (default corner)\n"
    "  --margin MM                the corner's distance from the table's edges (default 5)\n"
    "  --offset X,Y               a further shift in millimetres\n"
    "  --mirror-x                 mirror about the board's vertical centre line (back side)\n"
    "  --excellon-format U,Z,I:D  number format of a drill file, for example METRIC,LZ,3:3\n"
    "                             or INCH,TZ,2:4 (LZ: leading zeros kept; TZ: trailing zeros\n"
    "                             kept); replaces what the file states. Without it, a format\n"
    "                             the file leaves unstated is inferred from its holes when\n"
    "                             one candidate clearly makes a plausible board\n"
    "  --hpgl-unit MM             length of one HP-GL plotter unit (default 0.025)\n"
    "  --order short|nearest|file the order of holes and strokes: the shortest travel found\n"
    "                             in the machine's steps (default: 2-opt and Or-opt from the\n"
    "                             nearest neighbour, closed strokes entered at any vertex and\n"
    "                             open ones either way), plain nearest neighbour for holes, or\n"
    "                             the file's order\n"
    "  --order-seconds S          the longest the short order may search in one conversion\n"
    "                             (default 2)\n"
    "  --isolate                  mill a Gerber copper layer's isolation: pass k (from 0) is\n"
    "                             the copper offset by the tool's radius, k times (1 - overlap)\n"
    "                             diameters and a margin for rounding; gaps narrower than the\n"
    "                             tool's path stay uncut and are reported. Needs --machine and\n"
    "                             a job unit of 0.1 mm or finer; --mirror-x for the back side\n"
    "  --outline                  cut round the board: a Gerber profile layer's lines, or a\n"
    "                             drill file's routed paths, chained into closed contours, the\n"
    "                             tool's radius outside the board and inside its cut-outs.\n"
    "                             Without it a profile layer only places the board\n"
    "  --tool-diameter MM         the milling tool, for --isolate and --outline\n"
    "  --passes N                 isolation passes (default 1)\n"
    "  --overlap PCT              of the tool's diameter between passes (default 50)\n"
    "  --tabs N                   gaps left in the outline's outer cut, spread evenly, where\n"
    "                             the tool lifts (default 0)\n"
    "  --tab-width MM             each tab's width; the gap is this and the tool (default 3)\n"
    "  --png FILE                 a picture of the board on the table: copper, every cut at\n"
    "                             the tool's width, the holes at their diameters\n"
    "  --quiet                    no report\n"
    "  -h, --help                 this text\n"
    "  --version                  the program's version\n"
    "\n"
    "Exit status: 0 done; 2 usage error, unreadable, unsupported or ambiguous input, a job of\n"
    "more than 10000000 points, a machine that allows no job unit or whose table the board\n"
    "does not fit, or an output or the report that cannot be written. Then nothing is\n"
    "written: the outputs are written to temporary files beside them and moved into place\n"
    "together only when all are complete, and files they would replace stay as they were.\n";

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

// Runs a writer into the temporary file of `name`, naming the file when a write fails.
template <typename Write>
auto write_output(OutputSet& outputs, const std::string& name, Write&& write) {
    std::FILE* file = outputs.open(name);
    try {
        return write(file);
    } catch (const WriteFailed& e) {
        throw PrepError(cannot_write(name, e.error));
    }
}

// The job outputs of a conversion, in the order written: their names and their places in the
// output set, for the machine check; with a machine, a copy in the file's order of each job
// that was reordered, timed beside it (empty where there is none).
struct Jobs {
    std::vector<std::string> names;
    std::vector<std::size_t> indices;
    std::vector<std::string> file_order;
    bool drills = false, plots = false;
};

// Writes one job output of the conversion with `write` and remembers it for the machine check.
template <typename Write>
auto write_job(OutputSet& outputs, Jobs& jobs, const std::string& name, Write&& write) {
    jobs.indices.push_back(outputs.final_paths().size());
    jobs.names.push_back(name);
    return write_output(outputs, name, std::forward<Write>(write));
}

// What ordering needs to know of the machine and of the time left for it.
struct Ordering {
    Options::Order order = Options::Order::shortest;
    AxisSteps steps;
    IntPoint start;      // where a run starts: the go-to position
    bool timed = false;  // a machine: the jobs are timed, in file order as well
    std::chrono::steady_clock::time_point deadline;
    std::size_t points_left = 0;  // holes and strokes still to order

    // This job's share of the time left, by its size.
    std::chrono::steady_clock::time_point slice(std::size_t points) {
        const auto now = std::chrono::steady_clock::now();
        const double share =
            points_left ? static_cast<double>(points) / static_cast<double>(points_left) : 1.0;
        points_left -= std::min(points, points_left);
        if (deadline <= now) return now;
        return now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         (deadline - now) * share);
    }
};

// A copy of a job in the file's order, written by `write` into a temporary job file of the kind
// `ext` for timing only, and remembered in `jobs` so that it is timed and then removed.
template <typename Write>
void write_timing_copy(Jobs& jobs, const char* ext, Write&& write) {
    std::string name = std::string("/tmp/cncmirel-prep-XXXXXX") + ext;
    const int fd = ::mkstemps(name.data(), 4);
    if (fd < 0) throw PrepError("cannot make a temporary file for timing");
    jobs.file_order.push_back(name);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        throw PrepError("cannot write a temporary file for timing");
    }
    try {
        write(file);
    } catch (const WriteFailed& e) {
        std::fclose(file);
        throw PrepError(cannot_write(name, e.error));
    }
    if (std::fclose(file) != 0) throw PrepError("cannot write " + name);
}

// The holes of `order` on the short tour: holes that land on the same whole unit are drilled
// one after another, each place once in the tour.
void order_shortest(const HoleList& holes, std::vector<std::uint32_t>& order, const Transform& t,
                    const TourOptions& options) {
    std::vector<std::uint32_t> by_place(order.size());
    {
        std::vector<IntPoint> placed(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            placed[k] = round_mm(t.apply(holes.point(order[k])));
            by_place[k] = static_cast<std::uint32_t>(k);
        }
        std::stable_sort(by_place.begin(), by_place.end(), [&](std::uint32_t a, std::uint32_t b) {
            return placed[a].x != placed[b].x ? placed[a].x < placed[b].x
                                              : placed[a].y < placed[b].y;
        });
        std::vector<IntPoint> places;
        std::vector<std::uint32_t> first;  // into by_place, one more than places
        for (std::size_t k = 0; k < by_place.size(); ++k) {
            if (k == 0 || !(placed[by_place[k]] == placed[by_place[k - 1]])) {
                places.push_back(placed[by_place[k]]);
                first.push_back(static_cast<std::uint32_t>(k));
            }
        }
        first.push_back(static_cast<std::uint32_t>(by_place.size()));
        placed = {};
        const std::vector<std::uint32_t> tour = short_tour(places, options);
        std::vector<std::uint32_t> result;
        result.reserve(order.size());
        for (const std::uint32_t u : tour) {
            for (std::uint32_t k = first[u]; k < first[u + 1]; ++k)
                result.push_back(order[by_place[k]]);
        }
        order.swap(result);
    }
}

// Travel passes of the holes of `order` as the run makes them: from the start, back to X 0, Y 0.
std::int64_t drill_cost(const HoleList& holes, const std::vector<std::uint32_t>& order,
                        const Transform& t, const Ordering& ord) {
    std::vector<IntPoint> placed(order.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        placed[k] = round_mm(t.apply(holes.point(order[k])));
    return path_cost(placed, TourEnds{ord.start, IntPoint{}}, ord.steps);
}

void write_drill_input(const Options& o, const BoardInput& in, const Transform& t, Ordering& ord,
                       OutputSet& outputs, Report& report, Jobs& jobs) {
    const DrillJob& job = in.drill;
    // One output per tool in tool order, or one for all: lists of hole indices in file order.
    std::map<std::int32_t, std::vector<std::uint32_t>> groups;
    std::map<std::int32_t, std::int64_t> per_tool;
    job.holes.each([&](std::size_t i, const Point&, std::int32_t tool) {
        groups[o.split_tools ? tool : 0].push_back(static_cast<std::uint32_t>(i));
        ++per_tool[tool];
    });
    report.drill_input(in.path, job, per_tool);

    for (auto& [tool, order] : groups) {
        std::string name = in.output;
        if (o.split_tools) {
            const auto it = job.tools.find(tool);
            name = tool_file(in.output, it == job.tools.end() ? Tool{tool, 0} : it->second);
        }
        std::optional<std::int64_t> before;
        if (ord.order != Options::Order::file) {
            before = drill_cost(job.holes, order, t, ord);
            if (ord.timed) {
                write_timing_copy(jobs, ".drl",
                                  [&](std::FILE* file) { write_drill(file, job.holes, order, t); });
            }
            const auto deadline = ord.slice(order.size());
            if (ord.order == Options::Order::nearest) {
                order_nearest(job.holes, order, t, deadline);
            } else {
                TourOptions options;
                options.steps = ord.steps;
                options.ends = TourEnds{ord.start, IntPoint{}};
                options.deadline = deadline;
                order_shortest(job.holes, order, t, options);
            }
        } else if (ord.timed) {
            jobs.file_order.emplace_back();
        }
        const std::int64_t travel = drill_cost(job.holes, order, t, ord);
        const std::int64_t shared = shared_positions(job.holes, order, t);
        const DrillWritten w = write_job(outputs, jobs, name, [&](std::FILE* file) {
            return write_drill(file, job.holes, order, t);
        });
        report.drill_output(name, w.holes, travel, before, shared);
    }
    jobs.drills = true;
}

// The strokes of `job` run as `runs` says: the same segments, closed strokes rotated to their
// entry vertex, open ones possibly reversed.
PlotJob reordered(const PlotJob& job, const std::vector<StrokeRun>& runs,
                  const std::vector<std::vector<IntPoint>>& rounded) {
    PlotJob out;
    out.points.reserve(job.points.size());
    for (const StrokeRun& r : runs) {
        const std::size_t begin = job.starts[r.stroke], end = job.stroke_end(r.stroke);
        out.starts.push_back(static_cast<std::uint32_t>(out.points.size()));
        const std::vector<IntPoint>& v = rounded[r.stroke];
        if (v.size() >= 3 && v.front() == v.back() && r.first > 0) {
            // The last vertex lands where the first does: go round from `first` back to it.
            for (std::size_t k = begin + r.first; k < end; ++k) out.points.push_back(job.points[k]);
            for (std::size_t k = begin + 1; k <= begin + r.first; ++k)
                out.points.push_back(job.points[k]);
        } else if (r.reversed) {
            for (std::size_t k = end; k-- > begin;) out.points.push_back(job.points[k]);
        } else {
            for (std::size_t k = begin; k < end; ++k) out.points.push_back(job.points[k]);
        }
    }
    return out;
}

// Writes a plot job to `output` in the chosen order; returns the strokes as written, in the
// job's own coordinates (before placement and rounding).
PlotJob write_plot_input(const PlotJob& plot, const std::string& output, const Transform& t,
                         Ordering& ord, OutputSet& outputs, Report& report, Jobs& jobs) {
    const PlotJob* job = &plot;
    PlotJob ordered;
    std::optional<std::int64_t> travel, before;
    if (ord.order == Options::Order::shortest) {
        std::vector<std::vector<IntPoint>> rounded(plot.stroke_count());
        std::vector<StrokeRun> file_runs;
        for (std::size_t s = 0; s < rounded.size(); ++s) {
            for (std::size_t k = plot.starts[s]; k < plot.stroke_end(s); ++k)
                rounded[s].push_back(round_mm(t.apply(plot.points[k])));
            file_runs.push_back({static_cast<std::uint32_t>(s), 0, false});
        }
        const TourEnds ends{ord.start, std::nullopt};
        before = stroke_travel(rounded, file_runs, ends, ord.steps);
        TourOptions options;
        options.steps = ord.steps;
        options.ends = ends;
        options.deadline = ord.slice(rounded.size());
        const std::vector<StrokeRun> runs = short_strokes(rounded, options);
        travel = stroke_travel(rounded, runs, ends, ord.steps);
        ordered = reordered(plot, runs, rounded);
        job = &ordered;
        if (ord.timed) {
            write_timing_copy(jobs, ".plt", [&](std::FILE* file) { write_plot(file, plot, t); });
        }
    } else if (ord.timed) {
        jobs.file_order.emplace_back();
    }
    report.plot_output(output, write_job(outputs, jobs, output, [&](std::FILE* file) {
                           return write_plot(file, *job, t);
                       }));
    if (travel) report.plot_travel(*travel, *before);
    jobs.plots = true;
    return *job;
}

// What a milling option makes of an input.
enum class Milling { none, isolate, outline_profile, outline_routes, place_only };

// Gerber copper is isolated (and refused without --isolate), a profile layer is cut round with
// --outline and otherwise only placed, and a drill file's routed paths are cut round with
// --outline.
std::vector<Milling> milling_of(const Options& o, const std::vector<BoardInput>& board) {
    std::vector<Milling> m(board.size(), Milling::none);
    bool copper = false, outline = false;
    for (std::size_t i = 0; i < board.size(); ++i) {
        const BoardInput& in = board[i];
        if (in.kind == InputKind::gerber) {
            if (is_profile_layer(in.gerber, in.path)) {
                m[i] = o.outline ? Milling::outline_profile : Milling::place_only;
                outline = outline || o.outline;
            } else if (!o.isolate) {
                throw PrepError(in.path +
                                ": a Gerber copper layer: give --isolate (and --tool-diameter) to "
                                "mill its isolation");
            } else {
                m[i] = Milling::isolate;
                copper = true;
            }
        } else if (in.kind == InputKind::excellon && o.outline) {
            const auto& r = in.drill.path_routed;
            if (std::find(r.begin(), r.end(), true) != r.end()) {
                m[i] = Milling::outline_routes;
                outline = true;
            }
        }
    }
    if (o.isolate && !copper) throw PrepError("--isolate: no input is a Gerber copper layer");
    if (o.outline && !outline) {
        throw PrepError(
            "--outline: no input is a Gerber profile layer or a drill file with routed paths");
    }
    return m;
}

// The placed copper of a Gerber layer: geometry units of the table's millimetres.
ClipperLib::Paths placed_paths(const ClipperLib::Paths& paths, const Transform& t_mm) {
    ClipperLib::Paths out = paths;
    const auto sx = static_cast<ClipperLib::cInt>(std::llround(t_mm.shift_x * GEOMETRY_PER_MM));
    const auto sy = static_cast<ClipperLib::cInt>(std::llround(t_mm.shift_y * GEOMETRY_PER_MM));
    for (ClipperLib::Path& p : out) {
        for (ClipperLib::IntPoint& g : p) {
            g.X = (t_mm.sign_x < 0 ? -g.X : g.X) + sx;
            g.Y += sy;
        }
        if (t_mm.sign_x < 0) std::reverse(p.begin(), p.end());  // the mirror turns contours
    }
    return out;
}

// The holes of a drill job as written, in the table's millimetres, as discs of their tools'
// diameters (0.3 mm where a file states none), in geometry units.
ClipperLib::Paths hole_discs(const DrillJob& job, const Transform& t, std::int32_t per_mm) {
    std::map<double, ClipperLib::Paths> by_diameter;
    job.holes.each([&](std::size_t, const Point& p, std::int32_t tool) {
        const auto it = job.tools.find(tool);
        const double d =
            it != job.tools.end() && it->second.diameter_mm > 0 ? it->second.diameter_mm : 0.3;
        const IntPoint r = round_mm(t.apply(p));
        by_diameter[d].push_back({to_geometry(
            Point{static_cast<double>(r.x) / per_mm, static_cast<double>(r.y) / per_mm})});
    });
    ClipperLib::Paths discs;
    for (const auto& [d, centres] : by_diameter) {
        ClipperLib::ClipperOffset off;
        off.ArcTolerance = 0.005 * GEOMETRY_PER_MM;
        off.AddPaths(centres, ClipperLib::jtRound, ClipperLib::etOpenRound);
        ClipperLib::Paths some;
        off.Execute(some, d / 2 * GEOMETRY_PER_MM);
        discs.insert(discs.end(), some.begin(), some.end());
    }
    return discs;
}

// A plot job as the controller runs it: every vertex rounded to the unit as written, in
// millimetres of the table (table = true) or, taken back by the inverse placement, of the file.
PlotJob as_written(const PlotJob& job, const Transform& t, std::int32_t per_mm, bool table) {
    PlotJob out = job;
    for (Point& p : out.points) {
        const IntPoint r = round_mm(t.apply(p));
        const Point placed{static_cast<double>(r.x), static_cast<double>(r.y)};
        const Point q = table ? placed : t.invert(placed);
        p = Point{q.x / per_mm, q.y / per_mm};
    }
    return out;
}

std::string absolute(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

std::string base_name(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

const char* usage_text() {
    return USAGE;
}

std::optional<Options> parse_options(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> inputs;
    bool output_given = false;
    std::vector<std::string> milling_given;  // options that only isolation or outline use
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
        if (name == "--mirror-x" || name == "--quiet" || name == "--force" || name == "--isolate" ||
            name == "--outline") {
            if (value) usage(name + " takes no value");
            if (name == "--mirror-x")
                o.place.mirror_x = true;
            else if (name == "--quiet")
                o.quiet = true;
            else if (name == "--isolate")
                o.isolate = true;
            else if (name == "--outline")
                o.outline = true;
            else
                o.force = true;
        } else if (name == "--tool-diameter") {
            const std::string v = take();
            if (!number(v, o.tool_mm) || !(o.tool_mm > 0) || o.tool_mm > 20)
                usage("--tool-diameter wants millimetres above 0, at most 20, not '" + v + "'");
        } else if (name == "--passes" || name == "--tabs") {
            const std::string v = take();
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            const int least = name == "--passes" ? 1 : 0;
            if (v.empty() || ec != std::errc() || end != v.data() + v.size() || n < least ||
                n > 100) {
                usage(name + " wants a whole number from " + std::to_string(least) +
                      " to 100, not '" + v + "'");
            }
            (name == "--passes" ? o.passes : o.tabs) = n;
            milling_given.push_back(name);
        } else if (name == "--overlap") {
            const std::string v = take();
            if (!number(v, o.overlap_pct) || o.overlap_pct < 0 || o.overlap_pct > 90)
                usage("--overlap wants a percentage from 0 to 90, not '" + v + "'");
            milling_given.push_back(name);
        } else if (name == "--tab-width") {
            const std::string v = take();
            if (!number(v, o.tab_width_mm) || !(o.tab_width_mm > 0) || o.tab_width_mm > 100)
                usage("--tab-width wants millimetres above 0, at most 100, not '" + v + "'");
            milling_given.push_back(name);
        } else if (name == "--png") {
            o.png = take();
            if (!ends_with_ext(o.png, ".png")) usage("--png wants a file name ending in .png");
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
            if (v == "file") {
                o.order = Options::Order::file;
            } else if (v == "nearest") {
                o.order = Options::Order::nearest;
            } else if (v == "short") {
                o.order = Options::Order::shortest;
            } else {
                usage("--order wants short, nearest or file, not '" + v + "'");
            }
        } else if (name == "--order-seconds") {
            const std::string v = take();
            if (!number(v, o.order_seconds) || !(o.order_seconds > 0) || o.order_seconds > 3600)
                usage("--order-seconds wants seconds above 0, at most 3600, not '" + v + "'");
        } else if (name == "--machine" || name == "--params") {
            o.machine = take();
            if (o.machine.empty()) usage(name + " needs a file");
        } else if (name == "--unit") {
            const std::string v = take();
            double mm = 0;
            if (!number(v, mm) || !(o.unit_per_mm = unit_from_mm(mm))) {
                usage("--unit wants 1, 0.5, 0.25, 0.2, 0.1, 0.05 or 0.025, not '" + v + "'");
            }
        } else {
            usage("unknown option " + name);
        }
    }
    if (inputs.empty()) usage("no INPUT given");
    if (!output_given || o.output.empty()) usage("no OUTPUT given: -o OUTPUT");
    if (o.unit_per_mm && o.machine.empty()) usage("--unit needs --machine");
    if ((o.isolate || o.outline) && o.tool_mm == 0)
        usage(std::string(o.isolate ? "--isolate" : "--outline") + " needs --tool-diameter MM");
    if (o.tool_mm > 0 && !o.isolate && !o.outline)
        usage("--tool-diameter is for --isolate or --outline");
    for (const std::string& m : milling_given) {
        const bool for_outline = m == "--tabs" || m == "--tab-width";
        if (for_outline ? !o.outline : !o.isolate)
            usage(m + " is for " + (for_outline ? "--outline" : "--isolate"));
    }
    // Isolation cuts within a fraction of a millimetre of copper: whole millimetres will not do.
    if (o.isolate && o.machine.empty()) {
        usage("--isolate needs a job unit of 0.1 mm or finer, so it needs --machine Param.ini");
    }
    if (o.isolate && o.unit_per_mm && *o.unit_per_mm < 10)
        usage("--isolate needs a job unit of 0.1 mm or finer");
    o.inputs = inputs;
    return o;
}

void convert(const Options& o, std::FILE* final_out) {
    // The report is gathered first and shown once every output is complete.
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
    // With a machine, or several inputs, OUTPUT is the folder the jobs go to.
    const bool in_folder = o.inputs.size() > 1 || !o.machine.empty();
    if (in_folder && (ends_with_ext(o.output, ".drl") || ends_with_ext(o.output, ".plt"))) {
        usage("with --machine or several inputs OUTPUT is a folder, not a job file like " +
              o.output);
    }
    std::optional<Machine> machine;
    if (!o.machine.empty()) machine = read_machine(o.machine);
    std::vector<BoardInput> board = read_board(o.inputs, o.excellon_format, o.hpgl_unit_mm);
    check_plausible_drills(board, o.force);
    if (!in_folder && board[0].kind == InputKind::excellon && !ends_with_ext(o.output, ".drl")) {
        usage("the input is a drill file: OUTPUT must end in .drl");
    }
    if (!in_folder && board[0].kind == InputKind::hpgl && !ends_with_ext(o.output, ".plt")) {
        usage("the input is HP-GL: OUTPUT must end in .plt");
    }
    if (!in_folder && board[0].kind == InputKind::gerber && !ends_with_ext(o.output, ".plt")) {
        usage("the input is Gerber: OUTPUT must end in .plt");
    }
    const std::vector<Milling> milling = milling_of(o, board);

    // One shift and mirror for every input, from the box around them all, in millimetres;
    // then the board in job units.
    const Box box = board_box(board);
    const Transform t_mm = placement(box, o.place);
    Box placed;
    if (!box.empty()) {
        placed.add(t_mm.apply(Point{box.min_x, box.min_y}));
        placed.add(t_mm.apply(Point{box.max_x, box.max_y}));
    }
    UnitChoice unit;
    if (machine) {
        unit = choose_unit(*machine, placed, o.unit_per_mm);
        // Isolation takes a finer unit over a preview that shows the whole board.
        for (const std::int32_t finer : {10, 20, 40}) {
            if (!o.isolate || o.unit_per_mm || unit.per_mm >= 10) break;
            try {
                unit = choose_unit(*machine, placed, finer);
            } catch (const PrepError&) {
            }
        }
        if (o.isolate && unit.per_mm < 10) {
            throw PrepError(
                "--isolate needs a job unit of 0.1 mm or finer: the machine's steps "
                "per mm and table allow no finer unit than " +
                unit_text(unit.per_mm) + " mm for this board");
        }
    }
    // The milling jobs, in millimetres of the file like the other inputs, from the geometry
    // that placed the board.
    const double unit_mm = 1.0 / unit.per_mm;
    std::vector<OutlineFacts> outlines(board.size());
    for (std::size_t i = 0; i < board.size(); ++i) {
        BoardInput& in = board[i];
        if (milling[i] == Milling::isolate) {
            if (in.gerber.image.empty()) throw PrepError(in.path + ": no copper to isolate");
            in.plot =
                isolation_job(in.gerber.image,
                              IsolationOptions{o.tool_mm, o.passes, o.overlap_pct / 100, unit_mm});
        } else if (milling[i] == Milling::outline_profile ||
                   milling[i] == Milling::outline_routes) {
            const std::vector<std::vector<Point>> rings = closed_contours(
                milling[i] == Milling::outline_profile ? in.gerber.lines : routed_lines(in.drill),
                in.path);
            if (rings.empty()) throw PrepError(in.path + ": no outline lines to cut round");
            OutlineJob made = outline_job(rings, OutlineOptions{o.tool_mm, o.tabs, o.tab_width_mm});
            outlines[i] = OutlineFacts{rings.size(), made.cutouts, made.too_small};
            in.plot = std::move(made.cuts);
            if (milling[i] == Milling::outline_routes) drop_routed_holes(in.drill);
        }
    }
    scale_board(board, unit.per_mm);
    Transform t = t_mm;
    t.shift_x *= unit.per_mm;
    t.shift_y *= unit.per_mm;

    Report report(out);
    report.set_unit(unit.per_mm);
    report.placement(box, t_mm, o.place);
    if (machine) report.unit(*machine, unit, placed);

    std::optional<OutputFolder> folder;
    if (in_folder) folder.emplace(o.output);
    OutputSet outputs(o.inputs[0]);
    Jobs jobs;
    // The timing copies go whatever happens.
    struct Remover {
        const std::vector<std::string>& paths;
        ~Remover() {
            for (const std::string& p : paths)
                if (!p.empty()) std::remove(p.c_str());
        }
    } remover{jobs.file_order};
    Ordering ord;
    ord.order = o.order;
    ord.deadline = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(o.order_seconds));
    if (machine) {
        const ParamValues v = derived_params(*machine, unit.per_mm);
        ord.steps = AxisSteps{std::max(v[3], 1), std::max(v[4], 1)};
        ord.start = IntPoint{v[12], v[13]};
        ord.timed = true;
    }
    for (const BoardInput& in : board)
        ord.points_left += in.drill.holes.size() + in.plot.stroke_count();
    report.set_travel_in_steps(machine.has_value());
    // Every point of every job, as placed in job units.
    auto each_job_point = [&](auto&& f) {
        for (const BoardInput& in : board) {
            in.drill.holes.each([&](std::size_t, const Point& p, std::int32_t) { f(p); });
            for (const Point& p : in.plot.points) f(p);
        }
    };
    PictureLayers picture;
    for (std::size_t i = 0; i < board.size(); ++i) {
        BoardInput& in = board[i];
        in.output = folder ? output_in_folder(folder->path(), in) : o.output;
        if (in.kind == InputKind::gerber) report.gerber_input(in.path, in.gerber);
        std::optional<PlotJob> written;
        if (in.kind == InputKind::excellon) {
            write_drill_input(o, in, t, ord, outputs, report, jobs);
            if (milling[i] == Milling::outline_routes) {
                report.outline(outlines[i], o.tool_mm, o.tabs, o.tab_width_mm, true);
                const std::string stem = in.output.substr(0, in.output.size() - 4);
                written = write_plot_input(in.plot, stem + ".plt", t, ord, outputs, report, jobs);
            }
        } else if (in.kind == InputKind::hpgl) {
            report.plot_input(in.path, in.plot);
            written = write_plot_input(in.plot, in.output, t, ord, outputs, report, jobs);
        } else if (milling[i] == Milling::place_only) {
            report.profile_placed();
        } else {
            if (milling[i] == Milling::outline_profile) {
                report.outline(outlines[i], o.tool_mm, o.tabs, o.tab_width_mm, false);
            } else {
                report.isolation(o.tool_mm, o.passes, o.overlap_pct, isolation_margin_mm(unit_mm),
                                 unit_mm);
            }
            written = write_plot_input(in.plot, in.output, t, ord, outputs, report, jobs);
            if (milling[i] == Milling::isolate) {
                const IsolationCheck check =
                    check_isolation(in.gerber.image, as_written(*written, t, unit.per_mm, false),
                                    o.tool_mm, unit_mm);
                report.isolation_check(check, t_mm);
            }
        }
        if (!o.png.empty()) {
            if (in.kind == InputKind::gerber && milling[i] == Milling::isolate)
                picture.copper.push_back(placed_paths(in.gerber.image, t_mm));
            if (written) {
                // Cut paths at the tool's width; a plot input without a tool at 0.2 mm.
                picture.cuts.push_back(swept_area(as_written(*written, t, unit.per_mm, true),
                                                  o.tool_mm > 0 ? o.tool_mm : 0.2));
            }
            if (in.kind == InputKind::excellon)
                picture.holes.push_back(hole_discs(in.drill, t, unit.per_mm));
        }
    }
    if (jobs.names.empty()) {
        throw PrepError(
            "no job to make: a profile layer alone is only placed; give --outline "
            "to cut it");
    }
    if (!o.png.empty()) {
        write_output(outputs, o.png, [&](std::FILE* file) { write_picture(file, picture); });
        report.picture(o.png);
    }
    RoundingError rounding;
    each_job_point([&](const Point& p) { rounding.add(t.apply(p)); });
    report.rounding(rounding);

    std::optional<MachineReport> check;
    if (machine) {
        // The folder's own Param.ini and README.txt, written with the jobs or not at all.
        const std::string params = folder->file(PARAM_FILE_NAME);
        if (same_file(params, machine->path)) {
            throw PrepError("the folder " + folder->path() + " holds the machine file " +
                            machine->path + ", which is never written over: choose another");
        }
        const std::size_t params_index = outputs.final_paths().size();
        const auto bytes = encode_param_file(derived_params(*machine, unit.per_mm));
        std::fwrite(bytes.data(), 1, bytes.size(), outputs.open(params));
        std::vector<std::string> names;
        for (const std::string& n : jobs.names) names.push_back(base_name(n));
        const std::string readme =
            folder_readme(*machine, unit.per_mm, absolute(folder->path()), names);
        std::fputs(readme.c_str(), outputs.open(folder->file("README.txt")));
        outputs.close_all();
        std::vector<std::string> temporary_jobs;
        for (const std::size_t i : jobs.indices)
            temporary_jobs.push_back(outputs.temporary_path(i));
        check = check_on_machine(outputs.temporary_path(params_index), temporary_jobs);
        // The same jobs in the file's order, where they were reordered, for the comparison.
        std::vector<std::string> copies;
        for (const std::string& c : jobs.file_order)
            if (!c.empty()) copies.push_back(c);
        if (!copies.empty()) {
            const MachineReport in_file_order =
                check_on_machine(outputs.temporary_path(params_index), copies);
            check->in_file_order.resize(check->jobs.size());
            std::size_t next = 0;
            for (std::size_t i = 0; i < jobs.file_order.size(); ++i) {
                if (!jobs.file_order[i].empty())
                    check->in_file_order[i] = in_file_order.jobs[next++];
            }
        }
    }
    Outside outside;
    each_job_point(
        [&](const Point& p) { outside.add(round_mm(t.apply(p)), check ? &*check : nullptr); });
    report.machine(check ? &*check : nullptr, outside, jobs.names);

    for (const std::string& written : outputs.final_paths()) {
        for (const std::string& input : o.inputs) {
            if (written == input || same_file(written, input)) {
                throw PrepError("the output " + written + " would replace the input");
            }
        }
    }
    if (folder) {
        std::vector<std::string> temps;
        for (std::size_t i = 0; i < outputs.final_paths().size(); ++i) {
            temps.push_back(outputs.temporary_path(i));
        }
        folder->check_only(outputs.final_paths(), temps, o.force);
    }
    report.closing(jobs.drills, jobs.plots, machine ? absolute(folder->path()) : "");
    // The report is shown once every output is complete, just before they are moved into
    // place: a report that cannot be shown leaves nothing written either.
    outputs.prepare();
    if (out) {
        std::fclose(out);
        out = nullptr;
        if (std::fwrite(text, 1, size, final_out) != size || std::fflush(final_out) != 0) {
            throw PrepError(std::string("cannot write the report: ") + std::strerror(errno));
        }
    }
    outputs.commit();
    if (folder) folder->keep();
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
