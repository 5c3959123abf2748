// test_step_wait.cpp - the phase wait on scripted clocks: it never ends before its deadline,
// the spin ends it when the sleep wakes in time, late ends are counted, and the work of a long
// wait runs only while far from the deadline and is over before the spin margin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "drive/phase_cycle.h"
#include "platform/fake/fake.h"
#include "platform/step_wait.h"

namespace {

constexpr std::int64_t MS = 1'000'000;
constexpr std::int64_t US = 1'000;

// A clock whose sleeps wake `wake_late_ns` after the asked time, or, with `early_wakes`, halfway
// there (as a signal would end them), and whose spin ends one clock read past its deadline.
struct ScriptedClock {
    std::int64_t now_ns = 0;
    std::int64_t wake_late_ns = 0;
    bool early_wakes = false;
    std::int64_t work_cost_ns = 0;
    std::vector<std::int64_t> work_starts;
};
ScriptedClock script;
constexpr std::int64_t CLOCK_READ_NS = 30;

std::int64_t scripted_now() {
    return script.now_ns;
}
void scripted_sleep(std::int64_t deadline_ns) {
    if (script.early_wakes && deadline_ns > script.now_ns) {
        script.now_ns += (deadline_ns - script.now_ns + 1) / 2;
    } else {
        script.now_ns = std::max(script.now_ns, deadline_ns) + script.wake_late_ns;
    }
}
void scripted_spin(std::int64_t deadline_ns) {
    script.now_ns = std::max(script.now_ns, deadline_ns) + CLOCK_READ_NS;
}
void scripted_work() {
    script.work_starts.push_back(script.now_ns);
    script.now_ns += script.work_cost_ns;
}
constexpr step_wait::Clock SCRIPTED = {scripted_now, scripted_sleep, scripted_spin};

class StepWaitTest : public ::testing::Test {
protected:
    void TearDown() override {
        step_wait::set_work(nullptr);
        step_wait::tuning = step_wait::Tuning{};
    }
};

TEST_F(StepWaitTest, EndsAtOrAfterTheDeadlineAndKeepsTheWorkClearOfTheMargin) {
    const step_wait::Tuning t;
    struct Wake {
        const char* name;
        std::int64_t late_ns;
        bool early;
    };
    const Wake wakes[] = {{"prompt", 0, false},
                          {"usual latency", 80 * US, false},
                          {"woken early", 0, true},
                          {"stalled 1.1 ms", 1100 * US, false},
                          {"stalled 1.5 ms", 1500 * US, false}};
    for (const std::int64_t delay : {1 * MS, 5 * MS, 60 * MS, 500 * MS}) {
        for (const Wake& wake : wakes) {
            for (const bool with_work : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "delay " << delay / MS << " ms, wake "
                                                  << wake.name << (with_work ? ", work" : ""));
                script = ScriptedClock{};
                script.now_ns = 7 * MS;
                script.wake_late_ns = wake.late_ns;
                script.early_wakes = wake.early;
                script.work_cost_ns = 2 * MS;
                step_wait::set_work(with_work ? scripted_work : nullptr);
                const std::int64_t deadline = script.now_ns + delay;
                const std::int64_t late_before = step_wait::late_count();

                step_wait::wait_until(deadline, SCRIPTED);

                const std::int64_t excess = script.now_ns - deadline;
                EXPECT_GE(excess, 0);
                if (wake.late_ns < t.spin_margin_ns) {
                    EXPECT_EQ(excess, CLOCK_READ_NS);
                }
                // Late means over a millisecond past the deadline.
                EXPECT_EQ(step_wait::late_count() - late_before, excess > 1 * MS ? 1 : 0);
                // The work runs in long waits only, never closer to the deadline than its
                // threshold, and is over before the spin margin begins.
                EXPECT_EQ(!script.work_starts.empty(),
                          with_work && delay > t.work_min_remaining_ns);
                for (std::size_t i = 0; i < script.work_starts.size(); ++i) {
                    const std::int64_t start = script.work_starts[i];
                    EXPECT_LE(start, deadline - t.work_min_remaining_ns);
                    EXPECT_LE(start + script.work_cost_ns, deadline - t.spin_margin_ns);
                    if (i > 0) {
                        EXPECT_GE(start - script.work_starts[i - 1], t.work_period_ns);
                    }
                }
            }
        }
    }
}

TEST_F(StepWaitTest, ALongStepOnTheFakeClockRepaintsThroughoutAndKeepsEveryPhaseWhole) {
    // The work stands for a repaint that takes 3 ms of the virtual clock.
    static std::vector<std::int64_t> repaints;
    repaints.clear();
    step_wait::set_work([] {
        repaints.push_back(fake::clock.now_ns);
        fake::clock.now_ns += 3 * MS;
    });
    fake::reset_all();
    fake::clock.now_ns = 1 * MS;

    phase_cycle_increasing(64, 500);

    ASSERT_EQ(fake::port.writes.size(), 4u);
    std::vector<std::int64_t> ends;
    for (std::size_t i = 1; i < 4; ++i) ends.push_back(fake::port.writes[i].time_ns);
    ends.push_back(fake::clock.now_ns);
    const step_wait::Tuning t;
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const std::int64_t start = fake::port.writes[i].time_ns;
        EXPECT_EQ(ends[i] - start, 500 * MS);
        int in_phase = 0;
        for (const std::int64_t r : repaints) {
            if (r < start || r >= ends[i]) continue;
            ++in_phase;
            EXPECT_LE(r + 3 * MS, ends[i] - t.spin_margin_ns);
        }
        // Once a display frame, less the last threshold of the phase.
        EXPECT_GE(in_phase, (500 * MS - t.work_min_remaining_ns) / t.work_period_ns);
    }
}

}  // namespace
