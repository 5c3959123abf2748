// Tests of the drilling file readers: the fetch of the next hole and the preview scan.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "job_file_folder.h"
#include "jobs/drill_file.h"
#include "jobs/line_reader.h"

namespace {

constexpr std::int32_t END = -1;  // stands for the file length in the tables below

struct Hole {
    std::int32_t x, y;
    bool operator==(const Hole&) const = default;
};
void PrintTo(const Hole& h, std::ostream* os) {
    *os << "(" << h.x << ", " << h.y << ")";
}

std::vector<Hole> scan(const std::string& file, std::int32_t scale,
                       std::int32_t* length = nullptr) {
    std::vector<Hole> holes;
    const std::int32_t n = scan_drill_preview(file, scale, [&](std::int32_t x, std::int32_t y) {
        holes.push_back({x, y});
    });
    if (length != nullptr) *length = n;
    return holes;
}

TEST(FetchDrillPoint, ReadsTheNextHole) {
    struct Case {
        std::string text;
        std::int32_t scale, position;
        std::int32_t x, y, next;
        bool found;
    };
    const std::vector<Case> cases = {
        // Scales: millimetres, tenths, hundredths, and a divisor that leaves a fraction.
        {"X100Y200\n", 100, 0, 100, 200, END, true},
        {"X100Y200\n", 91, 0, 10, 20, END, true},
        {"X100Y200\n", 1, 0, 1, 2, END, true},
        {"X100Y200\n", 61, 0, 2, 5, END, true},
        {"X12.7Y3.9\n", 100, 0, 12, 3, END, true},
        {"X0127Y1e2\n", 100, 0, 127, 100, END, true},
        {"X-5Y10\n", 100, 0, -5, 10, END, true},
        {"X-0.5Y-1.9\n", 100, 0, 0, -1, END, true},
        {"x100y200\n", 100, 0, 100, 200, END, true},
        {"X100\nX1Y1\n", 100, 0, 100, 0, 5, true},
        {"XY5\n", 100, 0, 0, 5, END, true},
        {"X 7Y\t8\n", 100, 0, 7, 8, END, true},
        // X is the text before the first Y with its X letters removed; Y runs to the next Y.
        {"X1X2Y3\n", 100, 0, 12, 3, END, true},
        {"X1,5Y3\n", 100, 0, 1, 3, END, true},
        {"X1Y2Y3\n", 100, 0, 1, 2, END, true},
        {"X1YX3\n", 100, 0, 1, 0, END, true},
        {"X12ABY34CD\n", 100, 0, 12, 34, END, true},
        // Lines that are not hole lines, and no "M30": nothing, the offset unchanged.
        {" X100Y200\nY200X100\nT1\n%\n\n", 100, 0, 0, 0, 0, false},
        {"%\nT1C0.8\nT1\nX1Y2\nM30\n", 100, 0, 1, 2, 17, true},
        {"%\nT1C0.8\nT1\nX1Y2\nM30\n", 100, 17, 0, 0, END, false},
        // "M30" ends the job only when no hole line follows it.
        {"X1Y1\nM30\nX2Y2\nT1\n", 100, 5, 2, 2, 14, true},
        {"X1Y1\nM30\nX2Y2\nT1\n", 100, 14, 0, 0, 14, false},
        {"X1\nm30\nT1\n", 100, 3, 0, 0, END, false},
        {"", 100, 0, 0, 0, 0, false},
        {"T1\nX5Y6", 100, 0, 5, 6, END, true},
        {"X1\n", 100, 100, 0, 0, 100, false},    // past the end
        {"X12Y3\nX4\n", 100, 1, 4, 0, 9, true},  // from inside a line: its rest is a line
        // Every terminator; offsets just past each.
        {std::string("X1Y2\r\nX3Y4\rX5Y6\0X7Y8", 21), 100, 0, 1, 2, 6, true},
        {std::string("X1Y2\r\nX3Y4\rX5Y6\0X7Y8", 21), 100, 6, 3, 4, 11, true},
        {std::string("X1Y2\r\nX3Y4\rX5Y6\0X7Y8", 21), 100, 11, 5, 6, 16, true},
        {std::string("X1Y2\r\nX3Y4\rX5Y6\0X7Y8", 21), 100, 16, 7, 8, END, true},
        // Single precision: the number, then the quotient, each rounded to float.
        {"X16777217\n", 100, 0, 16777216, 0, END, true},
        {"X0.99999999\n", 100, 0, 1, 0, END, true},
        {"X18879218\n", 92, 0, 2097691, 0, END, true},
        // Overflow saturates; a number beyond the float range gives 0.
        {"X3e38Y-3e38\n", 100, 0, INT32_MAX, INT32_MIN, END, true},
        {"X1e400Y5\n", 100, 0, 0, 5, END, true},
        {"X1234567890123456789012345678901234567890Y1\n", 100, 0, 0, 1, END, true},
        {"X2147483648Y-2147483904\n", 100, 0, INT32_MAX, INT32_MIN, END, true},
    };
    JobFileFolder folder;
    for (const Case& c : cases) {
        const std::string file = folder.write("job.drl", c.text);
        const DrillPoint p = fetch_drill_point(file, c.scale, c.position);
        const std::int32_t next = c.next == END ? static_cast<std::int32_t>(c.text.size()) : c.next;
        SCOPED_TRACE(testing::PrintToString(c.text) + " scale " + std::to_string(c.scale) +
                     " from " + std::to_string(c.position));
        EXPECT_EQ(p.x_mm, c.x);
        EXPECT_EQ(p.y_mm, c.y);
        EXPECT_EQ(p.next_position, next);
        EXPECT_EQ(p.found, c.found);
        EXPECT_TRUE(p.readable);
    }
}

TEST(ScanDrillPreview, ReportsCapitalHoleLinesInPixels) {
    struct Case {
        std::string text;
        std::int32_t scale;
        std::vector<Hole> holes;
    };
    const std::vector<Case> cases = {
        {"X100Y200\n", 100, {{100, 200}}},
        {"X100Y200\n", 91, {{10, 20}}},
        {"X100Y200\n", 1, {{1, 2}}},
        {"X100Y200\n", 61, {{2, 5}}},
        {"X12.7Y3.9", 100, {{12, 3}}},
        {"X-5Y10\nX-0.5Y10\nX-199Y0\n", 91, {{0, 1}, {0, 1}, {-19, 0}}},
        {"x100y200\n X1Y1\nY200X100\nT1\n", 100, {}},
        {"X100\nX 7Y\t8\nXY\n", 100, {{100, 0}, {7, 8}, {0, 0}}},
        {"%\nT1\nX1Y1\nM30\nX2Y2\n", 100, {{1, 1}, {2, 2}}},
        {"", 100, {}},
        // Every X removed, every Y and "," separates: X1,5Y3 and X1YX3 read unlike the fetch.
        {"X1,5Y3\nX1X2Y3\nX1YX3\nX1e400Y5\nX12.9Y+4\n",
         100,
         {{1, 5}, {12, 3}, {1, 3}, {1, 5}, {12, 4}}},
        {std::string("X1Y2\r\nX3Y4\rX5Y6\0X7Y8", 21), 100, {{1, 2}, {3, 4}, {5, 6}, {7, 8}}},
        {"X16777217\n", 100, {{16777217, 0}}},
        {"X1234567890123456789012345678901234567890Y-1234567890123456789012345678901234567890\n",
         1,
         {{INT32_MAX, INT32_MIN}}},
        {"X2147483648Y-2147483649\n", 100, {{INT32_MAX, INT32_MIN}}},
    };
    JobFileFolder folder;
    for (const Case& c : cases) {
        const std::string file = folder.write("job.drl", c.text);
        std::int32_t length = -1;
        EXPECT_EQ(scan(file, c.scale, &length), c.holes) << testing::PrintToString(c.text);
        EXPECT_EQ(length, static_cast<std::int32_t>(c.text.size()));
    }
}

TEST(DrillReaders, FileThatCannotBeReadReadsAsEmpty) {
    JobFileFolder folder;
    for (const std::string& file :
         {folder.path("missing.drl"), folder.path(""), folder.fifo("pipe.drl")}) {
        const DrillPoint p = fetch_drill_point(file, 100, 7);
        EXPECT_FALSE(p.readable) << file;
        EXPECT_FALSE(p.found) << file;
        EXPECT_EQ(p.next_position, 7) << file;
        EXPECT_EQ(std::make_pair(p.x_mm, p.y_mm), std::make_pair(0, 0)) << file;
        std::int32_t length = -1;
        EXPECT_TRUE(scan(file, 100, &length).empty()) << file;
        EXPECT_EQ(length, 0) << file;
    }
}

}  // namespace
