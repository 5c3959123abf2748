// Tests of the milling (plot) file readers: the fetch of the next point with its pen state and
// the preview scan of pen-down strokes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "job_file_folder.h"
#include "jobs/line_reader.h"
#include "jobs/plot_file.h"

namespace {

constexpr std::int32_t END = -1;  // stands for the file length in the tables below

struct Point {
    std::int32_t x, y, pen, next;
    bool found;
    bool operator==(const Point&) const = default;
};
void PrintTo(const Point& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ") pen " << p.pen << " next " << p.next
        << (p.found ? "" : " nothing");
}

struct Segment {
    std::int32_t x1, y1, x2, y2;  // point just read, previous point
    bool operator==(const Segment&) const = default;
};
void PrintTo(const Segment& s, std::ostream* os) {
    *os << "(" << s.x1 << ", " << s.y1 << ")-(" << s.x2 << ", " << s.y2 << ")";
}

Point fetch(const std::string& file, std::int32_t scale, std::int32_t pen, std::int32_t position) {
    const PlotStep s = fetch_plot_step(file, scale, pen, position);
    EXPECT_TRUE(s.readable);
    return {s.x_mm, s.y_mm, s.pen_state, s.next_position, s.found};
}

std::vector<Segment> scan(const std::string& file, std::int32_t scale) {
    std::vector<Segment> segments;
    const std::int32_t length = scan_plot_preview(
        file, scale, [&](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
            segments.push_back({x1, y1, x2, y2});
        });
    EXPECT_EQ(length, static_cast<std::int32_t>(std::filesystem::file_size(file)));
    return segments;
}

TEST(FetchPlotStep, ReadsTheNextPointAndPen) {
    struct Case {
        std::string text;
        std::int32_t scale, pen, position;
        Point expected;  // next END: the file length
    };
    const std::vector<Case> cases = {
        {"PU;\nPA400,200;\n", 61, 0, 0, {60, 5, 6, END, true}},
        {"pu;\npa400,200;\n", 61, 7, 0, {60, 5, 6, END, true}},
        {"PD;\nPA10.5,20.5;\n", 100, 0, 0, {60, 20, 7, END, true}},
        {"PD;\nPA400,200;\n", 91, 6, 0, {90, 20, 7, END, true}},
        {"PD;\nPA400,200;\n", 1, 6, 0, {54, 2, 7, END, true}},
        {"PD;\nPA-40,0;\n", 61, 0, 0, {49, 0, 7, END, true}},
        {"PD;\nPA-20,0;\n", 61, 0, 0, {49, 0, 7, END, true}},
        {"PD;\nPA-60,-60;\n", 61, 0, 0, {48, -1, 7, END, true}},
        // Under pen down every line but "PU" is a coordinate line.
        {"IN;\nPA1,1;\n", 100, 7, 0, {50, 0, 7, 4, true}},
        {"SP1;\n", 100, 7, 0, {50, 0, 7, END, true}},
        {"PD;\nPA1,1;\n", 100, 7, 0, {50, 0, 7, 4, true}},
        {"PR10,20;\n", 100, 7, 0, {50, 20, 7, END, true}},
        {"PU;\nPA1,2;\n", 100, 7, 0, {51, 2, 6, END, true}},
        {"pa 1 , 2 ;\n", 100, 7, 0, {51, 2, 7, END, true}},
        {"PA1;2;3\n", 100, 7, 0, {51, 2, 7, END, true}},
        {"PAPA5,6\n", 100, 7, 0, {55, 6, 7, END, true}},
        // Set-up lines are skipped until a pen line; numbers on a pen line are never read.
        {"IN;\nSP1;\nPD;\nPA400,200;\n", 61, 0, 0, {60, 5, 7, END, true}},
        {"IN;\nSP1;\nPD;\nPA400,200;\nPA0,0;\n", 61, 6, 0, {60, 5, 7, 24, true}},
        {"PD100,200;\nPA1,2;\n", 100, 0, 0, {51, 2, 7, END, true}},
        {"IN;\nSP1;\n", 100, 0, 0, {0, 0, 0, END, false}},
        {"IN;\nSP1;\n", 100, 6, 0, {0, 0, 6, END, false}},
        {"", 100, 6, 0, {0, 0, 6, 0, false}},
        {" PD;\nPA1,1;\n PU;\nPA2,2;\n", 100, 0, 0, {0, 0, 0, END, false}},
        // The line after "PU" is the travel point whatever it holds.
        {"PU;\nPD;\nPA1,1;\n", 100, 0, 0, {50, 0, 6, 8, true}},
        {"PU;\nPD;\nPA1,1;\n", 100, 6, 8, {0, 0, 6, END, false}},
        {"PA1,1;\nPU", 100, 6, 0, {50, 0, 6, END, true}},
        {"PU;\n", 100, 0, 0, {50, 0, 6, END, true}},
        {"PU;\n\nPA1,1;\n", 100, 0, 0, {50, 0, 6, 5, true}},
        // At the end of the file the next offset is the file length, even from past it.
        {"PD;\n", 100, 7, 100, {0, 0, 7, END, false}},
        {"PD;\nPA1,1;\n", 100, 7, 4, {51, 1, 7, END, true}},
        // Every terminator.
        {std::string("PU;\r\nPA100,200;\rPD;\0PA1,1;", 27), 100, 0, 0, {150, 200, 6, 16, true}},
        {std::string("PU;\r\nPA100,200;\rPD;\0PA1,1;", 27), 100, 6, 16, {51, 1, 7, END, true}},
        // Single precision: X rounded to float before X / divisor + 50.
        {"PA16777217,0;\n", 100, 7, 0, {16777266, 0, 7, END, true}},
        {"PA0.99999999,0.99999999;\n", 100, 7, 0, {51, 1, 7, END, true}},
        // Overflow saturates; a number beyond the float range gives 0, not 50.
        {"PA3e38,-3e38;\n", 100, 7, 0, {INT32_MAX, INT32_MIN, 7, END, true}},
        {"PA1e39,1e39;\n", 100, 7, 0, {0, 0, 7, END, true}},
        {"PA1234567890123456789012345678901234567890,1;\n", 100, 7, 0, {0, 1, 7, END, true}},
    };
    JobFileFolder folder;
    for (const Case& c : cases) {
        const std::string file = folder.write("job.plt", c.text);
        Point expected = c.expected;
        if (expected.next == END) expected.next = static_cast<std::int32_t>(c.text.size());
        EXPECT_EQ(fetch(file, c.scale, c.pen, c.position), expected)
            << testing::PrintToString(c.text) << " scale " << c.scale << " pen " << c.pen
            << " from " << c.position;
    }
}

// A whole run of fetches, each from the offset and pen state of the one before.
TEST(FetchPlotStep, RunCarriesThePenState) {
    JobFileFolder folder;
    const std::string text =
        "IN;\nSP1;\nPU;\nPA0,0;\nPD;\nPA10,0;\nPA10,10;\nPU;\nPA5,5;\nPD;\nPA6,6;\nPU;\nPA0,0;\n";
    const std::string file = folder.write("run.plt", text);
    const auto after = [&](const std::string& line, std::size_t from = 0) {
        return static_cast<std::int32_t>(text.find(line, from) + line.size());
    };
    const std::vector<Point> expected = {
        {50, 0, 6, after("PA0,0;\n"), true},
        {60, 0, 7, after("PA10,0;\n"), true},
        {60, 10, 7, after("PA10,10;\n"), true},
        {55, 5, 6, after("PA5,5;\n"), true},
        {56, 6, 7, after("PA6,6;\n"), true},
        {50, 0, 6, static_cast<std::int32_t>(text.size()), true},
    };
    std::vector<Point> run;
    std::int32_t pen = 0;
    std::int32_t position = 0;
    while (position != static_cast<std::int32_t>(text.size()) && run.size() < 20) {
        const Point p = fetch(file, 100, pen, position);
        run.push_back(p);
        pen = p.pen;
        position = p.next;
    }
    EXPECT_EQ(run, expected);
}

TEST(ScanPlotPreview, ReportsPenDownSegmentsInPixels) {
    struct Case {
        std::string text;
        std::int32_t scale;
        std::vector<Segment> segments;
    };
    const std::vector<Case> cases = {
        {"PU;\nPA400,200;\n", 61, {}},
        {"PU;\nPA0,0;\nPD;\nPA400,200;\nPA800,200;\n", 61, {{70, 5, 60, 5}}},
        {"PD;\nPA10.5,20.5;\nPA0,0;\n", 100, {{50, 0, 60, 20}}},
        {"PD;\nPA-40,0;\nPA-20,0;\n", 61, {{50, 0, 49, 0}}},
        {"PD;\nPA100,200;\nPA300,400;\n", 91, {{80, 40, 60, 20}}},
        {"PD;\nPA100,200;\nPA300,400;\n", 1, {{53, 4, 51, 2}}},
        {"PU;\nPA0,0;\nPD;\nPA10,0;\nPA10,10;\nPA0,10;\nPU;\nPA5,5;\n",
         100,
         {{60, 10, 60, 0}, {50, 10, 60, 10}}},
        // Capital pen lines only; a lower-case "pa" stays in the X text and reads as 0.
        {"pd;\npa1,1;\npa2,2;\n", 100, {}},
        {"PD;\npa1,1;\nPA2,2;\n", 100, {{52, 2, 50, 1}}},
        {" PD;\nPA1,1;\nPA2,2;\n", 100, {}},
        // A stroke of one point draws nothing; a "PD" under pen down starts a new stroke.
        {"PD;\nPA1,1;\nPU;\nPA2,2;\n", 100, {}},
        {"PD;\nPD;\nPA1,1;\nPA2,2;\n", 100, {{52, 2, 51, 1}}},
        {"PD;\nPA1,1;\nPAPD;\nPA2,2;\nPA3,3;\n", 100, {{50, 0, 51, 1}, {53, 3, 52, 2}}},
        {"PD;\nPA 400 , 200;\nPA1;2;3\nPA1e3,9.9;\n", 100, {{51, 2, 450, 200}, {51, 9, 51, 2}}},
        {"PD;\nPA99999999999999999999999,-99999999999999999999999;\nPA0,0;\n",
         100,
         {{50, 0, INT32_MAX, INT32_MIN}}},
        {"PD;\nPA2147483598,0;\nPA2147483597,0;\n", 100, {{INT32_MAX, 0, INT32_MAX, 0}}},
        {std::string("PD;\r\nPA1,1;\rPA2,2;\0PA3,3;", 26), 100, {{52, 2, 51, 1}, {53, 3, 52, 2}}},
        {"", 100, {}},
        {"IN;\nSP1;\nPA1,1;\nPA2,2;\n", 100, {}},
    };
    JobFileFolder folder;
    for (const Case& c : cases) {
        const std::string file = folder.write("job.plt", c.text);
        EXPECT_EQ(scan(file, c.scale), c.segments) << testing::PrintToString(c.text);
    }
}

// The CR of "PU" CR LF is the last byte of the first read: the LF still belongs to it, so the
// travel point is the line after, not an empty line.
TEST(PlotReaders, CrLfSplitAcrossTheReadBuffer) {
    JobFileFolder folder;
    const std::size_t cr = LineReader::FIRST_READ_BYTES - 1;
    const std::string setup = "IN;" + std::string(cr - 3 - 3, ' ') + "\n";
    const std::string text = setup + "PU\r\nPA400,200;\n";
    ASSERT_EQ(text[cr], '\r');
    const std::string file = folder.write("split.plt", text);
    EXPECT_EQ(fetch(file, 61, 0, 0),
              (Point{60, 5, 6, static_cast<std::int32_t>(text.size()), true}));
}

TEST(PlotReaders, FileThatCannotBeReadReadsAsEmpty) {
    JobFileFolder folder;
    for (const std::string& file :
         {folder.path("missing.plt"), folder.path(""), folder.fifo("pipe.plt")}) {
        const PlotStep s = fetch_plot_step(file, 100, 7, 9);
        EXPECT_FALSE(s.readable) << file;
        EXPECT_FALSE(s.found) << file;
        EXPECT_EQ(s.next_position, 9) << file;
        EXPECT_EQ(s.pen_state, 7) << file;
        bool reported = false;
        EXPECT_EQ(scan_plot_preview(file, 100, [&](auto...) { reported = true; }), 0) << file;
        EXPECT_FALSE(reported) << file;
    }
}

}  // namespace
