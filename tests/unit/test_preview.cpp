// test_preview.cpp - the drawing rules of the raster and the picture each pass presents.
#include <gtest/gtest.h>

#include "drive/motion.h"
#include "jobs/preview.h"
#include "machine_fixture.h"
#include "platform/raster.h"

namespace {

using platform::Picture;

int count_colour(const Picture& p, std::uint32_t rgb) {
    int n = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) n += platform::pixel_rgb(p, x, y) == rgb;
    }
    return n;
}

TEST(Raster, ShapeRules) {
    Picture p;
    const std::uint32_t c = 0x123456;
    struct Case {
        const char* name;
        void (*draw)(Picture&, std::uint32_t);
        int pixels;
    };
    const Case cases[] = {
        {"radius 1 is one pixel",
         [](Picture& q, std::uint32_t k) { platform::draw_circle(q, 10, 10, 1, k, true); }, 1},
        {"radius 0 is one pixel",
         [](Picture& q, std::uint32_t k) { platform::draw_circle(q, 10, 10, 0, k, false); }, 1},
        {"radius 2 filled",
         [](Picture& q, std::uint32_t k) { platform::draw_circle(q, 10, 10, 2, k, true); }, 9},
        {"box w x h",
         [](Picture& q, std::uint32_t k) { platform::draw_box(q, 3, 4, 5, 2, k, true); }, 10},
        {"2 x 2 box",
         [](Picture& q, std::uint32_t k) { platform::draw_box(q, 0, 0, 2, 2, k, true); }, 4},
        {"box outline",
         [](Picture& q, std::uint32_t k) { platform::draw_box(q, 3, 4, 5, 4, k, false); }, 14},
        {"line includes both ends",
         [](Picture& q, std::uint32_t k) { platform::draw_line(q, 2, 3, 9, 3, k); }, 8},
        {"oblique line", [](Picture& q, std::uint32_t k) { platform::draw_line(q, 0, 0, 6, 3, k); },
         7},
        {"point line", [](Picture& q, std::uint32_t k) { platform::draw_line(q, 5, 5, 5, 5, k); },
         1},
        {"clipped at the corner",
         [](Picture& q, std::uint32_t k) { platform::draw_circle(q, 0, 0, 2, k, true); }, 4},
        {"far-away line is clipped",
         [](Picture& q, std::uint32_t k) {
             platform::draw_line(q, -2000000000, 10, 2000000000, 10, k);
         },
         30},
        {"far-away oblique line is clipped",
         [](Picture& q, std::uint32_t k) {
             platform::draw_line(q, -2000000000, -2000000000, 2000000000, 2000000000, k);
         },
         30},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        platform::create_picture(p, 30, 30, 0);
        t.draw(p, c);
        EXPECT_EQ(count_colour(p, c), t.pixels);
    }
    platform::create_picture(p, 30, 30, 0);
    platform::draw_line(p, 2, 3, 9, 3, c);
    EXPECT_EQ(platform::pixel_rgb(p, 2, 3), c);
    EXPECT_EQ(platform::pixel_rgb(p, 9, 3), c);
    EXPECT_EQ(platform::pixel_rgb(p, 10, 3), 0u);
}

class PreviewTest : public MachineTest {
protected:
    const Picture& frame() { return fake::window.last_frame; }
    std::uint32_t at(int x, int y) { return platform::pixel_rgb(frame(), x, y); }
};

TEST_F(PreviewTest, EmptyTableShowsMarkerCrossHairAndEdges) {
    start();  // tool at (0, 0), Z target 10 mm: radius 5; table 100 x 100 mm
    fake::window.keep_frames = true;
    pass();
    ASSERT_EQ(frame().width, 774);
    ASSERT_EQ(frame().height, 728);
    EXPECT_EQ(at(0, 0), COLOUR_AREA_BACKGROUND);
    EXPECT_EQ(at(19, 400), COLOUR_AREA_BACKGROUND);
    EXPECT_EQ(at(755, 400), COLOUR_AREA_BACKGROUND);  // right of the canvas
    EXPECT_EQ(at(400, 720), COLOUR_AREA_BACKGROUND);  // below the canvas
    EXPECT_EQ(at(400, 400), COLOUR_CANVAS);
    // Cross-hair through the tool at drawing-area (20, 5), to the canvas ends.
    EXPECT_EQ(at(755, 5), COLOUR_TOOL);
    EXPECT_EQ(at(756, 5), COLOUR_AREA_BACKGROUND);
    EXPECT_EQ(at(20, 720), COLOUR_TOOL);
    EXPECT_EQ(at(20, 721), COLOUR_AREA_BACKGROUND);
    // The marker is an outline: rim drawn, inside left as it was.
    EXPECT_EQ(at(23, 8), COLOUR_TOOL);
    EXPECT_EQ(at(21, 6), COLOUR_CANVAS);
    // Far table edges at 100 mm.
    EXPECT_EQ(at(60, 105), COLOUR_TABLE_EDGE);
    EXPECT_EQ(at(120, 50), COLOUR_TABLE_EDGE);
    EXPECT_EQ(at(121, 105), COLOUR_CANVAS);
    EXPECT_EQ(at(60, 106), COLOUR_CANVAS);
}

