// test_unit.cpp - jobs finer than a millimetre: the job unit chosen for a machine and a board,
// the folder's derived Param.ini, boards of several inputs placed as one, and the jobs drilled
// by the simulator with the folder's Param.ini, measured against the board's true holes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/param_file.h"
#include "job_file_folder.h"
#include "jobs/drill_file.h"
#include "jobs/plot_file.h"
#include "prep.h"
#include "prep_run.h"
#include "sim.h"
#include "unit.h"

namespace prep {
namespace {

namespace fs = std::filesystem;

using namespace testing_support;

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> jobs_in(const std::string& folder, const std::string& ext) {
    std::vector<std::string> jobs;
    for (const std::string& n : names_in(folder)) {
        if (n.size() > 4 && n.substr(n.size() - 4) == ext) jobs.push_back(folder + "/" + n);
    }
    return jobs;
}

// Backlash 0; X, Y, Z steps per mm; table X, Y (Z 50); 1 ms steps; depth 3; the scale given;
// go-to X, Y and a travel height of 10.
ParamValues machine_values(std::int32_t sx, std::int32_t sy, std::int32_t tx, std::int32_t ty,
                           std::int32_t scale = 100, std::int32_t gx = 0, std::int32_t gy = 0) {
    return {0, 0, 0, sx, sy, 200, tx, ty, 50, 1, 3, scale, gx, gy, 10};
}

Machine machine(std::int32_t sx, std::int32_t sy, std::int32_t tx = 200, std::int32_t ty = 150) {
    Machine m;
    m.path = "Param.ini";
    m.values = machine_values(sx, sy, tx, ty);
    return m;
}

Box box(double min_x, double min_y, double max_x, double max_y) {
    Box b;
    b.add(Point{min_x, min_y});
    b.add(Point{max_x, max_y});
    return b;
}

TEST(JobUnit, FinestUnitTheStepsAndTableAllowThenThePreview) {
    struct Case {
        const char* what;
        Machine m;
        Box placed;
        std::int32_t per_mm;
        bool preview_whole;
    };
    const Case cases[] = {
        {"10 steps per mm: 0.1 mm", machine(10, 10), box(5, 5, 32, 24), 10, true},
        {"80 steps per mm, a small board: 0.05 mm", machine(80, 80), box(5, 5, 32, 24), 20, true},
        {"80 steps per mm, 50 mm: 0.1 mm shows it whole", machine(80, 80), box(5, 5, 55, 40), 10,
         true},
        {"80 steps per mm, 120 mm: 0.2 mm shows it whole", machine(80, 80), box(5, 5, 125, 90), 5,
         true},
        {"80 steps per mm, 180 mm: no unit shows it, the finest", machine(80, 80),
         box(5, 5, 185, 100), 40, false},
        {"6 steps per mm: only 0.5 mm", machine(6, 6), box(5, 5, 32, 24), 2, true},
        {"8 steps per mm: 0.25 mm", machine(8, 8), box(5, 5, 32, 24), 4, true},
        {"25 steps per mm: 0.2 mm", machine(25, 25), box(5, 5, 32, 24), 5, true},
        {"X 10 and Y 4 steps: a unit both take", machine(10, 4), box(5, 5, 32, 24), 2, true},
        // 0.025 mm would need 12000 units of table, more than a field holds.
        {"a field holds 9999 units", machine(80, 80, 300, 300), box(5, 5, 280, 30), 20, false},
    };
    for (const Case& c : cases) {
        const UnitChoice u = choose_unit(c.m, c.placed, std::nullopt);
        EXPECT_EQ(u.per_mm, c.per_mm) << c.what;
        EXPECT_EQ(u.preview_whole, c.preview_whole) << c.what;
    }
    // Asked for: taken when the steps and the table allow it, the preview notwithstanding.
    EXPECT_EQ(choose_unit(machine(10, 10), box(5, 5, 32, 24), 2).per_mm, 2);
    EXPECT_EQ(choose_unit(machine(7, 7), box(5, 5, 32, 24), 1).per_mm, 1);
    EXPECT_EQ(choose_unit(machine(80, 80), box(5, 5, 55, 40), 40).per_mm, 40);

    struct Refusal {
        Machine m;
        Box placed;
        std::optional<std::int32_t> asked;
        const char* words;
    };
    const Refusal refusals[] = {
        {machine(7, 7), box(5, 5, 32, 24), std::nullopt, "no job unit finer than 1 mm"},
        {machine(7, 10), box(5, 5, 32, 24), std::nullopt, "7 and 10 steps per mm"},
        {machine(10, 10), box(5, 5, 32, 24), 20, "needs a whole number of steps per unit"},
        {machine(10, 10, 20, 150), box(5, 5, 32, 24), std::nullopt, "beyond the table of 20"},
        {machine(10, 10, 20, 150), box(5, 5, 32, 24), 1, "beyond the table"},
        {machine(10, 10), box(-2, 5, 32, 24), std::nullopt, "below 0"},
    };
    for (const Refusal& r : refusals) {
        try {
            choose_unit(r.m, r.placed, r.asked);
            ADD_FAILURE() << "no refusal: " << r.words;
        } catch (const PrepError& e) {
            EXPECT_NE(std::string(e.what()).find(r.words), std::string::npos) << e.what();
        }
    }
}

TEST(JobUnit, DerivedParamsHoldStepsTableAndGoToPerUnit) {
    Machine m;
    m.values = {3, 4, 5, 10, 20, 400, 200, 150, 60, 2, 3, 91, 12, 7, 15};
    EXPECT_EQ(derived_params(m, 10),
              (ParamValues{3, 4, 5, 1, 2, 400, 2000, 1500, 60, 2, 3, 100, 120, 70, 15}));
    // A field holds 9999 at most.
    m.values = {0, 0, 0, 80, 80, 400, 300, 250, 60, 2, 3, 100, 260, 7, 15};
    EXPECT_EQ(derived_params(m, 40),
              (ParamValues{0, 0, 0, 2, 2, 400, 9999, 9999, 60, 2, 3, 100, 9999, 280, 15}));
}

// The board of the drill fixtures, in the file's millimetres: a DIP-8 (0.8 mm), a 2 x 10
// header at 2.54 mm (1.0 mm) and four mounting holes (3.2 mm).
std::vector<Point> board_holes() {
    std::vector<Point> holes;
    for (const double y : {5.08, 12.70}) {
        for (int i = 0; i < 4; ++i) holes.push_back({8.89 + 2.54 * i, y});
    }
    for (const double y : {17.78, 20.32}) {
        for (int i = 0; i < 10; ++i) holes.push_back({5.08 + 2.54 * i, y});
    }
    for (const Point p : {Point{3, 3}, Point{30, 3}, Point{30, 22}, Point{3, 22}}) {
        holes.push_back(p);
    }
    return holes;
}

// Where the simulator's machine stood, in steps, at each hole it marked.
std::vector<std::pair<std::int64_t, std::int64_t>> drilled_steps(const std::string& job,
                                                                 const std::string& params) {
    sim::RunOptions options;
    options.job_file = job;
    options.params_file = params;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(sim::run_job(options, out, err), sim::EXIT_OK) << read_stream(err);
    std::istringstream lines(read_stream(out));
    std::fclose(out);
    std::fclose(err);
    std::vector<std::pair<std::int64_t, std::int64_t>> at;
    std::int64_t x = 0, y = 0;
    for (std::string line; std::getline(lines, line);) {
        char axis = 0, sign = 0;
        long long count = 0;
        if (std::sscanf(line.c_str(), "steps %c %c %lld", &axis, &sign, &count) == 3) {
            const std::int64_t d = sign == '-' ? -count : count;
            if (axis == 'X') x += d;
            if (axis == 'Y') y += d;
        } else if (line.starts_with("mark hole")) {
            at.emplace_back(x, y);
        }
    }
    return at;
}

// The holes of a job as the controller's fetches read them from byte 0 to the end.
std::vector<std::pair<std::int32_t, std::int32_t>> fetched(const std::string& file) {
    std::vector<std::pair<std::int32_t, std::int32_t>> holes;
    const std::int32_t length = scan_drill_preview(file, 100, [](std::int32_t, std::int32_t) {});
    for (std::int32_t position = 0, guard = 0; position != length && guard < 10000; ++guard) {
        const DrillPoint p = fetch_drill_point(file, 100, position);
        if (p.found) holes.emplace_back(p.x_mm, p.y_mm);
        position = p.next_position;
    }
    return holes;
}

TEST(JobUnit, SimulatorDrillsEveryHoleWithinHalfAUnitOfItsTruePlace) {
    struct Case {
        std::int32_t steps_per_mm;
        double unit_mm;
        double within_mm;
    };
    for (const Case c : {Case{10, 0.1, 0.071}, Case{80, 0.05, 0.036}}) {
        SCOPED_TRACE(c.steps_per_mm);
        JobFileFolder folder;
        const std::string own = folder.path("machine.ini");
        ASSERT_TRUE(
            write_param_file(own, machine_values(c.steps_per_mm, c.steps_per_mm, 200, 150, 91)));
        const std::string out = folder.path("board");
        const Result r = run({data("header_dip8.drl"), "-o", out, "--machine", own});
        ASSERT_EQ(r.status, 0) << r.err;
        std::ostringstream unit_line;
        unit_line << "job unit: " << c.unit_mm << " mm";
        EXPECT_NE(r.out.find(unit_line.str()), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("cncmirel --folder " + out), std::string::npos) << r.out;
        EXPECT_EQ(read_param_file(own)->at(11), 91) << "the machine's own file is left alone";

        // The board's lower-left hole (3, 3) goes to the 5 mm margin.
        std::vector<Point> truth;
        for (const Point& p : board_holes()) truth.push_back({p.x + 2, p.y + 2});
        std::vector<std::pair<std::int32_t, std::int32_t>> read_back, rounded;
        std::vector<Point> drilled;
        for (const std::string& job : jobs_in(out, ".drl")) {
            const auto f = fetched(job);
            read_back.insert(read_back.end(), f.begin(), f.end());
            for (const auto& [x, y] : drilled_steps(job, out + "/Param.ini")) {
                drilled.push_back({static_cast<double>(x) / c.steps_per_mm,
                                   static_cast<double>(y) / c.steps_per_mm});
            }
        }
        for (const Point& p : truth) {
            rounded.emplace_back(static_cast<std::int32_t>(std::lround(p.x / c.unit_mm)),
                                 static_cast<std::int32_t>(std::lround(p.y / c.unit_mm)));
        }
        std::sort(read_back.begin(), read_back.end());
        std::sort(rounded.begin(), rounded.end());
        EXPECT_EQ(read_back, rounded);

        ASSERT_EQ(drilled.size(), truth.size());
        for (const Point& want : truth) {
            const auto nearest = std::min_element(
                drilled.begin(), drilled.end(), [&](const Point& a, const Point& b) {
                    return std::hypot(a.x - want.x, a.y - want.y) <
                           std::hypot(b.x - want.x, b.y - want.y);
                });
            EXPECT_LE(std::hypot(nearest->x - want.x, nearest->y - want.y), c.within_mm)
                << want.x << ", " << want.y;
            EXPECT_LE(std::fabs(nearest->x - want.x), c.unit_mm / 2 + 1e-9) << want.x;
            EXPECT_LE(std::fabs(nearest->y - want.y), c.unit_mm / 2 + 1e-9) << want.y;
        }
    }
}

TEST(JobUnit, InputsOfOneBoardShareOnePlacement) {
    JobFileFolder folder;
    const std::string own = folder.path("machine.ini");
    ASSERT_TRUE(write_param_file(own, machine_values(10, 10, 200, 150)));
    const std::string out = folder.path("board");
    const Result r = run({data("board-PTH.drl"), data("board-NPTH.drl"),
                          data("board-Edge_Cuts.plt"), "-o", out, "--machine", own});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names_in(out),
              (std::vector<std::string>{"Param.ini", "README.txt", "board-Edge_Cuts.plt",
                                        "board-NPTH-T01-3.20mm.drl", "board-PTH-T01-0.80mm.drl",
                                        "board-PTH-T02-1.00mm.drl"}));
    // The report names each input before its outputs.
    std::size_t at = 0;
    for (const std::string& line : std::vector<std::string>{
             "input: " + data("board-PTH.drl"), "output: " + out + "/board-PTH-T01-0.80mm.drl",
             "output: " + out + "/board-PTH-T02-1.00mm.drl", "input: " + data("board-NPTH.drl"),
             "output: " + out + "/board-NPTH-T01-3.20mm.drl",
             "input: " + data("board-Edge_Cuts.plt"), "output: " + out + "/board-Edge_Cuts.plt"}) {
        at = r.out.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << r.out;
    }

