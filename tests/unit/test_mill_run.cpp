// test_mill_run.cpp - the milling run: pen-up travel, pen-down cuts and the staircase of
// sub-steps, through the real passes on the fake platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "base/texts.h"
#include "drive/motion.h"
#include "jobs/job.h"
#include "jobs/preview.h"
#include "machine_fixture.h"
#include "run/mill_run.h"
#include "run/run_control.h"

namespace {

using Point = std::pair<std::int32_t, std::int32_t>;

class MillRunTest : public MachineTest {
protected:
    // 1 step per mm, a 300 x 100 x 50 mm table, depth 3, travel height 10, scale 100.
    static constexpr Params kMill = {0, 0, 0, 1, 1, 1, 300, 100, 50, 1, 3, 100, 0, 0, 10};

    // Runs the job to its end; returns each new (X, Y) target in order and the axes stepped
    // ("X", "Y", "Z" up, lower case down), one letter per step.
    void run_job(std::vector<Point>& targets, std::string& steps, int max_passes = 5000) {
        fake::click(ids::START_BUTTON);
        Point last{machine_state.target_x, machine_state.target_y};
        for (int i = 0; i < max_passes; ++i) {
            const auto before = machine_state;
            pass();
            const Point now{machine_state.target_x, machine_state.target_y};
            if (now != last) targets.push_back(now);
            last = now;
            if (machine_state.current_x != before.current_x)
                steps += machine_state.current_x > before.current_x ? 'X' : 'x';
            if (machine_state.current_y != before.current_y)
                steps += machine_state.current_y > before.current_y ? 'Y' : 'y';
            if (machine_state.current_z != before.current_z)
                steps += machine_state.current_z > before.current_z ? 'Z' : 'z';
            if (!machine_state.move_requested) break;
        }
    }
};

TEST_F(MillRunTest, ExampleJob) {
    start(kMill);
    write_bytes("a.plt", "PU;\nPA0,0;\nPD;\nPA100,30;\nPU;");
    open_job("a.plt");
    EXPECT_EQ(control(ids::LABEL_PROGRAM_TYPE).text, texts::TYPE_MILLING);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 50, 0), COLOUR_CANVAS);  // a one-point stroke
    std::vector<Point> targets;
    std::string steps;
    Point at_message{-1, -1};
    fake::window.on_message = [&](const fake::Message&) {
        at_message = {machine_state.current_x, machine_state.current_y};
    };
    run_job(targets, steps);
    // The record's point (150, 30) is replaced by the first sub-step in the pass that fetched it.
    ASSERT_EQ(targets.size(), 32u);
    EXPECT_EQ(targets[0], Point(50, 0));
    EXPECT_EQ(targets[1], Point(53, 1));
    EXPECT_EQ(targets[2], Point(56, 2));
    EXPECT_EQ(targets[3], Point(59, 3));
    EXPECT_EQ(targets[30], Point(149, 30));
    EXPECT_EQ(targets[31], Point(50, 0));
    // Travel, then Z to the depth before the first sub-step, then Y before X in every sub-step.
    EXPECT_EQ(steps.substr(0, 50), std::string(50, 'X'));
    EXPECT_EQ(steps.substr(50, 8), "zzzzzzzY");
    std::string expected_cut;
    std::int32_t x = 50;
    for (int k = 1; k <= 30; ++k) {
        const std::int32_t next_x = targets[static_cast<std::size_t>(k)].first;
        expected_cut += 'Y' + std::string(static_cast<std::size_t>(next_x - x), 'X');
        x = next_x;
    }
    EXPECT_EQ(steps.substr(57, expected_cut.size()), expected_cut);
    EXPECT_EQ(steps.substr(57 + expected_cut.size()),
              "ZZZZZZZ" + std::string(30, 'y') + std::string(99, 'x'));
    // Completion comes with the last pen-up fetch, while the tool is still at the end of the cut.
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::PROGRAM_FINISHED});
    EXPECT_EQ(at_message, Point(149, 30));
    EXPECT_EQ(machine_state.current_x, 50);
    EXPECT_EQ(machine_state.current_y, 0);
    EXPECT_EQ(machine_state.current_z, 10);
    // Marks: cyan where each pen-up fetch found the tool, orange-red at the pen-down fetch.
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 0, 0), COLOUR_TRAVEL_MARK);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 1, 1), COLOUR_TRAVEL_MARK);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 50, 0), COLOUR_CUT_MARK);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 51, 1), COLOUR_CUT_MARK);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 149, 30), COLOUR_TRAVEL_MARK);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 151, 30), COLOUR_CANVAS);
}