TEST_F(PreviewTest, MarkerFollowsThePositionAndTheZTarget) {
    Params p = kParams;
    p[14] = 1;  // Z at 1 mm: radius 0, a single pixel
    p[12] = 30;
    p[13] = 40;
    start(p);
    fake::window.keep_frames = true;
    pass();
    EXPECT_EQ(at(50, 45), COLOUR_TOOL);
    EXPECT_EQ(at(51, 44), COLOUR_CANVAS);
    EXPECT_EQ(at(400, 45), COLOUR_TOOL);
    EXPECT_EQ(at(50, 400), COLOUR_TOOL);
}

// A frame taken while the tool moves: the cross-hair and the marker's centre are where the tool
// is, the marker's radius is where Z is going.
TEST_F(PreviewTest, InMotionTheCrossHairShowsThePositionAndTheRadiusTheZTarget) {
    Params p = kParams;
    p[3] = p[4] = p[5] = 1;  // 1 step per mm: steps are pixels
    p[12] = 30;
    p[13] = 40;
    p[14] = 1;  // Z at 1 mm
    start(p);
    fake::window.keep_frames = true;
    machine_state.target_x = 60;
    machine_state.target_y = 70;
    machine_state.target_z = 11;  // radius 5 at once; Z steps first, so X and Y stay put
    machine_state.move_requested = true;
    pass();
    ASSERT_EQ(machine_state.current_x, 30);
    ASSERT_EQ(machine_state.current_z, 2);
    EXPECT_EQ(at(50, 400), COLOUR_TOOL);    // vertical line at the position, x 20 + 30
    EXPECT_EQ(at(80, 400), COLOUR_CANVAS);  // not at the target, x 20 + 60
    EXPECT_EQ(at(400, 45), COLOUR_TOOL);    // horizontal line at the position, y 5 + 40
    EXPECT_EQ(at(400, 75), COLOUR_CANVAS);  // not at the target, y 5 + 70
    // The rim of radius 5 (Z target 11) reaches off the cross-hair; radius 1 (Z 2) would not.
    int rim = 0;
    for (int y = 40; y <= 50; ++y) {
        for (int x = 45; x <= 55; ++x) rim += x != 50 && y != 45 && at(x, y) == COLOUR_TOOL;
    }
    EXPECT_GT(rim, 0);
}

TEST_F(PreviewTest, TableLargerThanTheCanvasIsClippedToTheArea) {
    Params p = kParams;
    p[6] = 800;  // X edge at drawing-area x 820, outside the area
    p[7] = 720;  // Y edge at drawing-area y 725, below the canvas but inside the area
    start(p);
    fake::window.keep_frames = true;
    pass();
    EXPECT_EQ(at(770, 725), COLOUR_TABLE_EDGE);
    EXPECT_EQ(at(400, 725), COLOUR_TABLE_EDGE);
    EXPECT_EQ(count_colour(frame(), COLOUR_TABLE_EDGE), 774 - 20);
}

TEST_F(PreviewTest, LoadedJobIsDrawnOnTheCanvasAndShownAtItsCorner) {
    start();
    write_bytes("a.drl", "X50Y60\n");
    write_bytes("b.plt", "PD;\nPA0,10;\nPA10,10;\n");
    open_job("a.drl");
    fake::window.keep_frames = true;
    pass();
    EXPECT_EQ(at(70, 65), COLOUR_HOLE);
    EXPECT_EQ(at(71, 66), COLOUR_HOLE);
    EXPECT_EQ(at(72, 65), COLOUR_CANVAS);
    open_job("b.plt");  // a new job clears the canvas; the same pass shows it
    EXPECT_EQ(at(70, 65), COLOUR_CANVAS);
    EXPECT_EQ(at(70, 15), COLOUR_STROKE);
    EXPECT_EQ(at(80, 15), COLOUR_STROKE);
    EXPECT_EQ(at(81, 15), COLOUR_CANVAS);
}

}  // namespace
