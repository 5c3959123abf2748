// test_gerber.cpp - the Gerber reader on small boards written for it, one per feature, each
// checked against the shapes it means: area, bounding box, outer contours and holes, and
// chosen points inside or outside the image; plus the files it must refuse.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "detect.h"
#include "gerber.h"
#include "job_file_folder.h"
#include "prep_run.h"

namespace prep {
namespace {

using testing_support::data;

constexpr double PI = std::numbers::pi;

struct Facts {
    double area = 0;  // mm2
    int outers = 0, holes = 0;
    double min_x = HUGE_VAL, min_y = HUGE_VAL, max_x = -HUGE_VAL, max_y = -HUGE_VAL;
};

Facts facts(const GerberLayer& layer) {
    Facts f;
    for (const ClipperLib::Path& path : layer.image) {
        const double a = ClipperLib::Area(path) / (GEOMETRY_PER_MM * GEOMETRY_PER_MM);
        f.area += a;
        ++(a > 0 ? f.outers : f.holes);
        for (const ClipperLib::IntPoint& q : path) {
            const Point p = from_geometry(q);
            f.min_x = std::min(f.min_x, p.x);
            f.min_y = std::min(f.min_y, p.y);
            f.max_x = std::max(f.max_x, p.x);
            f.max_y = std::max(f.max_y, p.y);
        }
    }
    return f;
}

// Whether (x, y) mm is dark: inside more outer contours than holes.
bool dark_at(const GerberLayer& layer, double x, double y) {
    const ClipperLib::IntPoint p = to_geometry(Point{x, y});
    int winding = 0;
    for (const ClipperLib::Path& path : layer.image) {
        if (ClipperLib::PointInPolygon(p, path) != 0)
            winding += ClipperLib::Orientation(path) ? 1 : -1;
    }
    return winding > 0;
}

GerberLayer fixture(const std::string& name) {
    return read_gerber(data("gerber/" + name));
}

struct ShapeCase {
    const char* file;
    double area;       // what the file means, mm2
    double tolerance;  // chords lie inside the true curves
    int outers, holes;
    double box[4];  // min x, min y, max x, max y
    std::vector<Point> dark, clear;
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.file;
}

const double CIRCLE_1 = PI / 4;  // a disc of 1 mm diameter

class GerberShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(GerberShapes, AreaBoxContoursAndPoints) {
    const ShapeCase& c = GetParam();
    const GerberLayer layer = fixture(c.file);
    const Facts f = facts(layer);
    EXPECT_NEAR(f.area, c.area, c.tolerance);
    EXPECT_EQ(f.outers, c.outers);
    EXPECT_EQ(f.holes, c.holes);
    EXPECT_NEAR(f.min_x, c.box[0], 0.002);
    EXPECT_NEAR(f.min_y, c.box[1], 0.002);
    EXPECT_NEAR(f.max_x, c.box[2], 0.002);
    EXPECT_NEAR(f.max_y, c.box[3], 0.002);
    for (const Point& p : c.dark) EXPECT_TRUE(dark_at(layer, p.x, p.y)) << p.x << "," << p.y;
    for (const Point& p : c.clear) EXPECT_FALSE(dark_at(layer, p.x, p.y)) << p.x << "," << p.y;
}

// Areas exact for the shapes meant; the tolerance is the chords' loss (about 2/3 of the
// tolerance times the curves' length).
INSTANTIATE_TEST_SUITE_P(
    Fixtures, GerberShapes,
    testing::Values(
        // C, C with hole, R, R with hole, O, hexagon, square polygon turned 45 with hole, tall O
        // with hole.
        ShapeCase{"apertures.gbr",
                  CIRCLE_1 + (CIRCLE_1 - PI * 0.04) + 2 + (2 - PI * 0.0625) + (2 + CIRCLE_1) +
                      1.5 * std::sqrt(3.0) + (2 - PI * 0.0625) + (2 + CIRCLE_1 - PI * 0.0225),
                  0.03,
                  8,
                  4,
                  {-0.5, -1.5, 35.5, 1.5},
                  {{0, 0.45},
                   {5, 0.3},
                   {10.9, 0.45},
                   {15, 0.3},
                   {21.4, 0},
                   {25.95, 0},
                   {30, 0.65},
                   {35, 1.3}},
                  {{5, 0}, {15, 0}, {10, 0.55}, {21.4, 0.45}, {30, 0}, {30.75, 0.75}, {35, 0}}},
        // Circle less a smaller one, triangle, octagon, vector line turned upright, centre line
        // turned 45, thermal, a rectangle from variables, a KiCad rounded rectangle.
        ShapeCase{
            "macros.gbr",
            (PI - PI / 4) + 2 + 2 * std::sqrt(2.0) + 1 + 2 + 2.91990 + 6 + (3 - (4 - PI) / 16),
            0.08,
            11,
            1,
            {-1, -1.4782, 71, 2},
            {{0.75, 0},
             {10.5, 0.5},
             {20.9, 0},
             {30, 0.9},
             {40.6, 0.6},
             {51.25, 0.5},
             {61.4, 0.9},
             {70.98, 0},
             {70.9, 0.6}},
            {{0, 0},
             {11.1, 1.1},
             {30.9, 0},
             {40.6, -0.6},
             {50, 0},
             {50, 1.25},
             {51.25, 0.1},
             {70.99, 0.74}}},
        // A round draw turning a corner, rectangles swept straight and slanted.
        ShapeCase{
            "draws.gbr",
            (10 + 5 + CIRCLE_1 - 0.25 * (1 - PI / 4)) + 11 * 2 + (1 + 3 + 4),
            0.02,
            3,
            0,
            {-0.5, -0.5, 10.5, 24.5},
            {{-0.45, 0}, {10.45, 5}, {-0.45, 10.95}, {10.45, 9.05}, {1.5, 22.5}, {3.45, 24.45}},
            {{10.45, 5.45}, {-0.45, 0.45}, {1.5, 20.7}, {3.45, 23.4}, {0.6, 24}}},
        // Full annulus, two half annuli with round ends (G03 below, G02 above), a quarter.
        ShapeCase{
            "arcs.gbr",
            PI * 2 + 2 * (PI + PI * 0.01) + (PI / 2 + PI * 0.01),
            0.02,
            4,
            1,
            {-5.1, -5.1, 50.1, 25.1},
            {{0, 5}, {-5, 0}, {45, -5}, {45, 25}, {20 - 5 / std::sqrt(2.0), 5 / std::sqrt(2.0)}},
            {{0, 0}, {45, 5}, {45, 15}, {17.5, 2.5}}},
        // Square with a half-disc on top, a square hole cut out by a clear region.
        ShapeCase{"region.gbr",
                  100 + PI * 25 / 2 - 4,
                  0.03,
                  1,
                  1,
                  {0, 0, 10, 15},
                  {{1, 1}, {5, 14.9}, {9, 9}},
                  {{4, 4}, {9.9, 14}}},
        // Dark square, a clear disc of 4 mm, a dark disc of 2 mm; a second region square.
        ShapeCase{"polarity.gbr",
                  100 - PI * 4 + PI + 4,
                  0.03,
                  3,
                  1,
                  {0, 0, 22, 10},
                  {{5, 5}, {5.9, 5}, {1, 1}, {21, 1}},
                  {{6.5, 5}, {5, 3.1}}},
        ShapeCase{"stepping.gbr",
                  6 * CIRCLE_1,
                  0.03,
                  6,
                  0,
                  {-0.5, -0.5, 10.5, 4.5},
                  {{0, 0}, {5, 0}, {10, 0}, {0, 4}, {5, 4}, {10, 4}},
                  {{2.5, 0}, {15, 0}, {0, 8}}},
        // A 30 x 20 mm outline drawn with a 0.1 mm line.
        ShapeCase{"profile_x2.gbr",
                  30.1 * 20.1 - 29.9 * 19.9 - 0.01 * (1 - PI / 4),
                  0.01,
                  1,
                  1,
                  {-0.05, -0.05, 30.05, 20.05},
                  {{15, 0}, {30, 10}, {0.04, 19.96}},
                  {{15, 10}, {-0.05, -0.05}}},
        // Inch, trailing zeros omitted: a 0.1 inch pad at (1, 0.5) inch, a 0.1 x 0.05 inch
        // rectangle at (2, 0.5) inch.
        ShapeCase{"inch_trailing.gbr",
                  PI * 1.27 * 1.27 + 2.54 * 1.27,
                  0.03,
                  2,
                  0,
                  {24.13, 11.43, 52.07, 13.97},
                  {{25.4, 12.7}, {26.6, 12.7}, {52.0, 13.3}},
                  {{52.0, 13.5}}}));

TEST(Gerber, LinesAreTheDrawsCentresInRuns) {
    const GerberLayer draws = fixture("draws.gbr");
    ASSERT_EQ(draws.lines.size(), 3u);
    const std::vector<std::vector<std::pair<double, double>>> want = {
        {{0, 0}, {10, 0}, {10, 5}}, {{0, 10}, {10, 10}}, {{0, 20}, {3, 24}}};
    for (std::size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(draws.lines[i].size(), want[i].size()) << i;
        for (std::size_t k = 0; k < want[i].size(); ++k) {
            EXPECT_NEAR(draws.lines[i][k].x, want[i][k].first, 1e-9);
            EXPECT_NEAR(draws.lines[i][k].y, want[i][k].second, 1e-9);
        }
    }
    EXPECT_EQ(draws.draws, 4);

    // Every chord point of an arc lies on its circle: the centres are (0,0), (45,0), (45,20)
    // and, for the single-quadrant arc whose offsets carry no sign, (20,0).
    const GerberLayer arcs = fixture("arcs.gbr");
    ASSERT_EQ(arcs.lines.size(), 4u);
    EXPECT_EQ(arcs.arcs, 4);
    const Point centres[] = {{0, 0}, {45, 0}, {45, 20}, {20, 0}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_GT(arcs.lines[i].size(), 20u);
        for (const Point& p : arcs.lines[i]) {
            EXPECT_NEAR(std::hypot(p.x - centres[i].x, p.y - centres[i].y), 5, 1e-6) << i;
        }
    }
    // The quarter arc ends where it was asked to.
    EXPECT_NEAR(arcs.lines[3].back().x, 20, 1e-9);
    EXPECT_NEAR(arcs.lines[3].back().y, 5, 1e-9);
}

TEST(Gerber, AttributesUnitsAndIdentityTransformsAreReadPast) {
    const GerberLayer x2 = fixture("profile_x2.gbr");
    EXPECT_EQ(x2.function, "Profile,NP");
    EXPECT_EQ(x2.units, "mm");
    EXPECT_TRUE(is_profile_layer(x2, "board-whatever.gbr"));
    std::string notes;
    for (const std::string& n : x2.notes) notes += n + "\n";
    for (const char* read_past :
         {"%IPPOS*%", "%OFA0B0*%", "%MIA0B0*%", "%ASAXBY*%", "%ICAS*%", "%IN", "%LN"}) {
        EXPECT_NE(notes.find(read_past), std::string::npos) << read_past;
    }
    ASSERT_EQ(x2.lines.size(), 1u);
    EXPECT_EQ(x2.lines[0].size(), 5u);
    const GerberLayer inch = fixture("inch_trailing.gbr");
    EXPECT_EQ(inch.units, "inch");
    EXPECT_EQ(inch.flashes, 2);
}

TEST(Gerber, ProfileLayerByFunctionOrName) {
    GerberLayer layer;
    const std::vector<std::pair<std::string, bool>> names = {{"b/board-Edge_Cuts.gbr", true},
                                                             {"board.GKO", true},
                                                             {"board.gm1", true},
                                                             {"board.gml", true},
                                                             {"Outline.ger", true},
                                                             {"PROFILE.gbr", true},
                                                             {"board-F_Cu.gbr", false},
                                                             {"board.gtl", false},
                                                             {"outline/board.gtl", false}};
    for (const auto& [name, profile] : names)
        EXPECT_EQ(is_profile_layer(layer, name), profile) << name;
    layer.function = "Copper,L1,Top";
    EXPECT_FALSE(is_profile_layer(layer, "board-Edge_Cuts.gbr"));
    layer.function = "Profile,NP";
    EXPECT_TRUE(is_profile_layer(layer, "board.gtl"));
}

// Each bad input is refused with the file name, the byte offset of the command and the problem.
TEST(Gerber, BadInputsAreRefusedWithOffsetAndProblem) {
    const std::string head = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.1*%\nD10*\n";  // 41 bytes
    const std::vector<std::pair<std::string, std::string>> bad = {
        {head + "X0Y0D03*\n", "the file ends before M02: it is cut short"},
        {head + "X0Y0D03", "byte 41: the command has no closing '*'"},
        {head + "%LPD*\n", "has no closing '%'"},
        {head + "X0\x01Y0D03*M02*", "byte 43: binary data (byte 1)"},
        {head + "G99*M02*", "byte 41: unknown code G99"},
        {head + "D07*M02*", "unknown code D07"},
        {head + "M05*M02*", "unknown code M05"},
        {head + "Q1*M02*", "unknown code Q1"},
        {head + "%XY1*%M02*", "unknown command %XY"},
        {head + "%s*%M02*", "unknown command %s"},
        {head + "D11*M02*", "byte 41: aperture D11 is not defined"},
        {head + "X200000000000Y0D03*M02*", "beyond 100 m"},
        {head + "X1.2.3Y0D03*M02*", "bad number X1.2.3"},
        {head + "X12a3D03*M02*", "unknown code a3"},
        {head + "%ADD11C,0.1X*%M02*", "empty value"},
        {head + "%ADD11C,abc*%M02*", "bad number 'abc'"},
        {head + "%ADD11R,1*%M02*", "aperture R takes 2 to 4 values"},
        {head + "%ADD11P,1X13*%M02*", "3 to 12 vertices"},
        {head + "%ADD11NOPE,1*%M02*", "undefined macro 'NOPE'"},
        {head + "%AMM*1,1,$1/0,0,0*%%ADD11M,1*%M02*", "division by zero"},
        {head + "%AMM*1,1,(1,0,0*%%ADD11M*%M02*", "bad macro expression"},
        {head + "%AMM*6,0,0,1,0.1,0.1,2,0.1,1,0*%%ADD11M*%M02*", "primitive 6 (moire)"},
        {head + "%AMM*9,1*%%ADD11M*%M02*", "unknown macro primitive 9"},
        {head + "%AMM*7,0,0,1,2,0.1,0*%%ADD11M*%M02*", "bad thermal sizes"},
        {head + "%LPX*%M02*", "unknown polarity"},
        {head + "X0Y0*M02*", "coordinates without D01, D02 or D03"},
        {head + "G36*X0Y0D02*X1D01*M02*", "M02 inside a region"},
        {head + "G36*X0Y0D03*M02*", "a flash (D03) inside a region"},
        {"%FSLAX46Y46*%\n%MOMM*%\nX0Y0D03*M02*", "a flash (D03) with no aperture selected"},
        {"%MOMM*%\nX0Y0D02*M02*", "a coordinate before %FS"},
        {"%FSLAX46Y46*%\nX0Y0D02*M02*", "a coordinate before %MO"},
        {"%FSLIX46Y46*%\n", "incremental coordinates"},
        {"%FSLAX4Y4*%\n", "bad number format"},
        {head + "G91*M02*", "incremental coordinates (G91)"},
        {head + "%IPNEG*%M02*", "%IPNEG (a negative image)"},
        {head + "%MIA1B0*%M02*", "%MIA1B0 (mirror image) is not supported"},
        {head + "%OFA1.0B0*%M02*", "%OFA1.0B0 (offset) is not supported"},
        {head + "%SFA2B1*%M02*", "%SFA2B1 (scale factor)"},
        {head + "%LR45*%M02*", "%LR45 (load rotation)"},
        {head + "%LMX*%M02*", "%LMX (load mirroring)"},
        {head + "%LS0.5*%M02*", "%LS0.5 (load scaling)"},
        {head + "%ASAYBX*%M02*", "%ASAYBX (axis select)"},
        {head + "%FSLAX46Y46%M02*", "a '*' is missing"},
        // More points than the job may have: a large pad stepped a million times, an arc
        // with a hundred-metre radius repeated, a macro outline with too many vertices.
        {head + "%ADD11C,1000*%D11*%SRX1000Y1000I1J1*%X0Y0D03*%SR*%M02*", "more than 10000000"},
        {head + "%AMM*4,1,99999999,0,0,0*%%ADD11M*%M02*", "macro outline"},
    };
    for (const auto& [text, words] : bad) {
        try {
            parse_gerber(text, "f.gbr");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const PrepError& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.starts_with("f.gbr: ")) << what;
            EXPECT_NE(what.find(words), std::string::npos) << what << "\n  wanted: " << words;
        }
    }
}

// A 100 x 80 mm board with a ground pour: the pour, a clear ring round each of 2000 pads, the
// pads, and 1000 tracks, in three polarity batches; read well within the time allowed.
TEST(Gerber, GroundPourBoardIsFast) {
    std::string text = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,1.6*%\n%ADD11C,1.0*%\n%ADD12C,0.25*%\n";
    text += "G36*\nX0Y0D02*\nG01X100000000Y0D01*\nY80000000D01*\nX0D01*\nY0D01*\nG37*\n";
    auto pads = [&](const char* aperture) {
        text += aperture;
        for (int i = 0; i < 2000; ++i) {
            text += "X" + std::to_string(2000000 + (i % 50) * 1900000) + "Y" +
                    std::to_string(2000000 + (i / 50) * 1900000) + "D03*\n";
        }
    };
    text += "%LPC*%\n";
    pads("D10*\n");
    text += "%LPD*%\n";
    pads("D11*\n");
    text += "D12*\n";
    for (int i = 0; i < 1000; ++i) {
        const int x = 2000000 + (i % 49) * 1900000, y = 2000000 + (i / 49 % 40) * 1900000;
        text += "X" + std::to_string(x) + "Y" + std::to_string(y) + "D02*\nX" +
                std::to_string(x + 1900000) + "D01*\n";
    }
    text += "M02*\n";
    const auto start = std::chrono::steady_clock::now();
    const GerberLayer layer = parse_gerber(text, "pour.gbr");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(layer.flashes, 4000);
    // The pour is holed round the 2000 pads, each pad an island inside its hole.
    EXPECT_TRUE(dark_at(layer, 2.0, 2.0));
    EXPECT_FALSE(dark_at(layer, 2.0, 2.65));
    EXPECT_TRUE(dark_at(layer, 50, 79));
    EXPECT_GE(facts(layer).holes, 1000);
}

TEST(Gerber, DetectedByContentAndRefusedByPrepForNow) {
    EXPECT_EQ(detect_kind("G04 board*\n%FSLAX46Y46*%\n", "f"), InputKind::gerber);
    EXPECT_EQ(detect_kind("%TF.GenerationSoftware,x*%\n", "f"), InputKind::gerber);
    EXPECT_EQ(detect_kind("%FSLAX24Y24*%\n%MOIN*%\n", "f"), InputKind::gerber);
    JobFileFolder folder;
    const auto r = testing_support::run({data("gerber/draws.gbr"), "-o", folder.path("draws.plt")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a Gerber copper layer: give --isolate"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace prep