// One cut from a start point, as the sub-step targets it produces after the record's point.
TEST_F(MillRunTest, SegmentCases) {
    struct Case {
        const char* name;
        Point from, to;
        std::vector<Point> substeps;  // targets after the record's own point
    };
    const Case cases[] = {
        {"100 x 3 increasing", {0, 0}, {100, 3}, {{33, 1}, {66, 2}, {99, 3}}},
        {"100 x 3 decreasing", {200, 0}, {100, 3}, {{166, 1}, {133, 2}, {100, 3}}},
        {"7 x 2", {0, 0}, {7, 2}, {{3, 1}, {7, 2}}},
        {"one X step: travelled directly", {0, 0}, {1, 0}, {{1, 0}}},
        {"equal distances", {0, 0}, {3, 3}, {{1, 1}, {2, 2}, {3, 3}}},
        {"horizontal: travelled directly", {0, 0}, {100, 0}, {{100, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_all();
        start(kMill);
        const auto file_x = [](std::int32_t x) { return std::to_string(x - PLOT_X_OFFSET_MM); };
        write_bytes("seg.plt", "PU;\nPA" + file_x(c.from.first) + "," +
                                   std::to_string(c.from.second) + ";\nPD;\nPA" +
                                   file_x(c.to.first) + "," + std::to_string(c.to.second) +
                                   ";\nPU;\n");
        open_job("seg.plt");
        std::vector<Point> targets;
        std::string steps;
        run_job(targets, steps);
        // Drop the pen-up travel to the start and the final pen-up travel to (50, 0).
        if (!targets.empty() && targets.front() == c.from) targets.erase(targets.begin());
        ASSERT_FALSE(targets.empty());
        EXPECT_EQ(targets.back(), Point(50, 0));
        targets.pop_back();
        EXPECT_EQ(targets, c.substeps);
    }
}

// Past 2^24 steps a float no longer holds every whole step: each sub-step's sum of the start and
// the offset is taken in double. X at 1700 mm and 9999 steps per mm is 16,998,300 steps; the
// first sub-step adds 333.3 (9999 / 30) and lands on 16,998,633, where a float sum would give
// 16,998,634.
TEST_F(MillRunTest, SubStepsPastTwoToTheTwentyFourStepsLandOnTheExactStep) {
    start({0, 0, 0, 9999, 1, 1, 9999, 100, 50, 1, 3, 100, 1700, 0, 10});
    write_bytes("far.plt", "PU;\nPA1650,0;\nPD;\nPA1651,30;\n");
    open_job("far.plt");
    std::vector<Point> targets;
    std::string steps;
    run_job(targets, steps, 50);  // the first sub-step is all this needs
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets.front(), Point(16'998'633, 1));
}

TEST_F(MillRunTest, EqualDistancesAlternateYAndX) {
    start(kMill);
    write_bytes("a.plt", "PU;\nPA-50,0;\nPD;\nPA-46,4;\n");
    open_job("a.plt");
    std::vector<Point> targets;
    std::string steps;
    run_job(targets, steps);
    EXPECT_EQ(steps, "zzzzzzzYXYXYXYX");
}

TEST_F(MillRunTest, CutEndingTheFileIsCutInFullAndNothingMovesAfterIt) {
    start(kMill);
    write_bytes("a.plt", "PU;\nPA-50,0;\nPD;\nPA-40,5;");  // no final terminator
    open_job("a.plt");
    std::vector<Point> targets;
    std::string steps;
    run_job(targets, steps);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::PROGRAM_FINISHED});
    // The whole segment was cut; the fetch that found nothing moved nothing, Z included.
    EXPECT_EQ(machine_state.current_x, 10);
    EXPECT_EQ(machine_state.current_y, 5);
    EXPECT_EQ(machine_state.current_z, 3);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 10, 5), COLOUR_CANVAS);  // no mark for it
}

