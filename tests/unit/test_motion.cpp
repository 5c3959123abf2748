// test_motion.cpp - phase cycles, jog, go-to, clamp, stop and pause, the manual port byte and
// the indicators, through the real passes on the fake platform.
#include <gtest/gtest.h>

#include <limits>

#include "base/texts.h"
#include "drive/motion.h"
#include "drive/port_panel.h"
#include "machine_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class MotionTest : public MachineTest {
protected:
    // 1 step per mm, a 100 x 100 x 50 mm table, 2 ms steps, the machine at (10, 10, 10).
    static constexpr Params kMotion = {0, 0, 0, 1, 1, 1, 100, 100, 50, 2, 3, 100, 10, 10, 10};

    // Bytes written to the port by one pass.
    Bytes pass_bytes() {
        const std::size_t before = fake::port.writes.size();
        pass();
        Bytes bytes;
        for (std::size_t i = before; i < fake::port.writes.size(); ++i) {
            bytes.push_back(fake::port.writes[i].value);
        }
        return bytes;
    }

    void go_to(std::int32_t x, std::int32_t y, std::int32_t z) {
        fake::change_field(ids::FIELD_GOTO_X, x);
        fake::change_field(ids::FIELD_GOTO_Y, y);
        fake::change_field(ids::FIELD_GOTO_Z, z);
        fake::click(ids::OK_GOTO);
        run(4);  // the three field events, then the go-to pass (which makes the first step)
    }
};

