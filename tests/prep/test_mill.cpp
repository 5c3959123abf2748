// Tests of the milling jobs on a small two-layer board written for them (tests/data/prep/gerber):
// the isolation job read back through the controller's plot reader and measured against the
// copper, the outline's cut and tabs, the report's check, and one placement for every command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <polyclipping/clipper.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app/param_file.h"
#include "gerber.h"
#include "job_file_folder.h"
#include "jobs/drill_file.h"
#include "jobs/plot_file.h"
#include "prep_run.h"
#include "sim.h"

namespace prep {
namespace {

using namespace testing_support;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

std::string board(const std::string& name) {
    return data("gerber/" + name);
}

// Backlash 0, X and Y steps per mm as given, a 200 x 150 mm table, scale 100.
std::string machine_file(const JobFileFolder& folder, std::int32_t steps_per_mm) {
    const std::string path = folder.path("machine-" + std::to_string(steps_per_mm) + ".ini");
    EXPECT_TRUE(write_param_file(
        path, {0, 0, 0, steps_per_mm, steps_per_mm, 200, 200, 150, 50, 1, 3, 100, 0, 0, 10}));
    return path;
}

// The strokes of a plot job as the controller's fetches read them, in millimetres of the table:
// each pen-up point starts one, the pen-down points after it follow.
std::vector<std::vector<Point>> strokes_of(const std::string& job, double unit_mm) {
    std::vector<std::vector<Point>> strokes;
    std::int32_t pen = PEN_NONE, position = 0;
    const auto length = static_cast<std::int32_t>(std::filesystem::file_size(job));
    for (int guard = 0; position != length && guard < 1000000; ++guard) {
        const PlotStep s = fetch_plot_step(job, 100, pen, position);
        if (s.found) {
            const Point p{s.x_mm * unit_mm, s.y_mm * unit_mm};
            if (s.pen_state == PEN_UP || strokes.empty()) strokes.emplace_back();
            strokes.back().push_back(p);
        }
        pen = s.pen_state;
        position = s.next_position;
    }
    return strokes;
}

double segment_distance(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    const double t =
        len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

bool crosses(const Point& a, const Point& b, const Point& c, const Point& d) {
    auto side = [](const Point& p, const Point& q, const Point& r) {
        return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
    };
    return side(a, b, c) * side(a, b, d) < 0 && side(c, d, a) * side(c, d, b) < 0;
}

// The least distance from the cut's segments to the edges of the polygons (0 where a cut
// crosses an edge or lies inside).
double nearest(const std::vector<std::vector<Point>>& strokes, const Paths& polygons) {
    double best = INFINITY;
    for (const auto& s : strokes) {
        for (const Point& p : s) {
            for (const Path& poly : polygons) {
                if (ClipperLib::PointInPolygon(to_geometry(p), poly) != 0 &&
                    ClipperLib::Orientation(poly))
                    best = 0;
            }
        }
        for (std::size_t k = 0; k < s.size(); ++k) {
            const Point& a = s[k];
            const Point& b = s[k + 1 < s.size() ? k + 1 : k];
            for (const Path& poly : polygons) {
                for (std::size_t j = 0; j < poly.size(); ++j) {
                    const Point c = from_geometry(poly[j]);
                    const Point d = from_geometry(poly[(j + 1) % poly.size()]);
                    if (crosses(a, b, c, d)) return 0;
                    best = std::min({best, segment_distance(a, c, d), segment_distance(b, c, d),
                                     segment_distance(c, a, b), segment_distance(d, a, b)});
                }
            }
        }
    }
    return best;
}

// The plane the tool does not reach, in connected parts (outer contour and its holes).
std::vector<Paths> uncut_parts(const std::vector<std::vector<Point>>& strokes, double tool_mm) {
    ClipperLib::ClipperOffset off;
    off.ArcTolerance = 0.0002 * GEOMETRY_PER_MM;
    for (const auto& s : strokes) {
        Path p;
        for (const Point& q : s) p.push_back(to_geometry(q));
        off.AddPath(p, ClipperLib::jtRound, ClipperLib::etOpenRound);
    }
    Paths swept;
    off.Execute(swept, tool_mm / 2 * GEOMETRY_PER_MM);
    const ClipperLib::cInt big = 1000 * 100000;
    ClipperLib::Clipper c;
    c.AddPath(Path{{-big, -big}, {big, -big}, {big, big}, {-big, big}}, ClipperLib::ptSubject,
              true);
    c.AddPaths(swept, ClipperLib::ptClip, true);
    ClipperLib::PolyTree tree;
    c.Execute(ClipperLib::ctDifference, tree);
    std::vector<Paths> parts;
    std::vector<const ClipperLib::PolyNode*> todo(tree.Childs.begin(), tree.Childs.end());
    while (!todo.empty()) {
        const ClipperLib::PolyNode* outer = todo.back();
        todo.pop_back();
        Paths part{outer->Contour};
        for (const ClipperLib::PolyNode* hole : outer->Childs) {
            part.push_back(hole->Contour);
            todo.insert(todo.end(), hole->Childs.begin(), hole->Childs.end());
        }
        parts.push_back(part);
    }
    return parts;
}

std::optional<std::size_t> part_holding(const std::vector<Paths>& parts, const Point& p) {
    const IntPoint g = to_geometry(p);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        bool in = ClipperLib::PointInPolygon(g, parts[i][0]) == 1;
        for (std::size_t k = 1; in && k < parts[i].size(); ++k)
            in = ClipperLib::PointInPolygon(g, parts[i][k]) == 0;
        if (in) return i;
    }
    return std::nullopt;
}

std::string line_of(const std::string& report, const std::string& start) {
    const std::size_t at = report.find(start);
    if (at == std::string::npos) return "";
    return report.substr(at, report.find('\n', at) - at);
}

// On the front copper with --origin keep (table millimetres are the file's), for each unit:
// every copper area in a part of the plane of its own, but for the two pads 0.15 mm apart;
// no cut nearer than the radius less half a unit; the simulator runs the job to its end; the
// report names the joined gap where it is.
TEST(MillBoard, IsolationSeparatesEveryAreaItCanAndKeepsItsDistance) {
    struct Case {
        std::int32_t steps_per_mm;
        double unit_mm;
        const char* passes;
        const char* unit;
    };
    // One point inside each copper area of the front: J1's first pad with R1's first (net A),
    // J1's second pad with R1's second and the via (net B), C1's two pads, J2 with the ground
    // region.
    const std::vector<Point> areas = {{14, 20}, {14, 22.54}, {32, 14}, {33.35, 14}, {36, 22}};
    const double tool = 0.2;
    for (const Case c : {Case{10, 0.1, "1", "0.1"}, Case{80, 0.05, "2", "0.05"}}) {
        SCOPED_TRACE(c.steps_per_mm);
        JobFileFolder folder;
        const std::string out = folder.path("front");
        const Result r = run({board("board-F_Cu.gbr"), board("board.drl"),
                              board("board-Edge_Cuts.gbr"), "-o", out, "--machine",
                              machine_file(folder, c.steps_per_mm), "--isolate", "--tool-diameter",
                              "0.2", "--passes", c.passes, "--unit", c.unit, "--origin", "keep"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string job = out + "/board-F_Cu.plt";
        const auto strokes = strokes_of(job, c.unit_mm);
        ASSERT_FALSE(strokes.empty());
        const GerberLayer copper = read_gerber(board("board-F_Cu.gbr"));

        const std::vector<Paths> parts = uncut_parts(strokes, tool);
        // The outside and one part for each group of copper the cuts leave: passes that overlap
        // leave no strip uncut between them.
        EXPECT_EQ(parts.size(), 5u);
        std::vector<std::optional<std::size_t>> part(areas.size());
        for (std::size_t i = 0; i < areas.size(); ++i) {
            part[i] = part_holding(parts, areas[i]);
            ASSERT_TRUE(part[i]) << "copper under the tool at " << areas[i].x << ", " << areas[i].y;
        }
        for (std::size_t i = 0; i < areas.size(); ++i) {
            for (std::size_t j = i + 1; j < areas.size(); ++j) {
                const bool joined_on_purpose = i == 2 && j == 3;
                EXPECT_EQ(*part[i] == *part[j], joined_on_purpose) << i << " and " << j;
            }
        }
        EXPECT_GE(nearest(strokes, copper.image), tool / 2 - c.unit_mm / 2 - 1e-9);

        EXPECT_NE(r.out.find("the narrowest, 0.150 mm, at X 32.675, Y 1"), std::string::npos)
            << r.out;
        // The match points into the line, which must outlive it.
        const std::string line = line_of(r.out, "WARNING: 2 copper areas stay joined");
        static const std::regex y_at("Y ([0-9.]+) mm on the table");
        std::smatch at;
        ASSERT_TRUE(std::regex_search(line, at, y_at)) << r.out;
        const double y = std::stod(at[1].str());
        EXPECT_TRUE(y >= 13.5 && y <= 14.5) << y;  // along the pads' straight sides
        EXPECT_NE(r.out.find("isolation check: no cut nearer to copper than"), std::string::npos);

        sim::RunOptions options;
        options.job_file = job;
        options.params_file = out + "/Param.ini";
        std::FILE* sim_out = std::tmpfile();
        std::FILE* sim_err = std::tmpfile();
        EXPECT_EQ(sim::run_job(options, sim_out, sim_err), sim::EXIT_OK);
        EXPECT_NE(read_stream(sim_out).find("message Программа завершена"), std::string::npos)
            << read_stream(sim_err);
        std::fclose(sim_out);
        std::fclose(sim_err);
    }
}

// The board is 10 .. 40 by 10 .. 30 mm with a cut-out of 16 .. 19 by 12 .. 14 mm. The cut lies
// at the tool's radius from the outline, within a unit; with tabs the outer cut is in as many
// strokes, their gaps adding up to the tabs and the tool's diameter each.
TEST(MillBoard, OutlineCutsAtTheRadiusAndLeavesTheTabs) {
    const double tool = 1, unit = 0.1;
    auto to_outline = [](const Point& p) {
        const auto box = [&](double x0, double y0, double x1, double y1) {
            const Point c[] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
            double d = INFINITY;
            for (int k = 0; k < 4; ++k) d = std::min(d, segment_distance(p, c[k], c[(k + 1) % 4]));
            return d;
        };
        return std::min(box(10, 10, 40, 30), box(16, 12, 19, 14));
    };
    double without_tabs = 0;
    for (const auto& [input, tabs] :
         std::vector<std::pair<std::string, int>>{{"board-Edge_Cuts", 0},
                                                  {"board-Edge_Cuts", 3},
                                                  {"board-route", 0},
                                                  {"board-route", 3}}) {
        SCOPED_TRACE(input + " " + std::to_string(tabs));
        JobFileFolder folder;
        const std::string out = folder.path("outline");
        const bool routed = input == "board-route";
        const Result r =
            run({board(input + (routed ? ".drl" : ".gbr")), "-o", out, "--machine",
                 machine_file(folder, 10), "--outline", "--tool-diameter", "1", "--tabs",
                 std::to_string(tabs), "--tab-width", "2", "--origin", "keep"});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto strokes = strokes_of(out + "/" + input + ".plt", unit);
        if (routed) {
            // The routed holes are milled, not drilled: the one hole of T02 is left.
            EXPECT_EQ(read_file(out + "/board-route-T02-1.00mm.drl"), "X360Y200\nM30\n");
            EXPECT_FALSE(std::filesystem::exists(out + "/board-route-T01-2.00mm.drl"));
        }
        double outer_length = 0;
        int outer_strokes = 0, inner_strokes = 0;
        for (const auto& s : strokes) {
            if (s.size() < 2) continue;  // the final raise
            const bool inner = s[0].x > 15 && s[0].x < 20 && s[0].y > 11 && s[0].y < 15;
            ++(inner ? inner_strokes : outer_strokes);
            for (std::size_t k = 0; k < s.size(); ++k) {
                EXPECT_NEAR(to_outline(s[k]), tool / 2, unit) << s[k].x << ", " << s[k].y;
                if (k > 0 && !inner)
                    outer_length += std::hypot(s[k].x - s[k - 1].x, s[k].y - s[k - 1].y);
            }
            // Closed where there are no tabs.
            if (tabs == 0) {
                EXPECT_NEAR(s.front().x, s.back().x, 1e-9);
                EXPECT_NEAR(s.front().y, s.back().y, 1e-9);
            }
        }
        EXPECT_EQ(inner_strokes, 1);
        EXPECT_EQ(outer_strokes, tabs == 0 ? 1 : tabs);
        // Around the board at the radius: its sides and a quarter circle at each corner.
        const double around = 2 * (30 + 20) + 2 * M_PI * tool / 2;
        EXPECT_NEAR(outer_length, around - tabs * (2 + tool), 0.5);
        if (tabs == 0) without_tabs = outer_length;
        EXPECT_NEAR(outer_length, without_tabs - tabs * (2 + tool), 0.15);
    }
}

// Isolation, drilling and outline, each given the profile layer, put the board in one place;
// and the refusals of what cannot be milled.
TEST(MillBoard, EveryCommandPlacesTheBoardAlikeAndRefusalsSayWhy) {
    JobFileFolder folder;
    const std::string machine = machine_file(folder, 10);
    const std::vector<std::vector<std::string>> commands = {
        {board("board-B_Cu.gbr"), board("board.drl"), board("board-Edge_Cuts.gbr"), "--isolate",
         "--tool-diameter", "0.2", "--png", folder.path("back.png")},
        {board("board.drl"), board("board-Edge_Cuts.gbr")},
        {board("board-Edge_Cuts.gbr"), "--outline", "--tool-diameter", "2"},
    };
    std::vector<std::string> placed;
    std::vector<std::string> holes;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        std::vector<std::string> args = commands[i];
        const std::string out = folder.path("c" + std::to_string(i));
        args.insert(args.end(), {"-o", out, "--machine", machine, "--mirror-x"});
        const Result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        placed.push_back(line_of(r.out, "bounding box on the table"));
        if (i < 2) holes.push_back(read_file(out + "/board-T02-1.00mm.drl"));
    }
    EXPECT_FALSE(placed[0].empty());
    EXPECT_EQ(placed[1], placed[0]);
    EXPECT_EQ(placed[2], placed[0]);
    EXPECT_EQ(holes[1], holes[0]);
    EXPECT_EQ(read_file(folder.path("back.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");

    struct Refusal {
        std::vector<std::string> args;
        const char* words;
    };
    const Refusal refusals[] = {
        {{board("board-F_Cu.gbr"), "--machine", machine}, "a Gerber copper layer: give --isolate"},
        {{board("board-F_Cu.gbr"), "--isolate", "--tool-diameter", "0.2"},
         "--isolate needs a job unit of 0.1 mm or finer"},
        {{board("board-F_Cu.gbr"), "--isolate", "--tool-diameter", "0.2", "--machine", machine,
          "--unit", "0.2"},
         "--isolate needs a job unit of 0.1 mm or finer"},
        {{board("board-F_Cu.gbr"), "--isolate", "--machine", machine}, "needs --tool-diameter"},
        {{board("board-Edge_Cuts.gbr"), "--machine", machine}, "give --outline to cut it"},
        {{board("board-Edge_Cuts.gbr"), "--outline", "--tool-diameter", "1", "--tabs", "30",
          "--machine", machine},
         "30 tabs of 3.000 mm plus the tool's 1.000 mm do not fit"},
        // The picture goes with the jobs or not at all: here the folder holds other files.
        {{board("board-Edge_Cuts.gbr"), "--outline", "--tool-diameter", "1", "--machine", machine,
          "--png", folder.path("refused.png"), "-o", folder.path("c0")},
         "holds other files"},
    };
    for (const Refusal& f : refusals) {
        std::vector<std::string> args = f.args;
        if (std::find(args.begin(), args.end(), "-o") == args.end())
            args.insert(args.end(), {"-o", folder.path("refused")});
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << f.words;
        EXPECT_NE(r.err.find(f.words), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(folder.path("refused"))) << f.words;
        EXPECT_FALSE(std::filesystem::exists(folder.path("refused.png"))) << f.words;
    }
}

}  // namespace
}  // namespace prep
