// test_convert.cpp - cncmirel-prep from its command line: the outputs read back by the
// controller's own readers (preview scan and fetches), placement, tool files, ordering, the
// machine check, and the failures that must leave nothing written.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/param_file.h"
#include "base/files.h"  // flush_to_disk
#include "flush_watch.h"
#include "job_file_folder.h"
#include "jobs/drill_file.h"
#include "jobs/plot_file.h"
#include "output.h"
#include "prep.h"
#include "prep_run.h"
#include "sim.h"
#include "tour.h"

namespace prep {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

std::vector<std::string> names_in(const JobFileFolder& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder.path("")))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

using Pos = std::pair<std::int32_t, std::int32_t>;

// The holes as the controller sees them: the preview scan, and the fetches from byte 0 on
// until the run would end (the fetch that reaches the end of the file).
void expect_drill_job(const std::string& file, const std::vector<Pos>& holes) {
    std::vector<Pos> preview;
    const std::int32_t length = scan_drill_preview(
        file, 100, [&](std::int32_t x, std::int32_t y) { preview.emplace_back(x, y); });
    EXPECT_EQ(preview, holes);
    std::vector<Pos> fetched;
    std::int32_t position = 0;
    for (int guard = 0; guard < 100000 && position != length; ++guard) {
        const DrillPoint p = fetch_drill_point(file, 100, position);
        if (p.found) fetched.emplace_back(p.x_mm, p.y_mm);
        ASSERT_NE(p.next_position, position) << "the fetch does not move on";
        position = p.next_position;
    }
    EXPECT_EQ(fetched, holes);
    EXPECT_EQ(position, length);
}