    // The outline's lower-left corner, as the milling run reaches it, in units of 0.1 mm.
    const std::string outline = out + "/board-Edge_Cuts.plt";
    std::int32_t pen = PEN_NONE, position = 0;
    const PlotStep first = fetch_plot_step(outline, 100, pen, position);
    ASSERT_TRUE(first.found);
    EXPECT_EQ(first.x_mm, 50);  // the 5 mm margin
    EXPECT_EQ(first.y_mm, 50);
    // Every hole keeps its place from that corner (0, 0 in the files) within half a unit.
    std::vector<std::pair<std::int32_t, std::int32_t>> holes;
    for (const std::string& job : jobs_in(out, ".drl")) {
        const auto f = fetched(job);
        holes.insert(holes.end(), f.begin(), f.end());
    }
    const std::vector<Point> truth = board_holes();
    ASSERT_EQ(holes.size(), truth.size());
    for (const Point& want : truth) {
        const bool kept = std::any_of(holes.begin(), holes.end(), [&](const auto& h) {
            return std::fabs((h.first - first.x_mm) * 0.1 - want.x) <= 0.05 + 1e-9 &&
                   std::fabs((h.second - first.y_mm) * 0.1 - want.y) <= 0.05 + 1e-9;
        });
        EXPECT_TRUE(kept) << want.x << ", " << want.y;
    }
}

TEST(JobUnit, FolderHoldsTheDerivedParamIniAndItsReadme) {
    JobFileFolder folder;
    const std::string own = folder.path("machine.ini");
    ASSERT_TRUE(write_param_file(own, machine_values(10, 10, 200, 150, 91, 12, 7)));
    const std::string out = folder.path("board");
    ASSERT_EQ(run({data("header_dip8.drl"), "-o", out, "--machine", own, "--tools", "all"}).status,
              0);
    EXPECT_EQ(read_param_file(out + "/Param.ini"),
              (ParamValues{0, 0, 0, 1, 1, 200, 2000, 1500, 50, 1, 3, 100, 120, 70, 10}));
    const std::string readme = read_file(out + "/README.txt");
    for (const std::string& line :
         std::vector<std::string>{"job unit of 0.1 mm", "cncmirel --folder " + out,
                                  "derived from " + own, "steps per mm X, Y: 1, 1 steps per unit",
                                  "table X, Y: 2000 x 1500 units", "  header_dip8.drl\n"}) {
        EXPECT_NE(readme.find(line), std::string::npos) << line << "\n" << readme;
    }
    // Converting again into the same folder replaces what it wrote there.
    const Result again =
        run({data("header_dip8.drl"), "-o", out, "--params", own, "--tools", "all"});
    EXPECT_EQ(again.status, 0) << again.err;
}

TEST(JobUnit, ReportSaysWhatThePreviewShowsAndWhatATableFieldHolds) {
    JobFileFolder folder;
    const std::string own = folder.path("machine.ini");
    // 80 steps per mm: the board placed at 120 mm is too far out for the preview even at
    // 0.2 mm, so it gets the finest unit, 0.025 mm, whose 735 pixels are 18.375 mm.
    ASSERT_TRUE(write_param_file(own, machine_values(80, 80, 200, 150)));
    Result r = run(
        {data("header_dip8.drl"), "-o", folder.path("far"), "--machine", own, "--margin", "120"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("job unit: 0.025 mm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("WARNING: the preview draws one pixel per unit, 735 x 715: it shows only "
                         "the part of the board within X 18.375 mm and Y 17.875 mm"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("note: a field holds"), std::string::npos) << r.out;
    // A 300 mm table is 12000 units of 0.025 mm: the field holds 9999 of them.
    ASSERT_TRUE(write_param_file(own, machine_values(80, 80, 300, 150)));
    r = run(
        {data("header_dip8.drl"), "-o", folder.path("wide"), "--machine", own, "--unit", "0.025"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("note: a field holds at most 9999 units, so the controller reaches "
                         "249.975 x 150 mm of the 300 x 150 mm table"),
              std::string::npos)
        << r.out;
}

TEST(JobUnit, RefusalsWriteNothing) {
    JobFileFolder folder;
    const std::string own = folder.write("machine.ini", "");
    ASSERT_TRUE(write_param_file(own, machine_values(10, 10, 200, 150)));
    const std::string short_file = folder.write("short.ini", read_file(own).substr(0, 56));
    const std::string long_file = folder.write("long.ini", read_file(own) + "\n");
    const std::string zero = folder.path("zero.ini");
    ASSERT_TRUE(write_param_file(zero, machine_values(0, 10, 200, 150)));
    const std::string seven = folder.path("seven.ini");
    ASSERT_TRUE(write_param_file(seven, machine_values(7, 7, 200, 150)));
    const std::string small = folder.path("small.ini");
    ASSERT_TRUE(write_param_file(small, machine_values(10, 10, 20, 150)));
    fs::create_directory(folder.path("full"));
    folder.write("full/notes.txt", "mine");
    fs::create_directory(folder.path("own"));
    const std::string inside = folder.path("own/Param.ini");
    ASSERT_TRUE(write_param_file(inside, machine_values(10, 10, 200, 150)));
    const std::string drill = data("header_dip8.drl");
    const std::string fresh = folder.path("new");
    fs::create_directory(folder.path("copy"));
    fs::create_directory(folder.path("in"));
    const std::string second = folder.write("in/b.drl", read_file(data("board-NPTH.drl")));
    const std::string same_name =
        folder.write("copy/board-PTH.drl", read_file(data("board-PTH.drl")));

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{drill, "-o", fresh, "--machine", short_file}, "is 56 bytes, not the 60"},
        {{drill, "-o", fresh, "--machine", long_file}, "is 61 bytes"},
        {{drill, "-o", fresh, "--machine", zero}, "X steps per mm 0"},
        {{drill, "-o", fresh, "--machine", seven}, "no job unit finer than 1 mm"},
        {{drill, "-o", fresh, "--machine", small}, "beyond the table of 20 x 150 mm"},
        {{drill, "-o", fresh, "--machine", own, "--unit", "0.025"}, "needs a whole number"},
        {{drill, "-o", folder.path("full"), "--machine", own}, "holds other files (notes.txt)"},
        {{drill, "-o", folder.path("own"), "--machine", inside, "--force"}, "never written over"},
        {{drill, "-o", folder.path("b.drl"), "--machine", own}, "OUTPUT is a folder"},
        {{drill, drill, "-o", fresh}, "given twice"},
        {{drill, "-o", fresh, "--unit", "0.1"}, "--unit needs --machine"},
        {{drill, "-o", fresh, "--machine", own, "--unit", "0.3"}, "--unit wants"},
        {{drill, data("board-NPTH.drl"), "-o", folder.path("full"), "--origin", "keep"},
         "holds other files"},
        {{drill, second, "-o", folder.path("in"), "--force", "--tools", "all"},
         "would replace the input"},
        // Found only once the folder is made: it goes again.
        {{data("board-PTH.drl"), same_name, "-o", fresh}, "two outputs would both be named"},
    };
    const std::vector<std::string> before = names_in(folder.path(""));
    for (const auto& [args, words] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(names_in(folder.path("")), before) << testing::PrintToString(args);
        EXPECT_EQ(names_in(folder.path("full")), std::vector<std::string>{"notes.txt"});
        EXPECT_EQ(names_in(folder.path("own")), std::vector<std::string>{"Param.ini"});
        EXPECT_EQ(names_in(folder.path("in")), std::vector<std::string>{"b.drl"});
    }
    EXPECT_EQ(read_file(second), read_file(data("board-NPTH.drl")));
    EXPECT_EQ(read_param_file(inside), machine_values(10, 10, 200, 150));

    // With --force the jobs join what the folder holds, which stays.
    const Result forced = run({drill, "-o", folder.path("full"), "--machine", own, "--force"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(names_in(folder.path("full")),
              (std::vector<std::string>{"Param.ini", "README.txt", "header_dip8-T01-0.80mm.drl",
                                        "header_dip8-T02-1.00mm.drl", "header_dip8-T03-3.20mm.drl",
                                        "notes.txt"}));
}

}  // namespace
}  // namespace prep