TEST_F(MotionTest, EachJogWritesOnePhaseCycleWithTheDelayAfterEveryByte) {
    struct Case {
        int button;
        Bytes bytes;
    };
    const Case cases[] = {
        {ids::JOG_Z_PLUS, {25, 19, 22, 28}}, {ids::JOG_Z_MINUS, {25, 28, 22, 19}},
        {ids::JOG_Y_PLUS, {41, 35, 38, 44}}, {ids::JOG_Y_MINUS, {41, 44, 38, 35}},
        {ids::JOG_X_PLUS, {73, 67, 70, 76}}, {ids::JOG_X_MINUS, {73, 76, 70, 67}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        fake::reset_all();
        start(kMotion);
        fake::click(c.button);
        const std::size_t first = fake::port.writes.size();
        const std::int64_t pass_start_ns = fake::clock.now_ns;
        EXPECT_EQ(pass_bytes(), c.bytes);
        // The first byte goes out at once: the waits come after the writes, not before them.
        EXPECT_EQ(fake::port.writes[first].time_ns, pass_start_ns);
        // Each write is followed by a 2 ms wait before the next one; the last wait ends the cycle
        // before the pass presents.
        for (std::size_t i = first + 1; i < first + 4; ++i) {
            EXPECT_EQ(fake::port.writes[i].time_ns - fake::port.writes[i - 1].time_ns, 2'000'000);
        }
        EXPECT_EQ(fake::clock.slept_ns, 8'000'000);
        // The next pass arrives, ends the move and makes no write but the idle one after it.
        EXPECT_EQ(pass_bytes(), Bytes{});
        EXPECT_FALSE(machine_state.move_requested);
        EXPECT_EQ(pass_bytes(), Bytes{0});
    }
}

TEST_F(MotionTest, CyclesInARowAndAfterAReversalStartAtNine) {
    start(kMotion);
    fake::click(ids::JOG_Y_PLUS);
    fake::click(ids::JOG_Y_PLUS);
    EXPECT_EQ(pass_bytes(), (Bytes{41, 35, 38, 44}));
    EXPECT_EQ(pass_bytes(), (Bytes{41, 35, 38, 44}));
    fake::click(ids::JOG_Y_MINUS);
    EXPECT_EQ(pass_bytes(), (Bytes{41, 44, 38, 35}));
}

TEST_F(MotionTest, GoToStepsZThenYThenXOneStepAPass) {
    Params p = kMotion;
    p[12] = 0;
    p[13] = 0;
    start(p);  // machine at (0, 0, 10)
    fake::change_field(ids::FIELD_GOTO_X, 5);
    fake::change_field(ids::FIELD_GOTO_Y, 5);
    fake::change_field(ids::FIELD_GOTO_Z, 0);
    run(3);
    fake::click(ids::OK_GOTO);
    std::string order;
    for (int i = 0; i < 20; ++i) {
        const Bytes b = pass_bytes();
        ASSERT_EQ(b.size(), 4u) << "pass " << i;
        order += b[0] == 25 ? 'Z' : b[0] == 41 ? 'Y' : b[0] == 73 ? 'X' : '?';
        if (i == 0) {
            EXPECT_EQ(control(ids::PROGRESS_BAR).progress_maximum, 20);
        }
        EXPECT_EQ(control(ids::PROGRESS_BAR).value, i + 1);
    }
    EXPECT_EQ(order, "ZZZZZZZZZZYYYYYXXXXX");
    EXPECT_EQ(control(ids::LABEL_POSITION_X).text, "5");
    EXPECT_EQ(control(ids::LABEL_POSITION_Z).text, "0");
    EXPECT_EQ(machine_state.travel_height_z, 0);
    EXPECT_EQ(control(ids::FIELD_GOTO_X).back_colour, ids::COLOUR_APPLIED);
    // Arrival pass, then the first idle pass drops the progress bar to 0.
    EXPECT_EQ(pass_bytes(), Bytes{});
    EXPECT_EQ(pass_bytes(), Bytes{0});
    EXPECT_EQ(control(ids::PROGRESS_BAR).value, 0);
}

TEST_F(MotionTest, ClampAtZeroAndAtTheTravelLimitWritesNothing) {
    Params p = kMotion;
    p[12] = 0;   // X at 0
    p[13] = 99;  // Y one below the table's end ...
    start(p);
    machine_state.current_y = machine_state.target_y =
        machine_state.travel_limit_y;          // ... at the end
    fake::press_shortcut(ids::SHORTCUT_LEFT);  // X -1
    EXPECT_EQ(pass_bytes(), Bytes{});
    EXPECT_EQ(machine_state.target_x, 0);
    EXPECT_FALSE(machine_state.move_requested);
    fake::click(ids::JOG_Y_PLUS);  // Y beyond the limit
    EXPECT_EQ(pass_bytes(), Bytes{});
    EXPECT_EQ(machine_state.target_y, 100);
    EXPECT_FALSE(machine_state.move_requested);
}

TEST_F(MotionTest, GoToRefusesAnAxisOutsideTheTableAndKeepsTheOthers) {
    start(kMotion);
    go_to(100, 20, 10);  // X equal to the table size: refused
    ASSERT_EQ(fake::window.messages.size(), 1u);
    EXPECT_EQ(fake::window.messages[0].title, texts::BAD_COORDINATES);
    EXPECT_EQ(fake::window.messages[0].text, "Неверные координаты  X");
    EXPECT_EQ(machine_state.target_x, 10);
    EXPECT_EQ(machine_state.target_y, 20);  // set, but not moving
    EXPECT_FALSE(machine_state.move_requested);
    EXPECT_EQ(control(ids::FIELD_GOTO_X).back_colour, ids::COLOUR_CHANGED);
    EXPECT_EQ(pass_bytes(), Bytes{0});
    // A later jog of another axis also takes Y to its new target.
    fake::click(ids::JOG_Z_PLUS);
    run(15);
    EXPECT_EQ(machine_state.current_y, 20);
    EXPECT_EQ(machine_state.current_z, 11);
    // One less than the table size is accepted.
    go_to(99, 20, 49);
    EXPECT_EQ(fake::window.messages.size(), 1u);
    EXPECT_EQ(machine_state.target_x, 99);
    EXPECT_EQ(machine_state.travel_height_z, 49);
}

TEST_F(MotionTest, StopDuringAGoToKeepsTheStepsMade) {
    start(kMotion);
    go_to(20, 10, 10);
    run(2);
    EXPECT_EQ(machine_state.current_x, 13);
    fake::click(ids::STOP_BUTTON);
    EXPECT_EQ(pass_bytes(), Bytes{});  // the stop pass arrives at once
    EXPECT_EQ(machine_state.current_x, 13);
    EXPECT_EQ(control(ids::PROGRESS_BAR).value, 3);
    EXPECT_EQ(pass_bytes(), Bytes{0});
    EXPECT_EQ(control(ids::PROGRESS_BAR).value, 0);
}

TEST_F(MotionTest, PauseHoldsEveryMoveUntilReleased) {
    start(kMotion);
    write_bytes("job.nc", "");
    open_job("job.nc");  // pause needs a loaded job file
    fake::click(ids::PAUSE_BUTTON);
    fake::click(ids::JOG_X_PLUS);
    run(2);
    EXPECT_TRUE(machine_state.paused);
    EXPECT_EQ(machine_state.current_x, 10);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pass_bytes(), Bytes{0});
    fake::click(ids::PAUSE_BUTTON);
    EXPECT_EQ(pass_bytes(), (Bytes{73, 67, 70, 76}));
}