TEST(Convert, DrillRoundTripThroughTheControllersReaders) {
    JobFileFolder folder;
    const Result r = run({data("kicad7_decimal.drl"), "-o", folder.path("board.drl")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names_in(folder),
              (std::vector<std::string>{"board-T01-0.40mm.drl", "board-T02-1.00mm.drl"}));
    // Lower-left corner (120.65, -90) moved to (5, 5); each position rounded to the nearest.
    EXPECT_EQ(read_file(folder.path("board-T01-0.40mm.drl")), "X5Y15\nX8Y15\nM30\n");
    expect_drill_job(folder.path("board-T01-0.40mm.drl"), {{5, 15}, {8, 15}});
    expect_drill_job(folder.path("board-T02-1.00mm.drl"),
                     {{14, 5}, {19, 5}, {20, 5}, {21, 5}, {24, 5}, {25, 5}, {26, 5}});
    for (const char* line : {"tool T01: 0.400 mm: 2 holes", "tool T02: 1.000 mm: 7 holes",
                             "holes: 9, of them 6 along 1 slots and 1 routed paths",
                             "relied on: decimal numbers", "set scale 100"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

// The points the controller's milling run takes from a plot job, in order, with their pen.
struct Step {
    std::int32_t x, y, pen;
    bool operator==(const Step&) const = default;
};
std::vector<Step> plot_steps(const std::string& job) {
    std::vector<Step> steps;
    std::int32_t pen = PEN_NONE, position = 0;
    const std::int32_t length = static_cast<std::int32_t>(fs::file_size(job));
    while (position != length && steps.size() < 100) {
        const PlotStep s = fetch_plot_step(job, 100, pen, position);
        if (s.found) steps.push_back(Step{s.x_mm, s.y_mm, s.pen_state});
        pen = s.pen_state;
        position = s.next_position;
    }
    return steps;
}

TEST(Convert, PlotRoundTripThroughTheControllersReaders) {
    JobFileFolder folder;
    const std::string out = folder.path("panel.plt");
    const Result r = run({data("plotter_one_line.plt"), "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(out),
              "IN;\nPU;\nPA-45,5;\nPD;\nPA-45,5;\nPA-35,5;\nPA-35,15;\nPA-45,15;\nPA-45,5;\n"
              "PU;\nPA-25,5;\nPD;\nPA-25,5;\nPA-15,5;\nPU;\nPA-15,5;\n");

    // Travel (pen up) to each stroke's start, the plunge there, cuts to its vertices, and the
    // final raise where the last stroke ended.
    const std::vector<Step> want = {{5, 5, PEN_UP},     {5, 5, PEN_DOWN},  {15, 5, PEN_DOWN},
                                    {15, 15, PEN_DOWN}, {5, 15, PEN_DOWN}, {5, 5, PEN_DOWN},
                                    {25, 5, PEN_UP},    {25, 5, PEN_DOWN}, {35, 5, PEN_DOWN},
                                    {35, 5, PEN_UP}};
    EXPECT_TRUE(plot_steps(out) == want);

    // The preview draws every cut, the first of each stroke too (the outline's bottom edge
    // and the whole second stroke).
    std::vector<std::array<std::int32_t, 4>> segments;
    scan_plot_preview(out, 100,
                      [&](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
                          segments.push_back({x1, y1, x2, y2});
                      });
    const std::vector<std::array<std::int32_t, 4>> drawn = {
        {15, 5, 5, 5}, {15, 15, 15, 5}, {5, 15, 15, 15}, {5, 5, 5, 15}, {35, 5, 25, 5}};
    EXPECT_EQ(segments, drawn);
}

// A stroke shorter than the rounding (a dot, a 0.25 mm cut) still plunges where it is: the run
// cuts to its point once, with the pen down.
TEST(Convert, AStrokeThatRoundsToOnePointIsStillCut) {
    JobFileFolder folder;
    const std::string in =
        folder.write("dot.plt", "IN;PU400,400;PD410,400;PU800,400;PD1200,400;PU;");
    const std::string out = folder.path("dot-mm.plt");
    const Result r = run({in, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Step> want = {{5, 5, PEN_UP},    {5, 5, PEN_DOWN},  {15, 5, PEN_UP},
                                    {15, 5, PEN_DOWN}, {25, 5, PEN_DOWN}, {25, 5, PEN_UP}};
    EXPECT_TRUE(plot_steps(out) == want) << read_file(out);
}

// A drill file whose number format is left unstated, converted with the format inferred:
// the DIP-8 at 0.1 in (2.54 mm) and the mounting holes, read back by the controller.
TEST(Convert, InferredFormatThroughTheControllersReaders) {
    JobFileFolder folder;
    const Result r = run({data("unstated_inch.drl"), "-o", folder.path("b.drl")});
    ASSERT_EQ(r.status, 0) << r.err;
    // Lower-left corner (12.7, 6.35) at (5, 5).
    expect_drill_job(
        folder.path("b-T01-0.813mm.drl"),
        {{18, 24}, {20, 24}, {23, 24}, {25, 24}, {25, 32}, {23, 32}, {20, 32}, {18, 32}});
    expect_drill_job(folder.path("b-T02-1.016mm.drl"), {{5, 5}, {56, 5}});
    EXPECT_NE(r.out.find("relied on: number format inferred: INCH,TZ,2:4"), std::string::npos)
        << r.out;
}

// Holes that do not look like a board stop the conversion with the figures, whether the
// format is stated or given: the inch file read with the other zero mode spans metres, and
// holes of one tool overlap. --force converts them and the report says so.
TEST(Convert, ImplausibleHolesAreRefusedUnlessForced) {
    JobFileFolder folder;
    const std::string overlapping =
        folder.write("o.drl", "M48\nMETRIC\nT1C0.8\n%\nT1\nX1.0Y1.0\nX1.5Y1.0\nX9.0Y9.0\nM30\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{data("unstated_inch.drl"), "--excellon-format", "INCH,LZ,2:4"},
         "implausible holes: the holes span 1016.0 x 381.0 mm, more than any board of 500 mm"},
        {{overlapping},
         "implausible holes: 2 holes of T1 (0.800 mm) are closer to another than their diameter, "
         "the closest 0.500 mm apart at X 1.000 Y 1.000"},
    };
    for (const auto& [input, words] : cases) {
        std::vector<std::string> args = input;
        args.insert(args.end(), {"-o", folder.path("out.drl"), "--tools", "all"});
        Result r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(folder.path("out.drl")));
        args.push_back("--force");
        r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("WARNING: " + words), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("converted anyway (--force)"), std::string::npos) << r.out;
        fs::remove(folder.path("out.drl"));
    }
}

TEST(Convert, PlacementOptions) {
    JobFileFolder folder;
    const std::string in = folder.write("in.drl", "M48\nMETRIC\n%\nX10.2Y20.7\nX30.6Y25.1\nM30\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "X5Y5\nX25Y9\nM30\n"},
        {{"--margin", "0"}, "X0Y0\nX20Y4\nM30\n"},
        {{"--origin", "keep"}, "X10Y21\nX31Y25\nM30\n"},
        {{"--origin=keep", "--offset", "1.5,-2"}, "X12Y19\nX32Y23\nM30\n"},
        {{"--mirror-x"}, "X25Y5\nX5Y9\nM30\n"},
        {{"--mirror-x", "--origin", "keep"}, "X31Y21\nX10Y25\nM30\n"},
        {{"--offset=10,20"}, "X15Y25\nX35Y29\nM30\n"},
    };
    for (const auto& [options, text] : cases) {
        // In the file's order, so that each hole's place can be told.
        std::vector<std::string> args = {in,        "-o",  folder.path("out.drl"), "--tools", "all",
                                         "--order", "file"};
        args.insert(args.end(), options.begin(), options.end());
        const Result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(folder.path("out.drl")), text) << testing::PrintToString(options);
    }
}

TEST(Convert, ToolFilesAndAllInOne) {
    JobFileFolder folder;
    const std::string in = folder.write(
        "in.drl", "M48\nMETRIC\nT2C0.635\n%\nX1.0Y1.0\nT4\nX2.0Y2.0\nT2\nX3.0Y3.0\nM30\n");
    Result r = run({in, "-o", folder.path("b.drl"), "--origin", "keep"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Tool order; a hole before any tool, and a tool whose diameter is not stated, keep their
    // numbers only.
    EXPECT_EQ(read_file(folder.path("b-T00.drl")), "X1Y1\nM30\n");
    EXPECT_EQ(read_file(folder.path("b-T02-0.635mm.drl")), "X3Y3\nM30\n");
    EXPECT_EQ(read_file(folder.path("b-T04.drl")), "X2Y2\nM30\n");
    r = run({in, "-o", folder.path("all.drl"), "--origin", "keep", "--tools", "all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(folder.path("all.drl")), "X1Y1\nX2Y2\nX3Y3\nM30\n");
}

std::vector<Pos> holes_in(const std::string& file) {
    std::vector<Pos> holes;
    scan_drill_preview(file, 100,
                       [&](std::int32_t x, std::int32_t y) { holes.emplace_back(x, y); });
    return holes;
}

// The axis travel from X 0, Y 0 through the holes and back, counted here on its own.
std::int64_t travel(const std::vector<Pos>& holes) {
    std::int64_t total = 0;
    Pos at{0, 0};
    for (const Pos& p : holes) {
        total += std::abs(p.first - at.first) + std::abs(p.second - at.second);
        at = p;
    }
    return total + std::abs(at.first) + std::abs(at.second);
}

TEST(Convert, OrdersKeepEveryHoleAndCutTravel) {
    JobFileFolder folder;
    std::string text = "M48\nMETRIC\nT1C0.8\n%\nT1\n";
    std::uint32_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double x = (seed >> 8) % 20000 / 100.0;
        seed = seed * 1664525u + 1013904223u;
        const double y = (seed >> 8) % 15000 / 100.0;
        text += "X" + std::to_string(x) + "Y" + std::to_string(y) + "\n";
        // Some holes twice, and some on the same whole millimetre.
        if (i % 97 == 0) text += "X" + std::to_string(x) + "Y" + std::to_string(y) + "\n";
        if (i % 89 == 0) text += "X" + std::to_string(x + 0.01) + "Y" + std::to_string(y) + "\n";
    }
    text += "M30\n";
    const std::string in = folder.write("many.drl", text);
    // Random holes overlap here and there: --force converts them all the same.
    ASSERT_EQ(run({in, "-o", folder.path("f.drl"), "--tools", "all", "--order", "file", "--force"})
                  .status,
              0);
    std::vector<Pos> file_order = holes_in(folder.path("f.drl"));
    const std::int64_t before = travel(file_order);
    std::sort(file_order.begin(), file_order.end());
    std::map<std::string, std::int64_t> after;
    for (const std::vector<std::string> order :
         {std::vector<std::string>{"--order", "nearest"}, {"--order", "short"}, {}}) {
        const std::string name = order.empty() ? "default" : order[1];
        SCOPED_TRACE(name);
        std::vector<std::string> args = {in,        "-o",     folder.path(name + ".drl"),
                                         "--tools", "all",    "--order-seconds",
                                         "20",      "--force"};
        args.insert(args.end(), order.begin(), order.end());
        const Result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<Pos> holes = holes_in(folder.path(name + ".drl"));
        after[name] = travel(holes);
        EXPECT_NE(r.out.find("axis travel there and back " + std::to_string(after[name]) +
                             " mm (in file order " + std::to_string(before) + " mm)"),
                  std::string::npos)
            << r.out;
        // In the short order holes on one whole millimetre are drilled one after another.
        std::map<Pos, int> runs;
        for (std::size_t k = 0; k < holes.size(); ++k)
            runs[holes[k]] += k == 0 || holes[k] != holes[k - 1];
        if (name != "nearest") {
            for (const auto& [pos, count] : runs)
                EXPECT_EQ(count, 1) << pos.first << "," << pos.second;
        }
        std::sort(holes.begin(), holes.end());
        EXPECT_EQ(holes, file_order);
    }
    EXPECT_LT(after["nearest"] * 5, before);
    EXPECT_LT(after["short"], after["nearest"]);
    EXPECT_EQ(after["default"], after["short"]);
}

// The tour starts where the run starts, at the table's X 0, Y 0: with the board mirrored that is
// the file's right-hand end, so the holes are drilled from there.
TEST(Convert, NearestOrderStartsWhereTheRunStarts) {
    JobFileFolder folder;
    const std::string in =
        folder.write("row.drl", "M48\nMETRIC\n%\nX110.0Y0\nX100.0Y0\nX130.0Y0\nX120.0Y0\nM30\n");
    for (const bool mirror : {false, true}) {
        SCOPED_TRACE(mirror ? "mirrored" : "as it is");
        std::vector<std::string> args = {
            in, "-o", folder.path("n.drl"), "--tools", "all", "--order", "nearest"};
        if (mirror) args.push_back("--mirror-x");
        const Result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(folder.path("n.drl")), "X5Y5\nX15Y5\nX25Y5\nX35Y5\nM30\n");
    }
}

TEST(Convert, FailuresWriteNothing) {
    JobFileFolder folder;
    const std::string drill = folder.write("in.drl", "M48\nMETRIC\n%\nX1.0Y1.0\nM30\n");
    const std::string plot = folder.write("in.plt", "IN;PD10,10;");
    const std::string bad = folder.write("bad.drl", "M48\nMETRIC\n%\nX1.0Y1.0\nQ1\nM30\n");
    const std::string hostile =
        folder.write("slots.drl", "M48\nMETRIC\nT1C0.00001\n%\nT1\nX0.0Y0.0G85X1000.0Y0.0\nM30\n");
    const std::string zip = folder.write("in.zip", std::string("PK\x03\x04\x14\0\0\0", 8));
    fs::create_directory(folder.path("sub"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{hostile, "-o", folder.path("o.drl")}, "the job would have more than 10000000 points"},
        {{zip, "-o", folder.path("o.drl")}, "a ZIP archive: unpack it first"},
        {{drill, "-o", folder.path("sub") + "/" + std::string(256, 'n') + ".drl", "--tools", "all"},
         "File name too long"},
        {{drill, "-o", folder.path("o.plt")}, "must end in .drl"},
        {{plot, "-o", folder.path("o.drl")}, "must end in .plt"},
        {{drill, "-o", folder.path("sub/../in.drl"), "--tools", "all"}, "would replace the input"},
        {{bad, "-o", folder.path("o.drl")}, "unknown command"},
        {{drill, "-o", folder.path("out"), "--params", folder.path("missing.ini")},
         "cannot read the machine file"},
        {{drill}, "no OUTPUT"},
        {{"-o", folder.path("o.drl")}, "no INPUT"},
        {{drill, plot, "-o", folder.path("o.drl")}, "OUTPUT is a folder"},
        {{drill, "-o", folder.path("o.drl"), "--tools", "each"}, "--tools wants split or all"},
        {{drill, "-o", folder.path("o.drl"), "--origin", "centre"}, "--origin wants"},
        {{drill, "-o", folder.path("o.drl"), "--margin", "-1"}, "--margin wants"},
        {{drill, "-o", folder.path("o.drl"), "--offset", "1"}, "--offset wants"},
        {{drill, "-o", folder.path("o.drl"), "--excellon-format", "METRIC,3:3"},
         "--excellon-format wants"},
        {{drill, "-o", folder.path("o.drl"), "--hpgl-unit", "0"}, "--hpgl-unit wants"},
        {{drill, "-o", folder.path("o.drl"), "--order", "best"}, "--order wants"},
        {{drill, "-o", folder.path("o.drl"), "--frobnicate"}, "unknown option --frobnicate"},
        {{drill, "-o", folder.path("o.drl"), "--quiet=yes"}, "takes no value"},
        {{folder.path("none.drl"), "-o", folder.path("o.drl")}, "cannot read"},
        {{folder.path("sub"), "-o", folder.path("o.drl")}, "not a regular file"},
    };
    const std::vector<std::string> before = names_in(folder);
    for (const auto& [args, words] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("cncmirel-prep: "), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(names_in(folder), before) << testing::PrintToString(args);
    }
    EXPECT_EQ(read_file(drill), "M48\nMETRIC\n%\nX1.0Y1.0\nM30\n");
}

TEST(Convert, HelpAndQuiet) {
    JobFileFolder folder;
    Result r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: cncmirel-prep INPUT -o OUTPUT"), std::string::npos);
    // --version before any --help prints one line and converts nothing.
    r = run({data("eagle9_metric.xln"), "-o", folder.path("v.drl"), "--version", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("cncmirel-prep [0-9]+\\.[0-9.]+\n"))) << r.out;
    EXPECT_FALSE(fs::exists(folder.path("v-T01-0.80mm.drl")));
    EXPECT_EQ(run({"--help", "--version"}).out.find("usage: "), 0u);
    r = run({data("eagle9_metric.xln"), "-o", folder.path("e.drl"), "--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(fs::exists(folder.path("e-T01-0.80mm.drl")));
}

// 10 steps per mm, a 200 x 150 x 50 mm table, 1 ms steps, depth 3, travel height 10.
ParamValues machine(std::int32_t scale) {
    return {0, 0, 0, 10, 10, 10, 200, 150, 50, 1, 3, scale, 0, 0, 10};
}

std::string sim_done_line(const std::string& job, const std::string& params) {
    sim::RunOptions options;
    options.job_file = job;
    options.params_file = params;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(sim::run_job(options, out, err), 0);
    const std::string text = read_stream(out);
    std::fclose(out);
    std::fclose(err);
    const std::size_t at = text.rfind("done ");
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

TEST(Convert, MachineCheckTableAndDurations) {
    JobFileFolder folder;
    const std::string params = folder.path("machine.ini");
    ASSERT_TRUE(write_param_file(params, machine(91)));
    const std::string out = folder.path("out");
    const Result r = run({data("kicad7_decimal.drl"), "-o", out, "--params", params});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("machine: table 2000 x 1500 units; every point lies on the table"),
              std::string::npos)
        << r.out;
    // The duration is the simulator's own figure for the written job on the folder's Param.ini.
    for (const char* name : {"/out-T01-0.40mm.drl", "/out-T02-1.00mm.drl"}) {
        const std::string job = out + "/kicad7_decimal" + std::string(name).substr(4);
        const std::string done = sim_done_line(job, out + "/Param.ini");
        const std::string seconds = done.substr(done.find("seconds ") + 8);
        const std::string passes =
            done.substr(done.find("passes ") + 7, done.find(" seconds") - done.find("passes ") - 7);
        EXPECT_NE(r.out.find(job + ": " + seconds + " s (" + passes + " moving passes)"),
                  std::string::npos)
            << done << "\n"
            << r.out;
    }
    // The machine's own file keeps its scale; the folder's has 100, as the jobs are meant.
    EXPECT_EQ(read_file(params).size(), PARAM_FILE_SIZE);
    EXPECT_EQ(read_param_file(params)->at(11), 91);
    EXPECT_EQ(read_param_file(out + "/Param.ini")->at(11), 100);
}

std::uint64_t passes_of(const std::string& done) {
    const std::size_t at = done.find("passes ");
    return at == std::string::npos ? 0 : std::stoull(done.substr(at + 7));
}

// The travel cost the tour works with is the simulator's own count: on one set of holes, the
// moving passes of a run less the cost of its order are the same for every order. X and Y
// steps per unit differ (10 and 4) and the run starts from the go-to position (14, 18).
TEST(Convert, TravelCostAgreesWithTheSimulatorToThePass) {
    JobFileFolder folder;
    ParamValues m = machine(100);
    m[3] = 20;
    m[4] = 8;
    m[12] = 7;
    m[13] = 9;
    const std::string params = folder.path("machine.ini");
    ASSERT_TRUE(write_param_file(params, m));
    std::string text = "M48\nMETRIC\n%\n";
    std::uint32_t seed = 5;
    for (int i = 0; i < 40; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int x = 1 + static_cast<int>((seed >> 8) % 90);
        seed = seed * 1664525u + 1013904223u;
        const int y = 1 + static_cast<int>((seed >> 8) % 70);
        text += "X" + std::to_string(x) + ".0Y" + std::to_string(y) + ".0\n";
    }
    text += "M30\n";
    const std::string in = folder.write("holes.drl", text);
    const AxisSteps steps{10, 4};
    const TourEnds ends{{14, 18}, IntPoint{0, 0}};
    std::vector<std::int64_t> costs, rest;
    for (const char* order : {"file", "nearest", "short"}) {
        const std::string out = folder.path(order);
        const Result r = run({in, "-o", out, "--params", params, "--unit", "0.5", "--tools", "all",
                              "--order", order, "--origin", "keep"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string job = out + "/holes.drl";
        std::vector<IntPoint> holes;
        for (const Pos& p : holes_in(job)) holes.push_back({p.first, p.second});
        ASSERT_EQ(holes.size(), 40u);
        const std::string done = sim_done_line(job, out + "/Param.ini");
        const std::uint64_t passes = passes_of(done);
        ASSERT_GT(passes, 0u) << done;
        const std::int64_t cost = path_cost(holes, ends, steps);
        costs.push_back(cost);
        rest.push_back(static_cast<std::int64_t>(passes) - cost);
        EXPECT_NE(r.out.find("axis travel there and back " + std::to_string(cost) + " steps"),
                  std::string::npos)
            << r.out;
        if (std::string(order) != "file") {
            // Both durations: the written job's and the file order's, as the simulator has them.
            EXPECT_NE(r.out.find("moving passes); in file order "), std::string::npos) << r.out;
        }
    }
    EXPECT_GT(costs[0], costs[1]);
    EXPECT_GT(costs[1], costs[2]);
    EXPECT_EQ(rest[0], rest[1]);
    EXPECT_EQ(rest[1], rest[2]);
}

// A plot job's strokes as written: the point before each PD, then the points after it (the
// first point written again after PD, a cut of length zero for the preview, is left out).
std::vector<std::vector<Pos>> strokes_in(const std::string& file) {
    std::vector<std::vector<Pos>> strokes;
    std::istringstream in(read_file(file));
    Pos last{0, 0};
    bool down = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "PU;") {
            down = false;
        } else if (line == "PD;") {
            down = true;
            strokes.push_back({last});
        } else if (line.starts_with("PA")) {
            const std::size_t comma = line.find(',');
            last = {std::stoi(line.substr(2, comma - 2)), std::stoi(line.substr(comma + 1))};
            if (down && strokes.back().back() != last) strokes.back().push_back(last);
        }
    }
    return strokes;
}

TEST(Convert, PlotStrokesReorderedReversedAndRotatedKeepTheirCuts) {
    JobFileFolder folder;
    // Open polylines and closed squares scattered over the board, in no useful order.
    std::string text = "IN;";
    std::uint32_t seed = 3;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % 4000);
    };
    for (int i = 0; i < 60; ++i) {
        const int x = next() * 2, y = next() * 2;
        if (i % 3 == 0) {
            text += "PU" + std::to_string(x) + "," + std::to_string(y) + ";PD" +
                    std::to_string(x + 400) + "," + std::to_string(y) + "," +
                    std::to_string(x + 400) + "," + std::to_string(y + 400) + "," +
                    std::to_string(x) + "," + std::to_string(y + 400) + "," + std::to_string(x) +
                    "," + std::to_string(y) + ";";
        } else {
            text += "PU" + std::to_string(x) + "," + std::to_string(y) + ";PD" +
                    std::to_string(x + next() / 4) + "," + std::to_string(y + 300) + "," +
                    std::to_string(x + 800) + "," + std::to_string(y + next() / 4) + ";";
        }
    }
    const std::string in = folder.write("p.plt", text + "PU;");
    const Result file = run({in, "-o", folder.path("f.plt"), "--order", "file"});
    const Result made = run({in, "-o", folder.path("s.plt")});
    ASSERT_EQ(file.status, 0) << file.err;
    ASSERT_EQ(made.status, 0) << made.err;
    const auto before = strokes_in(folder.path("f.plt")), after = strokes_in(folder.path("s.plt"));
    ASSERT_EQ(before.size(), 60u);
    ASSERT_EQ(after.size(), 60u);
    // Every cut once, in one direction or the other.
    auto cuts = [](const std::vector<std::vector<Pos>>& strokes) {
        std::vector<std::pair<Pos, Pos>> c;
        for (const auto& s : strokes)
            for (std::size_t k = 1; k < s.size(); ++k)
                c.emplace_back(std::min(s[k - 1], s[k]), std::max(s[k - 1], s[k]));
        std::sort(c.begin(), c.end());
        return c;
    };
    EXPECT_EQ(cuts(after), cuts(before));
    // Pen-up travel from X 0, Y 0 (the written X is 50 less than the machine's).
    auto travel_of = [](const std::vector<std::vector<Pos>>& strokes) {
        std::int64_t total = 0;
        Pos at{-50, 0};
        for (const auto& s : strokes) {
            total += std::abs(s.front().first - at.first) + std::abs(s.front().second - at.second);
            at = s.back();
        }
        return total;
    };
    const std::int64_t was = travel_of(before), now = travel_of(after);
    EXPECT_LT(now * 3, was);
    EXPECT_NE(made.out.find("pen-up travel " + std::to_string(now) + " mm (in file order " +
                            std::to_string(was) + " mm)"),
              std::string::npos)
        << made.out;
    // Some closed strokes were entered elsewhere than their first vertex, some open ones reversed.
    int rotated = 0, reversed = 0;
    for (const auto& s : after) {
        const bool closed = s.front() == s.back();
        bool found = false;
        for (const auto& b : before) {
            if (b == s) found = true;
            if (!closed && std::vector<Pos>(b.rbegin(), b.rend()) == s) ++reversed, found = true;
        }
        if (closed && !found) ++rotated;
    }
    EXPECT_GT(rotated, 0);
    EXPECT_GT(reversed, 0);
}

TEST(Convert, PlotReportCountsWhatWasSkipped) {
    JobFileFolder folder;
    const Result r = run({data("instrument.plt"), "-o", folder.path("i.plt")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"skipped commands: 12: DF 1 DT 1 EP 1 FP 1 IP 1 LT 1 PM 2 PT 1 RO 1 SC 1 VS 1",
          "WARNING: skipped commands that draw shapes of their own: EP FP", "labels skipped: 2",
          "X is written 50 mm less"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

TEST(Convert, LongestOutputNameTheSystemTakes) {
    JobFileFolder folder;
    const std::string plot = folder.write("in.plt", "IN;PD10,10;");
    const std::string name = std::string(246, 'p') + ".plt";  // 250 characters
    const Result r = run({plot, "-o", folder.path(name)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"in.plt", name}));
}

// Two tools, so two outputs; the second cannot take its place.
TEST(Convert, AnOutputThatCannotBeWrittenLeavesEveryOutputAsItWas) {
    JobFileFolder folder;
    const std::string in =
        folder.write("in.drl", "M48\nMETRIC\nT1C0.8\nT2C1.0\n%\nT1\nX1.0Y1.0\nT2\nX2.0Y2.0\nM30\n");
    folder.write("b-T01-0.80mm.drl", "old\n");
    fs::create_directory(folder.path("b-T02-1.00mm.drl"));
    const std::vector<std::string> before = names_in(folder);
    const Result r = run({in, "-o", folder.path("b.drl")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "cncmirel-prep: cannot write " + folder.path("b-T02-1.00mm.drl") +
                         ": Is a directory\n");
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(read_file(folder.path("b-T01-0.80mm.drl")), "old\n");
    EXPECT_EQ(names_in(folder), before);
}

// A rename that fails part way (here the second temporary is gone) puts back the first
// output; a commit that succeeds replaces what was there and leaves no temporary.
TEST(OutputSet, RenamesIntoPlaceAllOrNone) {
    JobFileFolder folder;
    folder.write("a.drl", "old a\n");
    const auto write_both = [&](OutputSet& set) {
        std::fputs("new a\n", set.open(folder.path("a.drl")));
        std::fputs("new b\n", set.open(folder.path("b.drl")));
    };
    {
        OutputSet set(folder.path("in.drl"));
        write_both(set);
        set.close_all();
        ASSERT_EQ(::unlink(set.temporary_path(1).c_str()), 0);
        EXPECT_THROW(set.commit(), PrepError);
    }
    EXPECT_EQ(read_file(folder.path("a.drl")), "old a\n");
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"a.drl"}));
    {
        OutputSet set(folder.path("in.drl"));
        write_both(set);
        set.commit();
    }
    EXPECT_EQ(read_file(folder.path("a.drl")), "new a\n");
    EXPECT_EQ(read_file(folder.path("b.drl")), "new b\n");
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"a.drl", "b.drl"}));
}

// As for the controller's parameters, a power cut never leaves a half-written job: every output
// is on the disk whole before any takes its name, and the folder after the last rename.
TEST(OutputSet, FlushesEveryOutputWholeBeforeTheRenamesThenTheFolder) {
    JobFileFolder folder;
    const std::string in =
        folder.write("in.drl", "M48\nMETRIC\nT1C0.8\nT2C1.0\n%\nT1\nX1.0Y1.0\nT2\nX2.0Y2.0\nM30\n");
    flushed.clear();
    flush_to_disk = watch_flush;
    const Result r = run({in, "-o", folder.path("b.drl"), "--quiet"});
    flush_to_disk = ::fsync;
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat dir {};
    ASSERT_EQ(::stat(folder.path("").c_str(), &dir), 0);
    ASSERT_FALSE(flushed.empty());
    EXPECT_TRUE(flushed.back().folder);
    EXPECT_EQ(flushed.back().inode, dir.st_ino);
    for (const char* name : {"b-T01-0.80mm.drl", "b-T02-1.00mm.drl"}) {
        SCOPED_TRACE(name);
        struct stat now {};
        ASSERT_EQ(::stat(folder.path(name).c_str(), &now), 0);
        const auto file = std::find_if(flushed.begin(), flushed.end(), [&](const Flushed& f) {
            return !f.folder && f.inode == now.st_ino;
        });
        ASSERT_NE(file, flushed.end());
        EXPECT_EQ(file->size, now.st_size);
        EXPECT_LT(file - flushed.begin(), static_cast<std::ptrdiff_t>(flushed.size()) - 1);
    }
}

// A write the system refuses is named with its cause, and nothing is written: here a file
// size limit stands in for a full disk, and /dev/full takes the report.
TEST(Convert, FailedWritesNameTheFileAndTheCause) {
    JobFileFolder folder;
    std::string text = "M48\nMETRIC\nT1C0.8\n%\nT1\n";
    for (int i = 0; i < 2000; ++i) text += "X" + std::to_string(i % 100) + ".0Y1.0\n";
    const std::string in = folder.write("in.drl", text + "M30\n");
    const std::string out = folder.path("big.drl");
    const auto limited_run = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return run_command_line({in, "-o", out, "--tools", "all", "--quiet", "--force"}, stdout,
                                stderr);
    };
    EXPECT_EXIT(std::exit(limited_run()), testing::ExitedWithCode(2),
                "^cncmirel-prep: cannot write " + out + ": File too large\n$");
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"in.drl"}));

    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(run_command_line({in, "-o", out, "--tools", "all", "--force"}, full, err), 2);
    std::fclose(full);
    EXPECT_EQ(read_stream(err),
              "cncmirel-prep: cannot write the report: No space left on device\n");
    std::fclose(err);
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"in.drl"}));
}

}  // namespace
}  // namespace prep