TEST_F(MillRunTest, FileWithoutPenLinesMovesNothing) {
    start(kMill);
    write_bytes("a.plt", "IN;\nSP1;\n");
    open_job("a.plt");
    std::vector<Point> targets;
    std::string steps;
    run_job(targets, steps);
    EXPECT_EQ(steps, "");
    EXPECT_TRUE(targets.empty());
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::NO_POINTS});
}

TEST_F(MillRunTest, FileRenamedOverDuringTheRunEndsIt) {
    start(kMill);
    write_bytes("a.plt", "PU;\nPA0,0;\nPD;\nPA100,30;\n");
    open_job("a.plt");
    fake::click(ids::START_BUTTON);
    run(5);
    write_bytes("b.plt", "PU;\nPA0,0;\nPD;\nPA900,90;\n");
    std::filesystem::rename(path("b.plt"), path("a.plt"));
    run(100);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::FILE_NOT_OPENED});
    EXPECT_FALSE(run_control.running);
}

TEST_F(MillRunTest, StopInACutAndStartGoesOnWithTheNextRecord) {
    start(kMill);
    write_bytes("a.plt", "PU;\nPA-50,0;\nPD;\nPA50,3;\nPA50,20;\n");
    open_job("a.plt");
    fake::click(ids::START_BUTTON);
    run(30);  // in the middle of the first cut
    EXPECT_EQ(run_control.run_state, mill_substep_travel);
    fake::click(ids::STOP_BUTTON);
    pass();
    EXPECT_EQ(job_state.pen_state, PEN_DOWN);
    const MillSegment segment = mill_segment;
    const Point reached{machine_state.current_x, machine_state.current_y};
    fake::click(ids::START_BUTTON);
    pass();
    // The pen stays down: the next line is the next cut, planned from the position reached.
    EXPECT_EQ(job_state.pen_state, PEN_DOWN);
    EXPECT_EQ(mill_segment.segment_start_x, static_cast<float>(reached.first));
    EXPECT_EQ(mill_segment.substeps_left, 20 - reached.second - 1);
    EXPECT_EQ(machine_state.target_y, reached.second + 1);
    EXPECT_NE(mill_segment.segment_ratio, segment.segment_ratio);
}

TEST_F(MillRunTest, OpeningAFileResetsThePenState) {
    start(kMill);
    job_state.pen_state = PEN_DOWN;
    write_bytes("a.plt", "IN;\n");
    open_job("a.plt");
    EXPECT_EQ(job_state.pen_state, PEN_NONE);
}

TEST(PlanSegment, RatioIsRoundedToTwoDecimals) {
    EXPECT_EQ(plan_segment(100, 3, 0, 0).ratio, 33.33f);
    EXPECT_EQ(plan_segment(7, 2, 0, 0).ratio, 3.50f);
    EXPECT_EQ(plan_segment(3, 1, 0, 0).ratio, 3.00f);
    const SegmentPlan p = plan_segment(100, 200, 200, 0);  // X decreasing, Y increasing
    EXPECT_EQ(p.minor_direction, DIRECTION_X_MINUS);
    EXPECT_EQ(p.minor_distance, 100);
    EXPECT_EQ(p.major_direction, DIRECTION_Y_PLUS);
    EXPECT_EQ(p.ratio, 2.0f);
    EXPECT_EQ(round_to_hundredths(0.125f), 0.12f);  // ties go as the exact binary value does
    EXPECT_EQ(round_to_hundredths(0.375f), 0.38f);
}

}  // namespace
