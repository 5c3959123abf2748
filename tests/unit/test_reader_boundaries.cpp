// test_reader_boundaries.cpp - where lines meet the reading buffer, once for both job-file
// readers: a line far longer than the examined part, and a CR LF split across the first read.
// The fetches, checked against what the scan recorded as in a run, must keep exact offsets and
// the scans must see the same points.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "job_file_folder.h"
#include "jobs/drill_file.h"
#include "jobs/line_reader.h"
#include "jobs/plot_file.h"

namespace {

struct Fetched {
    std::int32_t x, y, next;
    bool operator==(const Fetched&) const = default;
};
void PrintTo(const Fetched& f, std::ostream* os) {
    *os << "(" << f.x << ", " << f.y << ") next " << f.next;
}

using Points = std::vector<std::pair<std::int32_t, std::int32_t>>;

// One reader as the test sees it: its point lines, what comes before the first one, and its
// fetch (carrying the pen state) and scan (the points of the job in file order).
struct Reader {
    const char* name;
    const char* file_name;
    std::string head;
    std::string (*line)(int x, int y);
    std::int32_t x_offset;
    Fetched (*fetch)(const std::string& file, std::int32_t position, std::int32_t& pen,
                     const FileFingerprint* record);
    Points (*scan)(const std::string& file, FileFingerprint* record);
};

const Reader READERS[] = {
    {"drilling", "job.drl", "",
     [](int x, int y) { return "X" + std::to_string(x) + "Y" + std::to_string(y); }, 0,
     [](const std::string& file, std::int32_t position, std::int32_t&,
        const FileFingerprint* record) {
         const DrillPoint p = fetch_drill_point(file, 100, position, record);
         EXPECT_TRUE(p.readable);
         return Fetched{p.x_mm, p.y_mm, p.next_position};
     },
     [](const std::string& file, FileFingerprint* record) {
         Points points;
         scan_drill_preview(
             file, 100, [&](std::int32_t x, std::int32_t y) { points.emplace_back(x, y); }, record);
         return points;
     }},
    {"milling", "job.plt", "PD;\n",
     [](int x, int y) { return "PA" + std::to_string(x) + "," + std::to_string(y) + ";"; }, 50,
     [](const std::string& file, std::int32_t position, std::int32_t& pen,
        const FileFingerprint* record) {
         const PlotStep s = fetch_plot_step(file, 100, pen, position, record);
         EXPECT_TRUE(s.readable);
         pen = s.pen_state;
         return Fetched{s.x_mm, s.y_mm, s.next_position};
     },
     [](const std::string& file, FileFingerprint* record) {
         // A stroke's points: the first segment's previous point, then each point just read.
         Points points;
         scan_plot_preview(
             file, 100,
             [&](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
                 if (points.empty()) points.emplace_back(x2, y2);
                 points.emplace_back(x1, y1);
             },
             record);
         return points;
     }},
};

TEST(JobReaders, LineBoundaries) {
    struct Case {
        const char* name;
        // The file's text around its two point lines, and the offset just past the first one.
        std::string (*text)(const Reader& r, std::size_t& first_end);
    };
    const Case cases[] = {
        {"a point line of 100 KB: its head is read, the rest skipped",
         [](const Reader& r, std::size_t& first_end) {
             const std::string text = r.head + r.line(7, 8) + std::string(100'000, ' ') + "\r\n";
             first_end = text.size();
             return text + r.line(1, 1) + "\n";
         }},
        {"a CR LF whose CR is the last byte of the first read",
         [](const Reader& r, std::size_t& first_end) {
             const std::size_t cr = LineReader::FIRST_READ_BYTES - 1;
             const std::string first = r.head + r.line(7, 8);
             const std::string text = std::string(cr - first.size(), '\n') + first + "\r\n";
             EXPECT_EQ(text[cr], '\r');
             first_end = text.size();
             return text + r.line(1, 1) + "\n";
         }},
    };
    for (const Reader& r : READERS) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(r.name) + ": " + c.name);
            JobFileFolder folder;
            std::size_t first_end = 0;
            const std::string text = c.text(r, first_end);
            const std::string file = folder.write(r.file_name, text);
            FileFingerprint record;
            EXPECT_EQ(r.scan(file, &record), (Points{{7 + r.x_offset, 8}, {1 + r.x_offset, 1}}));
            std::int32_t pen = 0;
            const Fetched a = r.fetch(file, 0, pen, &record);
            EXPECT_EQ(a, (Fetched{7 + r.x_offset, 8, static_cast<std::int32_t>(first_end)}));
            const Fetched b = r.fetch(file, a.next, pen, &record);
            EXPECT_EQ(b, (Fetched{1 + r.x_offset, 1, static_cast<std::int32_t>(text.size())}));
        }
    }
}

}  // namespace
