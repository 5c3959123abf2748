// test_readers.cpp - the Excellon and HP-GL readers on small files in the shapes that PCB
// CAD programs, plotter drivers and instruments export, each checked against the positions
// the file means in millimetres; and the files they must refuse.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "detect.h"
#include "excellon.h"
#include "hpgl.h"
#include "job_file_folder.h"
#include "prep_run.h"
#include "source.h"

namespace prep {
namespace {

using testing_support::data;

struct ExpectedHole {
    double x, y;
    std::int32_t tool;
};

std::vector<ExpectedHole> holes_of(const DrillJob& job) {
    std::vector<ExpectedHole> out;
    job.holes.each([&](std::size_t, const Point& p, std::int32_t tool) {
        out.push_back(ExpectedHole{p.x, p.y, tool});
    });
    return out;
}

struct DrillCase {
    const char* file;
    const char* format;  // --excellon-format, or nullptr
    std::vector<ExpectedHole> holes;
    std::vector<std::pair<std::int32_t, double>> tools;  // number, diameter in mm
};

constexpr double IN = 25.4;

// The holes of the fixtures in inch whose number format is left unstated: a DIP-8 and two
// mounting holes.
const std::vector<ExpectedHole> UNSTATED_INCH = {
    {1.0 * IN, 1.0 * IN, 1}, {1.1 * IN, 1.0 * IN, 1}, {1.2 * IN, 1.0 * IN, 1},
    {1.3 * IN, 1.0 * IN, 1}, {1.3 * IN, 1.3 * IN, 1}, {1.2 * IN, 1.3 * IN, 1},
    {1.1 * IN, 1.3 * IN, 1}, {1.0 * IN, 1.3 * IN, 1}, {0.5 * IN, 0.25 * IN, 2},
    {2.5 * IN, 0.25 * IN, 2}};

void PrintTo(const DrillCase& c, std::ostream* os) {
    *os << c.file;
}

class DrillDialect : public testing::TestWithParam<DrillCase> {};

TEST_P(DrillDialect, HolesLandWhereTheFileMeans) {
    const DrillCase& c = GetParam();
    std::optional<ExcellonFormat> format;
    if (c.format) format = parse_excellon_format(c.format);
    const DrillJob job = read_excellon(data(c.file), format);
    const std::vector<ExpectedHole> got = holes_of(job);
    ASSERT_EQ(got.size(), c.holes.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, c.holes[i].x, 1e-9) << "hole " << i;
        EXPECT_NEAR(got[i].y, c.holes[i].y, 1e-9) << "hole " << i;
        EXPECT_EQ(got[i].tool, c.holes[i].tool) << "hole " << i;
    }
    for (const auto& [number, diameter] : c.tools) {
        ASSERT_TRUE(job.tools.contains(number)) << "T" << number;
        EXPECT_NEAR(job.tools.at(number).diameter_mm, diameter, 1e-9) << "T" << number;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, DrillDialect,
    testing::Values(
        // Decimal millimetres; a routed oval (G00/M15/G01/M16) and a G85 slot become rows of
        // holes no farther apart than the 1 mm tool, both ends included.
        DrillCase{"kicad7_decimal.drl",
                  nullptr,
                  {{120.65, -80.01, 1},
                   {123.19, -80.01, 1},
                   {130, -90, 2},
                   {135, -90, 2},
                   {136, -90, 2},
                   {137, -90, 2},
                   {140, -90, 2},
                   {141, -90, 2},
                   {142, -90, 2}},
                  {{1, 0.4}, {2, 1.0}}},
        // 3:3 with leading zeros left out, stated only in the FORMAT comment and METRIC,TZ.
        DrillCase{"kicad5_suppress_leading.drl",
                  nullptr,
                  {{120.65, -80.01, 1}, {0.005, -3.5, 1}},
                  {{1, 0.8}}},
        // METRIC,TZ,000.000 and modal coordinates: a line with only Y or only X.
        DrillCase{"eagle9_metric.xln",
                  nullptr,
                  {{32.1, 3.74, 1}, {32.1, 5.0, 1}, {4.572, 5.0, 1}, {135.128, 58.928, 2}},
                  {{1, 0.8}, {2, 1.0}}},
        // Inches (M72) with a format the file does not state, given on the command line.
        DrillCase{
            "legacy_inch_unstated.drd",
            "INCH,TZ,2:4",
            {{0.295 * IN, 0.12 * IN, 1}, {0.305 * IN, 0.12 * IN, 1}, {1.0 * IN, -0.05 * IN, 2}},
            {{1, 0.032 * IN}, {2, 0.04 * IN}}},
        // METRIC,LZ,000.000: short numbers are padded on the right; decimals mixed in.
        DrillCase{"easyeda_lz.drl",
                  nullptr,
                  {{12.345, 23.456, 1}, {12.5, -4.5, 1}, {45.5, 30.25, 2}},
                  {{1, 0.305}, {2, 0.9}}},
        // ;FILE_FORMAT=2:4 and INCH without zeros: the generator's habit (leading zeros kept).
        DrillCase{"altium_inch.txt",
                  nullptr,
                  {{1.2345 * IN, 0.456 * IN, 1}, {1.0 * IN, 0.45 * IN, 1}, {2.0 * IN, 1.0 * IN, 2}},
                  {{1, 0.028 * IN}, {2, 0.0394 * IN}}},
        // INCH,TZ 2:4, explicit signs, tools defined in the body, CR LF line ends.
        DrillCase{"protel_inch_tz.drl",
                  nullptr,
                  {{1.5 * IN, 0.25 * IN, 1},
                   {-0.25 * IN, 0.25 * IN, 1},
                   {-0.25 * IN, 1.0 * IN, 2},
                   {0, 0, 1}},
                  {{1, 0.035 * IN}, {2, 0.04 * IN}}},
        // FMAT,1, M71, G91 incremental moves (modal too), back to G90.
        DrillCase{"incremental_fmat1.drl",
                  nullptr,
                  {{10, 10, 1}, {15, 10, 1}, {15, 7.5, 1}, {1, 1, 1}},
                  {{1, 1.0}}},
        // No M48 header, a tool defined where it is used, CR line ends.
        DrillCase{"no_header_cr.drl", nullptr, {{1.5, 2.5, 3}, {3.0, 4.0, 3}}, {{3, 2.0}}},
        // Rows of pads as repeat codes: each step from the hole before, Y left as it was.
        DrillCase{"repeat_rows.drl",
                  nullptr,
                  {{1.0 * IN, 1.0 * IN, 1},
                   {1.1 * IN, 1.0 * IN, 1},
                   {1.2 * IN, 1.0 * IN, 1},
                   {1.3 * IN, 1.0 * IN, 1},
                   {1.4 * IN, 1.0 * IN, 1},
                   {1.5 * IN, 1.0 * IN, 1},
                   {1.6 * IN, 1.0 * IN, 1},
                   {1.7 * IN, 1.0 * IN, 1},
                   {1.0 * IN, 1.3 * IN, 1},
                   {1.1 * IN, 1.3 * IN, 1},
                   {1.2 * IN, 1.3 * IN, 1},
                   {1.3 * IN, 1.3 * IN, 1},
                   {1.4 * IN, 1.3 * IN, 1},
                   {1.5 * IN, 1.3 * IN, 1},
                   {1.6 * IN, 1.3 * IN, 1},
                   {1.7 * IN, 1.3 * IN, 1}},
                  {{1, 0.04 * IN}}},
        // A route file: a feed line, tools with no size (the route drilled at its corners).
        DrillCase{"route_feed.rou",
                  nullptr,
                  {{0.5 * IN, 0.5 * IN, 1},
                   {2.5 * IN, 0.5 * IN, 1},
                   {2.5 * IN, 2.0 * IN, 1},
                   {1.0 * IN, 1.0 * IN, 2}},
                  {{1, 0}, {2, 0}}},
        // Inch numbers whose digits and zeros the file never states: inferred as 2:4, TZ.
        DrillCase{"unstated_inch.drl", nullptr, UNSTATED_INCH, {{1, 0.032 * IN}}},
        // The digits from a generator's comment; its "Leading" read by what the digits show.
        DrillCase{"comment_format_2.4.drl", nullptr, UNSTATED_INCH, {{2, 0.04 * IN}}},
        // Millimetres, digits unstated: 3:3 and 4:2 both land on the grid, but only 3:3 puts
        // the pads 2.54 mm apart rather than 25.4.
        DrillCase{"unstated_mm_pads.drl",
                  nullptr,
                  {{10, 10, 1},
                   {12.54, 10, 1},
                   {15.08, 10, 1},
                   {17.62, 10, 1},
                   {17.62, 17.62, 1},
                   {15.08, 17.62, 1}},
                  {}},
        // A malformed FILE_FORMAT comment beside a good one.
        DrillCase{"two_file_format_comments.drl", nullptr, {{12.54, 2.54, 1}, {15, 2.54, 1}}, {}}),
    [](const testing::TestParamInfo<DrillCase>& param) {
        std::string name = param.param.file;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return name;
    });

bool relied_on(const std::vector<std::string>& relied, const std::string& start) {
    for (const std::string& r : relied) {
        if (r.starts_with(start)) return true;
    }
    return false;
}

TEST(DrillReader, RecordsWhatItReliedOn) {
    const DrillJob eagle = read_excellon(data("eagle9_metric.xln"), std::nullopt);
    EXPECT_TRUE(relied_on(eagle.relied, "METRIC,TZ,000.000 (line 6): millimetres"));
    EXPECT_TRUE(relied_on(eagle.relied, "METRIC,TZ,000.000 (line 6): 3:3 digits"));
    EXPECT_NE(eagle.dialect.find("Eagle"), std::string::npos);
    const DrillJob altium = read_excellon(data("altium_inch.txt"), std::nullopt);
    EXPECT_TRUE(relied_on(altium.relied, "Altium default (named on line 2): leading zeros kept"));
    EXPECT_TRUE(relied_on(altium.relied, ";FILE_FORMAT=2:4 (line 3): 2:4 digits"));
}

TEST(DrillReader, InferredFormatIsReportedWithWhyAndTheRunnerUp) {
    const DrillJob job = read_excellon(data("unstated_inch.drl"), std::nullopt);
    EXPECT_TRUE(relied_on(job.relied, "number format inferred: INCH,TZ,2:4, board 50.8 x 26.7 mm"))
        << testing::PrintToString(job.relied);
    const std::string& last = job.relied.back();
    EXPECT_NE(last.find("trailing zeros kept"), std::string::npos) << last;
    // Ten times larger is 508 mm across; the first runner-up tried is 2:3.
    EXPECT_NE(last.find("runner-up INCH,TZ,2:3 (board 508.0 x 266.7 mm"), std::string::npos)
        << last;
    EXPECT_TRUE(job.notes.empty());

    const DrillJob commented = read_excellon(data("comment_format_2.4.drl"), std::nullopt);
    EXPECT_NE(commented.relied.back().find("digits from the comment ;DRILL FILE  Format 2.4"),
              std::string::npos)
        << commented.relied.back();
    ASSERT_EQ(commented.notes.size(), 1u);
    EXPECT_NE(commented.notes[0].find("taken from what the digits show"), std::string::npos);

    const DrillJob two = read_excellon(data("two_file_format_comments.drl"), std::nullopt);
    ASSERT_EQ(two.notes.size(), 1u);
    EXPECT_NE(two.notes[0].find(";FILE_FORMAT=2;4 (line 2) cannot be read"), std::string::npos)
        << two.notes[0];
}

// When two formats make equally plausible boards the reader asks, listing them with their
// board sizes: four mounting holes 30 x 20 mm apart, or 300 x 200 mm.
TEST(DrillReader, CandidatesTooCloseAreListed) {
    try {
        read_excellon(data("mounting_holes_unstated.drl"), std::nullopt);
        FAIL() << "read without complaint";
    } catch (const PrepError& e) {
        const std::string text = e.what();
        for (const char* words :
             {"does not state its digits", "more than one format makes a plausible board",
              "METRIC,TZ,3:3 (board 30.0 x 20.0 mm", "METRIC,TZ,4:2 (board 300.0 x 200.0 mm",
              "--excellon-format"}) {
            EXPECT_NE(text.find(words), std::string::npos) << words << "\n" << text;
        }
    }
}

TEST(DrillReader, GeneratorDefaultFillsAnUnstatedFormat) {
    JobFileFolder folder;
    const std::string file =
        folder.write("eagle.drd",
                     "%\nM48\n;Excellon drill data written by EAGLE 6.5\nM72\nT01C0.0320\n%\nT01\n"
                     "X2950Y1200\nM30\n");
    const DrillJob job = read_excellon(file, std::nullopt);
    const auto holes = holes_of(job);
    ASSERT_EQ(holes.size(), 1u);
    EXPECT_NEAR(holes[0].x, 0.295 * IN, 1e-9);
    EXPECT_NEAR(holes[0].y, 0.12 * IN, 1e-9);
    EXPECT_NEAR(job.tools.at(1).diameter_mm, 0.032 * IN, 1e-9);
}

// A tool defined before the file says its units takes them when they come: inches here.
TEST(DrillReader, ToolSizeBeforeTheUnitsTakesThemLater) {
    JobFileFolder folder;
    for (const std::string units : {"INCH", "M72"}) {
        SCOPED_TRACE(units);
        const DrillJob job = read_excellon(
            folder.write("late.drl", "M48\nT01C0.0320\nT02C0.0400\n" + units +
                                         "\n%\nT01\nX0.295Y0.12\nT02\nX0.305Y0.12\nM30\n"),
            std::nullopt);
        EXPECT_NEAR(job.tools.at(1).diameter_mm, 0.032 * IN, 1e-9);
        EXPECT_NEAR(job.tools.at(2).diameter_mm, 0.04 * IN, 1e-9);
        EXPECT_NEAR(holes_of(job).at(1).x, 0.305 * IN, 1e-9);
    }
}

TEST(Readers, ByteOrderMarkIsSkipped) {
    JobFileFolder folder;
    const auto drill = holes_of(read_excellon(
        folder.write("bom.drl", "\xef\xbb\xbfM48\nMETRIC\n%\nX1.5Y2.5\nM30\n"), std::nullopt));
    ASSERT_EQ(drill.size(), 1u);
    EXPECT_NEAR(drill[0].x, 1.5, 1e-9);
    const PlotJob plot = read_hpgl(folder.write("bom.plt", "\xef\xbb\xbfIN;PD40,0;"), 0.025);
    EXPECT_EQ(plot.points.size(), 2u);
}

TEST(DrillReader, GivenFormatOverridesTheFile) {
    JobFileFolder folder;
    const std::string file = folder.write("f.drl", "M48\nMETRIC,LZ,000.000\n%\nX012Y034\nM30\n");
    const auto as_file = holes_of(read_excellon(file, std::nullopt));
    ASSERT_EQ(as_file.size(), 1u);
    EXPECT_NEAR(as_file[0].x, 12.0, 1e-9);
    const auto as_given = holes_of(read_excellon(file, parse_excellon_format("INCH,TZ,2:4")));
    ASSERT_EQ(as_given.size(), 1u);
    EXPECT_NEAR(as_given[0].x, 0.0012 * IN, 1e-9);
    EXPECT_NEAR(as_given[0].y, 0.0034 * IN, 1e-9);
}

TEST(DrillReader, RoutedPathWithModalMovesAndSpacingBelowTheDiameter) {
    JobFileFolder folder;
    const std::string file = folder.write("r.drl",
                                          "M48\nMETRIC\nT1C0.8\n%\nT1\nG00X0Y0\nM15\nG01X2.0Y0\nX2."
                                          "0Y1.0\nM17\nG05\nX9.0Y9.0 ; the last hole\nM30\n");
    const DrillJob job = read_excellon(file, std::nullopt);
    const auto h = holes_of(job);
    // 2 mm at most 0.8 apart: 3 steps; 1 mm: 2 steps; then the drilled hole.
    const std::vector<std::pair<double, double>> want = {
        {0, 0}, {2.0 / 3, 0}, {4.0 / 3, 0}, {2, 0}, {2, 0.5}, {2, 1}, {9, 9}};
    ASSERT_EQ(h.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(h[i].x, want[i].first, 1e-9);
        EXPECT_NEAR(h[i].y, want[i].second, 1e-9);
    }
    EXPECT_EQ(job.routed_paths, 1);
    EXPECT_EQ(job.path_holes, 6);
}

// Files the drill reader refuses, each with the words its message must hold.
struct Refusal {
    const char* name;
    const char* bytes;
    const char* message;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class DrillRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(DrillRefusal, ClearMessage) {
    JobFileFolder folder;
    const std::string file = folder.write("in.drl", GetParam().bytes);
    try {
        read_excellon(file, std::nullopt);
        FAIL() << "read without complaint";
    } catch (const PrepError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bad, DrillRefusal,
    testing::Values(
        Refusal{"NoUnits", "M48\nT1C0.8\n%\nX1.0Y1.0\nM30\n", "--excellon-format"},
        Refusal{"NoDigits", "M48\nMETRIC,TZ\n%\nX1000Y1000\nM30\n", "--excellon-format"},
        Refusal{"NoZerosShortNumber", "M48\n;FILE_FORMAT=3:3\nMETRIC\n%\nX1234Y12345\nM30\n",
                "which zeros"},
        Refusal{"Truncated", "M48\nMETRIC\n%\nX1.0Y1.0\nX2.0Y2.5", "truncated"},
        Refusal{"EmptyCoordinate", "M48\nMETRIC\n%\nX1.0Y\nM30\n",
                "line 4: cannot read the coordinate"},
        Refusal{"NoHoles", "M48\nMETRIC\n%\nM30\n", "no holes"},
        Refusal{"UnknownCommand", "M48\nMETRIC\n%\nX1.0Y1.0\nQ12\nM30\n",
                "line 5: unknown command 'Q12'"},
        Refusal{"CircularRouting", "M48\nMETRIC\nT1C1\n%\nT1\nG00X0Y0\nM15\nG02X2Y0A1\nM30\n",
                "G02"},
        Refusal{"RepeatWithoutStep", "M48\nMETRIC\n%\nX1.0Y1.0\nR3\nM30\n", "without a step"},
        Refusal{"RepeatOfTooMany", "M48\nMETRIC\n%\nX1.0Y1.0\nR2000000000X1.0\nM30\n",
                "more than 10000000 points"},
        Refusal{"Binary", "M48\nMETRIC\n%\nX1.0Y1\x01.0\nM30\n", "binary"},
        Refusal{"OutOfRange", "M48\nMETRIC\n%\nX99999999.0Y1.0\nM30\n", "out of range"}),
    [](const testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST(DrillReader, LineLongerThanTheLimitStopsWithoutReadingItAll) {
    JobFileFolder folder;
    std::string text = "M48\nMETRIC\n%\nX";
    text.append(10'000'000, '1');
    text += "Y1\nM30\n";
    const std::string file = folder.write("long.drl", text);
    try {
        read_excellon(file, std::nullopt);
        FAIL();
    } catch (const PrepError& e) {
        EXPECT_NE(std::string(e.what()).find("line 4: line longer than 4096 bytes"),
                  std::string::npos)
            << e.what();
    }
}

// A 1 GB line, made sparse: the reader stops at its start, in bounded time and memory.
TEST(Readers, GigabyteLineIsRefusedAtOnce) {
    JobFileFolder folder;
    for (const char* head : {"M48\nMETRIC\n%\nX", "IN;PA"}) {
        const std::string file = folder.path("big");
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << head;
        }
        ASSERT_EQ(::truncate(file.c_str(), 1LL << 30), 0);
        // A drill file is refused on its head; HP-GL, which may hold any byte in a label, by
        // its reader at the first NUL.
        const std::string h = read_head(file, 1 << 16);
        if (head[0] == 'M') {
            EXPECT_THROW(detect_kind(h, file), PrepError);
        }
        EXPECT_THROW(read_excellon(file, std::nullopt), PrepError);
        EXPECT_THROW(read_hpgl(file, 0.025), PrepError);
    }
}

// --- HP-GL --------------------------------------------------------------------------------

using Stroke = std::vector<Point>;

std::vector<Stroke> strokes_of(const PlotJob& job) {
    std::vector<Stroke> out;
    for (std::size_t s = 0; s < job.stroke_count(); ++s) {
        out.emplace_back(job.points.begin() + job.starts[s],
                         job.points.begin() + static_cast<std::ptrdiff_t>(job.stroke_end(s)));
    }
    return out;
}

void expect_stroke(const Stroke& got, const Stroke& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, 1e-9) << "vertex " << i;
        EXPECT_NEAR(got[i].y, want[i].y, 1e-9) << "vertex " << i;
    }
}

TEST(HpglReader, ManyCommandsOnOneLine) {
    const auto s = strokes_of(read_hpgl(data("plotter_one_line.plt"), 0.025));
    ASSERT_EQ(s.size(), 2u);
    expect_stroke(s[0], {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
    expect_stroke(s[1], {{20, 0}, {30, 0}});
}

TEST(HpglReader, ListWrappedAfterACommaAndSignsAsSeparators) {
    JobFileFolder folder;
    const auto s = strokes_of(
        read_hpgl(folder.write("w.plt", "IN;PU0,0;PD400,0,\r\n400,400,\n-400-400;"), 0.025));
    ASSERT_EQ(s.size(), 1u);
    expect_stroke(s[0], {{0, 0}, {10, 0}, {10, 10}, {-10, -10}});
}

TEST(HpglReader, OneCommandPerLineRelativeMovesAndLowerCase) {
    const auto s = strokes_of(read_hpgl(data("vector_program.hpgl"), 0.025));
    ASSERT_EQ(s.size(), 2u);
    expect_stroke(s[0], {{0, 0}, {10, 0}, {10, 10}});
    expect_stroke(s[1], {{25, 25}, {25, 30}});
    // Another plotter unit scales everything.
    const auto hundredths = strokes_of(read_hpgl(data("vector_program.hpgl"), 0.01));
    expect_stroke(hundredths[1], {{10, 10}, {10, 12}});
}

// Every vertex on the circle, and every chord's middle within the tolerance of it.
void expect_on_arc(const Stroke& s, Point centre, double radius) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        EXPECT_NEAR(std::hypot(s[i].x - centre.x, s[i].y - centre.y), radius, 1e-9);
        if (i == 0) continue;
        const Point mid{(s[i].x + s[i - 1].x) / 2, (s[i].y + s[i - 1].y) / 2};
        EXPECT_LE(radius - std::hypot(mid.x - centre.x, mid.y - centre.y), ARC_TOLERANCE_MM);
    }
}

// After a circle the pen stands at its centre again, and after an arc at the arc's end: a
// relative move or arc that follows starts there.
TEST(HpglReader, RelativeMovesAfterACircleOrAnArcStartWhereThePenStands) {
    JobFileFolder folder;
    const auto circle = strokes_of(
        read_hpgl(folder.write("c.plt", "IN;PU2000,2000;CI200;PR400,0;PD;PR0,400;"), 0.025));
    ASSERT_EQ(circle.size(), 2u);
    expect_stroke(circle[1], {{60, 50}, {60, 60}});
    const auto arc = strokes_of(
        read_hpgl(folder.write("a.plt", "IN;PU2400,2000;PD;AA2000,2000,90;PR0,400;"), 0.025));
    ASSERT_EQ(arc.size(), 1u);
    EXPECT_NEAR(arc[0].back().x, 50, 1e-9);
    EXPECT_NEAR(arc[0].back().y, 70, 1e-9);
}

TEST(HpglReader, LabelsSkippedCommandsAndArcs) {
    const PlotJob job = read_hpgl(data("instrument.plt"), 0.025);
    const auto s = strokes_of(job);
    ASSERT_EQ(s.size(), 4u);
    // PM polygon moves are drawn as lines; PM, EP, FP themselves are skipped.
    expect_stroke(s[0], {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    // CI 5 mm about (50, 50): a closed polygon from (55, 50).
    ASSERT_GT(s[1].size(), 20u);
    EXPECT_NEAR(s[1].front().x, 55, 1e-9);
    EXPECT_NEAR(s[1].back().x, 55, 1e-9);
    EXPECT_NEAR(s[1].back().y, 50, 1e-9);
    expect_on_arc(s[1], {50, 50}, 5);
    // AA: a quarter turn anticlockwise about (50, 50) from (60, 50).
    EXPECT_NEAR(s[2].back().x, 50, 1e-9);
    EXPECT_NEAR(s[2].back().y, 60, 1e-9);
    expect_on_arc(s[2], {50, 50}, 10);
    // AR: the centre 10 mm above (25, 0), a quarter turn clockwise.
    EXPECT_NEAR(s[3].back().x, 15, 1e-9);
    EXPECT_NEAR(s[3].back().y, 10, 1e-9);
    expect_on_arc(s[3], {25, 10}, 10);

    EXPECT_EQ(job.labels, 2);
    EXPECT_EQ(job.arcs, 3);
    const std::map<std::string, std::int64_t> skipped = {{"DF", 1}, {"DT", 1}, {"EP", 1}, {"FP", 1},
                                                         {"IP", 1}, {"LT", 1}, {"PM", 2}, {"PT", 1},
                                                         {"RO", 1}, {"SC", 1}, {"VS", 1}};
    EXPECT_EQ(job.skipped, skipped);
    EXPECT_TRUE(hpgl_drawing_command("EP"));
    EXPECT_FALSE(hpgl_drawing_command("LT"));
}

// An engraver spooler's file: vendor escapes, IP and SC that the file sets in full (user
// units 0.5 mm across, 1 mm up, from P1 at 25 mm), a label holding control bytes, scaling
// turned off again, and NUL padding and an end-of-file mark after the last command.
TEST(HpglReader, EngraverEscapesScalingAndControlBytes) {
    const PlotJob job = read_hpgl(data("engraver_scaled.plt"), 0.025);
    const auto s = strokes_of(job);
    ASSERT_EQ(s.size(), 2u);
    expect_stroke(s[0], {{25, 25}, {75, 25}, {75, 75}});
    expect_stroke(s[1], {{10, 0}, {20, 0}});
    EXPECT_EQ(job.labels, 1);
    EXPECT_EQ(job.skipped.at("!PZ"), 1);
    EXPECT_EQ(job.skipped.at("!VS"), 1);
    EXPECT_TRUE(relied_on(job.relied, "SC 0,200,0,100 (byte 36): user units"));
    EXPECT_TRUE(relied_on(job.relied, "4 control bytes after the last command"));
    EXPECT_EQ(detect_kind(read_head(data("engraver_scaled.plt"), 1 << 16), "e"), InputKind::hpgl);

    // Mirrored by SC (x from 100 down to 0): a quarter turn anticlockwise in user units turns
    // clockwise on the plotter.
    JobFileFolder folder;
    const PlotJob mirrored = read_hpgl(
        folder.write("m.plt", "IN;IP0,0,4000,4000;SC100,0,0,100;PU50,50;PD;AR-10,0,90;"), 0.025);
    ASSERT_EQ(mirrored.stroke_count(), 1u);
    EXPECT_NEAR(mirrored.points.back().x, 60, 1e-9);
    EXPECT_NEAR(mirrored.points.back().y, 60, 1e-9);
    EXPECT_NEAR(mirrored.points[mirrored.points.size() / 2].x, 60 - 10 * std::sqrt(0.5), 0.05);
}

class HpglRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(HpglRefusal, ClearMessage) {
    JobFileFolder folder;
    const std::string file = folder.write("in.plt", GetParam().bytes);
    try {
        read_hpgl(file, 0.025);
        FAIL() << "read without complaint";
    } catch (const PrepError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bad, HpglRefusal,
    testing::Values(
        Refusal{"ScalingToThePlottersOwnPoints", "IN;SC0,100,0,100;PD10,10;",
                "SC scales to the plotter's own P1 and P2"},
        Refusal{"ScalingAfterIN", "IN;IP0,0,4000,4000;IN;SC0,100,0,100;PD10,10;",
                "plotter's own P1"},
        Refusal{"HalfPoints", "IN;IP0,0;PD10,10;", "IP with 2 numbers"},
        Refusal{"IsotropicScaling", "IN;IP0,0,4000,4000;SC0,100,0,100,1;PD10,10;", "isotropic"},
        Refusal{"ArcUnequalScaling", "IN;IP0,0,4000,4000;SC0,100,0,200;PU50,50;CI10;",
                "unequal scaling"},
        Refusal{"Rotation", "IN;RO90;PD10,10;", "RO changes"},
        Refusal{"PolylineEncoded", "IN;PE<=abc;", "polyline encoding (PE)"},
        Refusal{"Unknown", "IN;ZZ1;PD10,10;", "unknown HP-GL command ZZ"},
        Refusal{"ArcOutOfRange", "IN;PU0,39000000;CI39000000;", "out of range"},
        Refusal{"OddCoordinates", "IN;PD10,10,20;", "odd number"},
        Refusal{"TruncatedList", "IN;PD10,10,20,", "truncated"},
        Refusal{"TruncatedLabel", "IN;PD10,10;LBabc", "truncated"},
        Refusal{"Binary", "IN;PD10\x02,10;", "binary"},
        Refusal{"CommandAfterControlBytes", "IN;PD10,10;\x01PD20,20;", "after control bytes"},
        Refusal{"NoStrokes", "IN;SP1;PU100,100;SP0;", "no pen-down strokes"},
        Refusal{"LongNumber",
                "IN;PA1111111111111111111111111111111111111111111111111111111111111111111111,0;",
                "longer than 64"}),
    [](const testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

// --- inputs of a few bytes that ask for more points than a job can have ---------------------

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// Each refusal comes before the points are made where one command asks for too many: the
// first plot would otherwise take 1.3 * 10^7 chords, the last drill file 2 * 10^7 holes.
TEST(Readers, JobsOfMoreThanTenMillionPointsAreRefused) {
    // A circle of radius 999000 mm takes about 9930 chords.
    const std::string on_circle = "IN;PU39960000,0;PD;";
    const std::vector<std::pair<std::string, std::string>> plots = {
        {on_circle + "AA0,0,468000;", "byte 19: the job would have more than 10000000 points"},
        // Eleven arcs of 100 turns each: every one fits, together they do not.
        {on_circle + repeated("AA0,0,36000;", 11), "more than 10000000 points (an arc of"},
    };
    JobFileFolder folder;
    for (const auto& [bytes, words] : plots) {
        try {
            read_hpgl(folder.write("in.plt", bytes), 0.025);
            ADD_FAILURE() << "read: " << bytes;
        } catch (const PrepError& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    }
    const std::string tiny_tool = "M48\nMETRIC\nT1C0.00001\n%\nT1\n";
    const std::vector<std::pair<std::string, std::string>> drills = {
        {tiny_tool + "X0.0Y0.0G85X1000.0Y0.0\nM30\n",
         "line 6: the job would have more than 10000000 points (a slot of 100000001 holes)"},
        // Two slots that fit one by one.
        {tiny_tool + "X0.0Y0.0G85X1.0Y0.0\nX0.0Y1.0G85X99.99Y1.0\nM30\n",
         "line 7: the job would have more than 10000000 points (a slot of 9999001 holes)"},
        // A routed path of two segments that fit one by one.
        {tiny_tool + "G00X0.0Y0.0\nM15\nG01X99.99Y0.0\nG01X0.0Y0.0\nM16\nM30\n",
         "line 10: the job would have more than 10000000 points (a routed path of 19998001 "
         "holes)"},
    };
    for (const auto& [bytes, words] : drills) {
        try {
            read_excellon(folder.write("in.drl", bytes), std::nullopt);
            ADD_FAILURE() << "read: " << bytes;
        } catch (const PrepError& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    }
}

// A raised pen only travels along an arc, however many chords drawing it would take.
TEST(HpglReader, ArcWithThePenUpOnlyMovesToItsEnd) {
    JobFileFolder folder;
    const PlotJob job = read_hpgl(
        folder.write("in.plt", "IN;PU39960000,0;" + repeated("AA0,0,468090;", 49) + "PD0,0;"),
        0.025);
    const auto s = strokes_of(job);
    ASSERT_EQ(s.size(), 1u);
    // 49 arcs of 1300.25 turns: a quarter turn on, at (0, 999000 mm).
    ASSERT_EQ(s[0].size(), 2u);
    EXPECT_NEAR(s[0][0].x, 0, 1e-3);
    EXPECT_NEAR(s[0][0].y, 999000, 1e-3);
}

// --- kind of file ------------------------------------------------------------------------

TEST(Detect, KindFromContentAndRefusedFormats) {
    const std::string p = "f";
    EXPECT_EQ(detect_kind("M48\n", p), InputKind::excellon);
    EXPECT_EQ(detect_kind("\r\n;comment\nM48", p), InputKind::excellon);
    EXPECT_EQ(detect_kind("\xef\xbb\xbfM48\n", p), InputKind::excellon);
    EXPECT_EQ(detect_kind("X1.0Y2.0\nM30\n", p), InputKind::excellon);
    EXPECT_EQ(detect_kind("INCH,TZ\n", p), InputKind::excellon);
    EXPECT_EQ(detect_kind("IN;SP1;", p), InputKind::hpgl);
    EXPECT_EQ(detect_kind("pu0,0;pd1,1;", p), InputKind::hpgl);
    EXPECT_EQ(detect_kind("!PZ-100,50;IN;PD1,1;", p), InputKind::hpgl);
    EXPECT_EQ(detect_kind(std::string("IN;LBa\bb\x03;PD1,1;\0\0", 18), p), InputKind::hpgl);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"", "empty"},
        {" \n\n", "empty"},
        {"\x1b%-12345X@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0BIN;", "PCL"},
        {std::string("\x01\x02\0\0", 4), "binary data (byte 1 at offset 0)"},
        {"hello world", "neither"}};
    for (const auto& [head, words] : refused) {
        try {
            detect_kind(head, p);
            ADD_FAILURE() << "accepted: " << head;
        } catch (const PrepError& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    }
}

// Binary files named by what they are, so the operator knows to unpack or re-export.
TEST(Detect, ArchivesProgramsAndImagesByTheirFirstBytes) {
    const std::string tar = "board.drl" + std::string(248, '\0') + "ustar\0" + "00";
    const std::vector<std::pair<std::string, std::string>> known = {
        {std::string("PK\x03\x04\x14\0\0\0", 8), "a ZIP archive: unpack it first"},
        {std::string("PK\x05\x06\0\0\0\0", 8), "a ZIP archive: unpack it first"},
        {"\x1f\x8b\x08\x08", "a gzip-compressed file: unpack it first"},
        {"BZh91AY&SY\x12", "a bzip2-compressed file: unpack it first"},
        {std::string("\xfd"
                     "7zXZ\0\0",
                     8),
         "an xz-compressed file: unpack it first"},
        {"\x28\xb5\x2f\xfd\x24", "a zstd-compressed file"},
        {"7z\xbc\xaf\x27\x1c\x00\x04", "a 7z archive"},
        {std::string("Rar!\x1a\x07\0", 7), "a RAR archive"},
        {tar, "a tar archive: unpack it first"},
        {std::string("\x7f"
                     "ELF\x02\x01\x01\0",
                     8),
         "a program (ELF), not a job export"},
        {"%PDF-1.7\n%\xe2\xe3", "a PDF document"},
        {std::string("\x89PNG\r\n\x1a\n\0\0", 10), "a PNG image"},
        {"\xff\xd8\xff\xe0", "a JPEG image"},
    };
    for (const auto& [head, words] : known) {
        try {
            detect_kind(head, "in.drl");
            ADD_FAILURE() << "accepted: " << head;
        } catch (const PrepError& e) {
            EXPECT_EQ(std::string(e.what()).find("in.drl: " + words), 0u) << e.what();
        }
    }
}

}  // namespace
}  // namespace prep