TEST_F(MotionTest, PauseNeedsALoadedJobToSetButAlwaysClears) {
    start(kMotion);
    fake::click(ids::PAUSE_BUTTON);
    pass();
    EXPECT_FALSE(machine_state.paused);
    machine_state.paused = true;
    fake::click(ids::PAUSE_BUTTON);
    pass();
    EXPECT_FALSE(machine_state.paused);
}

TEST_F(MotionTest, ManualByteStandsAtRestAndReturnsAfterAMove) {
    start(kMotion);
    fake::click(ids::PORT_CHECK_FIRST);
    fake::click(ids::PORT_CHECK_LAST);
    EXPECT_EQ(pass_bytes(), Bytes{0});
    EXPECT_EQ(pass_bytes(), Bytes{0});  // composed, not yet taken over
    EXPECT_EQ(control(ids::LABEL_PANEL_BYTE).text, "129");
    fake::click(ids::OK_PORT);
    EXPECT_EQ(pass_bytes(), Bytes{129});
    // The indicators read the port before the idle write: they light one pass later.
    EXPECT_EQ(control(ids::INDICATOR_FIRST).picture, ids::PICTURE_BIT_OFF);
    EXPECT_EQ(pass_bytes(), Bytes{129});
    EXPECT_EQ(control(ids::INDICATOR_FIRST).picture, ids::PICTURE_BIT_ON);
    EXPECT_EQ(control(ids::INDICATOR_LAST).picture, ids::PICTURE_BIT_ON);
    EXPECT_EQ(control(ids::INDICATOR_FIRST + 1).picture, ids::PICTURE_BIT_OFF);
    // A jog replaces it by phase bytes; the end of the moving pass shows the last phase byte.
    fake::click(ids::JOG_Z_PLUS);
    EXPECT_EQ(pass_bytes(), (Bytes{25, 19, 22, 28}));
    EXPECT_EQ(control(ids::INDICATOR_LAST).picture, ids::PICTURE_BIT_OFF);      // 28: bit 7 clear
    EXPECT_EQ(control(ids::INDICATOR_FIRST + 4).picture, ids::PICTURE_BIT_ON);  // Z select
    EXPECT_EQ(pass_bytes(), Bytes{});
    EXPECT_EQ(pass_bytes(), Bytes{129});
    // Clearing the boxes and "Ok" puts 0 back at the next idle pass.
    fake::click(ids::PORT_CHECK_FIRST);
    fake::click(ids::PORT_CHECK_LAST);
    fake::click(ids::OK_PORT);
    run(2);
    EXPECT_EQ(pass_bytes(), Bytes{0});
}

// A move of more than 2^31 steps without an idle pass: the counter stays at its largest value.
TEST_F(MotionTest, StepCountHoldsAtItsLimit) {
    start(kMotion);
    fake::click(ids::JOG_X_PLUS);
    pass();
    fake::click(ids::JOG_X_PLUS);
    fake::click(ids::JOG_X_PLUS);
    machine_state.step_count = std::numeric_limits<std::int32_t>::max() - 1;
    run(2);
    EXPECT_EQ(machine_state.step_count, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(machine_state.current_x, 13);
}

TEST_F(MotionTest, WithoutPortAccessStepsAreCountedAndIndicatorsStayOff) {
    fake::port.access = false;
    start(kMotion);
    fake::click(ids::JOG_X_PLUS);
    run(3);
    EXPECT_EQ(machine_state.current_x, 11);
    EXPECT_TRUE(fake::port.writes.empty());
    EXPECT_EQ(fake::clock.slept_ns, 8'000'000);  // the waits still run
    EXPECT_EQ(control(ids::INDICATOR_FIRST).picture, ids::PICTURE_BIT_OFF);
}

}  // namespace
