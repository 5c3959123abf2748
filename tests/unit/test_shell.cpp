// test_shell.cpp - start-up, the main loop's dispatch, the parameter rows, field colouring,
// digit entry and Param.ini, through the real passes on the fake platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/parameters.h"
#include "base/settings.h"
#include "base/texts.h"
#include "drive/motion.h"
#include "machine_fixture.h"
#include "platform/port.h"  // PortProblem, set_port_device
#include "run/run_control.h"

namespace {

std::string file_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

using ShellTest = MachineTest;

TEST_F(ShellTest, StartUpRunsInOrderAndLoadsTheFields) {
    start({1, 2, 3, 100, 100, 100, 300, 200, 50, 7, 3, 100, 10, 20, 5});
    EXPECT_EQ(fake::window.call_log,
              (std::vector<std::string>{"start_drawing_system", "open_window", "open_drawing_area",
                                        "load_pictures", "register_shortcuts"}));
    EXPECT_EQ(fake::window.title, "CNC Mirel");
    EXPECT_EQ(fake::window.width, 1024);
    EXPECT_EQ(fake::window.height, 768);
    EXPECT_EQ(fake::window.area_width, 774);
    EXPECT_EQ(fake::window.area_height, 728);
    EXPECT_TRUE(fake::window.messages.empty());
    for (int id = ids::FIELD_FIRST; id <= ids::FIELD_LAST; ++id) {
        EXPECT_EQ(control(id).back_colour, ids::COLOUR_APPLIED) << id;
    }
    // The machine stands at the go-to position; labels show it; nothing was written yet.
    EXPECT_EQ(control(ids::LABEL_POSITION_X).text, "1000");
    EXPECT_EQ(control(ids::LABEL_POSITION_Y).text, "2000");
    EXPECT_EQ(control(ids::LABEL_POSITION_Z).text, "500");
    EXPECT_EQ(machine_state.travel_limit_x, 30000);
    EXPECT_EQ(machine_state.step_delay_ms, 7);
    EXPECT_TRUE(fake::port.writes.empty());
    // The first pass is an idle pass: it writes the manual byte 0.
    pass();
    EXPECT_EQ(fake::written_bytes(), std::vector<std::uint8_t>{0});
}

TEST_F(ShellTest, MissingParamFileIsReportedAndDefaultsAreUsed) {
    ASSERT_TRUE(start_up());
    ASSERT_EQ(fake::window.messages.size(), 1u);
    EXPECT_EQ(fake::window.messages[0].title, texts::PARAMETERS_NOT_FOUND);
    EXPECT_EQ(fake::window.messages[0].text, texts::PARAMETERS_NOT_FOUND);
    for (int i = 0; i < ids::FIELD_COUNT; ++i) {
        EXPECT_EQ(control(ids::FIELD_FIRST + i).value, DEFAULT_FIELD_VALUES[i]);
        EXPECT_FALSE(control(ids::FIELD_FIRST + i).back_colour_set);
    }
    EXPECT_GE(applied_settings.steps_per_mm_x, 1);
}

// Without port access the operator is told once, after the window has opened and after a
// missing parameter file has been reported; the "Screen error" path says nothing more.
TEST_F(ShellTest, NoPortAccessIsToldOnceAfterTheWindowOpens) {
    struct Case {
        bool port, param_file, display;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {true, true, true, {}},
        {false, true, false, {texts::SCREEN_ERROR}},
        {false, false, true, {texts::PARAMETERS_NOT_FOUND, texts::NO_PORT_ACCESS}},
        {false, true, true, {texts::NO_PORT_ACCESS}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.port << c.param_file << c.display);
        fake::reset_all();
        std::filesystem::remove("Param.ini");
        if (c.param_file) write_params(kParams);
        fake::port.access = c.port;
        fake::window.display_available = c.display;
        EXPECT_EQ(start_up(), c.display);
        std::vector<std::string> titles;
        for (const fake::Message& m : fake::window.messages) titles.push_back(m.title);
        EXPECT_EQ(titles, c.messages);
    }
    // The program runs on without the port: a jog is counted as if the machine moved.
    fake::click(ids::JOG_X_PLUS);
    run(3);
    EXPECT_EQ(machine_state.current_x, 1);
}

// A start from the desktop has no terminal: the box itself says why the port is out of reach,
// naming the device tried.
TEST_F(ShellTest, NoPortAccessBoxSaysWhyOnItsSecondLine) {
    struct Case {
        platform::PortProblem problem;
        const char* device;
        const char* text;
    };
    const Case cases[] = {
        {platform::PortProblem::no_device, nullptr,
         "Нет доступа к порту LPT\nнет устройства /dev/parport0"},
        {platform::PortProblem::no_permission, "/dev/parport1",
         "Нет доступа к порту LPT\nнет прав на /dev/parport1 (группа lp)"},
        {platform::PortProblem::busy, nullptr,
         "Нет доступа к порту LPT\nпорт занят другой программой"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        fake::reset_all();
        write_params(kParams);
        fake::port.access = false;
        fake::port.problem = c.problem;
        if (c.device) platform::set_port_device(c.device);
        ASSERT_TRUE(start_up());
        ASSERT_EQ(fake::window.messages.size(), 1u);
        EXPECT_EQ(fake::window.messages[0].title, "Нет доступа к порту LPT");
        EXPECT_EQ(fake::window.messages[0].text, c.text);
    }
}

// SIGTERM, SIGINT or SIGHUP: the pass ends and the parameters are written, as at the close box,
// also while a job runs.
TEST_F(ShellTest, TerminationSignalEndsTheProgramAndSavesTheParameters) {
    write_params(kParams);
    write_bytes("a.drl", "X50Y50\n");
    fake::window.dialog_answers.push_back(path("a.drl"));
    fake::click(ids::OPEN_FILE_BUTTON);
    fake::click(ids::START_BUTTON);
    int writes = 0;
    fake::port.on_write = [&writes](std::uint8_t) {
        // An edited field, then a signal in the middle of the run.
        ++writes;
        if (writes == 10) fake::change_field(ids::FIELD_GOTO_X, 42);
        if (writes == 40) fake::termination.requested = true;
    };
    EXPECT_EQ(run_program(), 0);
    EXPECT_TRUE(fake::termination.watching);
    EXPECT_TRUE(run_control.running);
    auto expected = kParams;
    expected[12] = 42;
    EXPECT_EQ(read_param_file("Param.ini"), std::optional<ParamValues>(expected));
}

TEST_F(ShellTest, ScreenErrorEndsWithoutTouchingParamFile) {
    write_bytes("Param.ini", "old");
    fake::window.display_available = false;
    EXPECT_EQ(run_program(), 1);
    ASSERT_EQ(fake::window.messages.size(), 1u);
    EXPECT_EQ(fake::window.messages[0].title, "Screen error");
    EXPECT_EQ(fake::window.messages[0].text, "Screen error");
    EXPECT_FALSE(fake::window.window_open);
    EXPECT_EQ(file_bytes("Param.ini"), "old");
}

// Param.ini contents that are not sixty good bytes: values outside a field's range come to
// its nearest bound, a short file's missing values are zeros brought to the bound.
TEST_F(ShellTest, ParamFileValuesAreBroughtIntoRange) {
    struct Case {
        const char* name;
        std::string bytes;
        std::array<std::int32_t, 15> fields;
    };
    const std::string good = [] {
        auto b = encode_param_file({1, 2, 3, 40, 50, 60, 70, 80, 90, 5, 6, 77, 8, 9, 10});
        return std::string(b.begin(), b.end());
    }();
    const std::string wild = [] {
        auto b = encode_param_file({-5, 10000, 0, 0, -1, 99999, 0, 2147483647, -2147483647 - 1,
                                    1000, 0, 101, -1, 10000, 5});
        return std::string(b.begin(), b.end());
    }();
    const Case cases[] = {
        {"exact", good, {1, 2, 3, 40, 50, 60, 70, 80, 90, 5, 6, 77, 8, 9, 10}},
        {"long file: bytes after sixty ignored",
         good + "garbage",
         {1, 2, 3, 40, 50, 60, 70, 80, 90, 5, 6, 77, 8, 9, 10}},
        {"short file: the rest are zeros, at the bound",
         good.substr(0, 12),
         {1, 2, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0}},
        {"empty file", "", {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0}},
        {"out of range", wild, {0, 9999, 0, 1, 1, 9999, 1, 9999, 1, 999, 1, 100, 0, 9999, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_all();
        reset_program_state();
        write_bytes("Param.ini", c.bytes);
        ASSERT_TRUE(start_up());
        EXPECT_TRUE(fake::window.messages.empty());
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(control(ids::FIELD_FIRST + i).value, c.fields[i]) << i;
        EXPECT_GE(applied_settings.steps_per_mm_z, 1);
    }
}

TEST_F(ShellTest, ParamFileIsWrittenFromTheFieldsAtExit) {
    start();
    fake::change_field(ids::FIELD_TIME_MS, 42);  // changed, never applied: still saved
    fake::press_shortcut(ids::SHORTCUT_ESC);
    EXPECT_EQ(run(10), 2);
    shut_down();
    auto expected = kParams;
    expected[9] = 42;
    const auto bytes = encode_param_file(expected);
    EXPECT_EQ(file_bytes("Param.ini"), std::string(bytes.begin(), bytes.end()));
    // Only Param.ini is left: no temporary file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(ShellTest, EscEndsTheLoopOnlyWhileNoJobRuns) {
    start();
    run_control.running = true;
    fake::press_shortcut(ids::SHORTCUT_ESC);
    EXPECT_EQ(run(5), 5);
    run_control.running = false;
    fake::press_shortcut(ids::SHORTCUT_ESC);
    EXPECT_EQ(run(5), 1);
}

TEST_F(ShellTest, CloseBoxEndsTheLoopEvenWhileAJobRuns) {
    start();
    run_control.running = true;
    fake::close_box();
    EXPECT_EQ(run(5), 1);
}

TEST_F(ShellTest, OtherEventKindsAreIgnoredButThePassRuns) {
    start();
    fake::push_event(12345, 3);
    pass();
    EXPECT_EQ(fake::window.presents, 1);
    EXPECT_FALSE(machine_state.move_requested);
}

TEST_F(ShellTest, OkRowsApplyTheirFields) {
    start();
    fake::change_field(ids::FIELD_BACKLASH_Y, 7);
    fake::change_field(ids::FIELD_STEPS_PER_MM_X, 20);
    fake::change_field(ids::FIELD_STEPS_PER_MM_Z, 20);
    fake::change_field(ids::FIELD_TABLE_SIZE_Y, 60);
    run(4);
    EXPECT_EQ(control(ids::FIELD_BACKLASH_Y).back_colour, ids::COLOUR_CHANGED);
    fake::click(ids::OK_BACKLASH);
    pass();
    EXPECT_EQ(applied_settings.backlash_y, 7);
    EXPECT_EQ(control(ids::FIELD_BACKLASH_Y).back_colour, ids::COLOUR_APPLIED);
    // Steps per mm also applies the table size as it stands, and greys it.
    fake::click(ids::OK_STEPS_PER_MM);
    pass();
    EXPECT_EQ(applied_settings.steps_per_mm_x, 20);
    EXPECT_EQ(machine_state.travel_limit_x, 2000);
    EXPECT_EQ(machine_state.travel_limit_y, 600);
    EXPECT_EQ(machine_state.travel_limit_z, 1000);
    EXPECT_EQ(control(ids::FIELD_TABLE_SIZE_Y).back_colour, ids::COLOUR_APPLIED);
    // ...but depth, travel height and position keep their steps (at the old 10 steps per mm of Z)
    // until their own row is applied.
    EXPECT_EQ(applied_settings.depth_steps, 30);
    EXPECT_EQ(machine_state.travel_height_z, 100);
    EXPECT_EQ(machine_state.target_z, 100);
    fake::change_field(ids::FIELD_TIME_MS, 300);
    fake::change_field(ids::FIELD_DEPTH_MM, 4);
    fake::change_field(ids::FIELD_GOTO_Z, 12);
    fake::change_field(ids::FIELD_STEPS_PER_MM_Z, 5);
    fake::click(ids::OK_STEPS_PER_MM);
    fake::click(ids::OK_TIME_DEPTH_SCALE);
    run(6);
    EXPECT_EQ(machine_state.step_delay_ms, 300);
    EXPECT_EQ(applied_settings.depth_steps, 20);
    EXPECT_EQ(machine_state.travel_height_z, 60);
    EXPECT_TRUE(fake::window.messages.empty());
}

TEST_F(ShellTest, DepthNotAboveTableShowsMessageButApplies) {
    start();
    fake::change_field(ids::FIELD_DEPTH_MM, 50);  // equal to table Z
    machine_state.move_requested = true;
    machine_state.paused = true;
    fake::click(ids::OK_TIME_DEPTH_SCALE);
    run(2);
    ASSERT_EQ(fake::window.messages.size(), 1u);
    EXPECT_EQ(fake::window.messages[0].title, "Неверные координаты");
    EXPECT_EQ(fake::window.messages[0].text, "Неверная глубина  Z");
    EXPECT_EQ(applied_settings.depth_steps, 500);
    EXPECT_FALSE(machine_state.move_requested);
}

TEST_F(ShellTest, FieldColouringComparesEveryFieldWithItsAppliedValue) {
    start();
    fake::change_field(ids::FIELD_SCALE_PERCENT, 50);
    pass();
    EXPECT_EQ(control(ids::FIELD_SCALE_PERCENT).back_colour, ids::COLOUR_CHANGED);
    // Typing it back and touching any field turns it grey again.
    fake::change_field(ids::FIELD_SCALE_PERCENT, 100);
    pass();
    EXPECT_EQ(control(ids::FIELD_SCALE_PERCENT).back_colour, ids::COLOUR_APPLIED);
    // After a jog the go-to field no longer matches the target in whole millimetres.
    for (int i = 0; i < 10; ++i) fake::click(ids::JOG_X_PLUS);
    run(25);
    fake::change_field(ids::FIELD_BACKLASH_X, 0);
    pass();
    EXPECT_EQ(control(ids::FIELD_GOTO_X).back_colour, ids::COLOUR_CHANGED);
    EXPECT_EQ(control(ids::FIELD_GOTO_Y).back_colour, ids::COLOUR_APPLIED);
}

// Digit keys type into the focused field through the shared buffer.
TEST_F(ShellTest, DigitEntrySequences) {
    struct Case {
        const char* name;
        int focused;
        std::vector<int> shortcuts;
        std::int32_t field_value;  // of field 26 (table size X, range 1..9999)
    };
    const Case cases[] = {
        {"three digits", ids::FIELD_TABLE_SIZE_X, {11, 12, 14}, 235},
        {"fifth digit resets the field", ids::FIELD_TABLE_SIZE_X, {10, 11, 12, 13, 14}, 1},
        {"a digit after the reset starts anew",
         ids::FIELD_TABLE_SIZE_X,
         {10, 11, 12, 13, 14, 16},
         7},
        {"an arrow key sets the buffer again",
         ids::FIELD_TABLE_SIZE_X,
         {10, 11, ids::SHORTCUT_LEFT},
         12},
        {"focus elsewhere only fills the buffer", ids::OK_GOTO, {10, 11}, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_all();
        reset_program_state();
        start();
        fake::focus(c.focused);
        for (int s : c.shortcuts) fake::press_shortcut(s);
        run(static_cast<int>(c.shortcuts.size()));
        EXPECT_EQ(control(ids::FIELD_TABLE_SIZE_X).value, c.field_value);
    }
}

TEST_F(ShellTest, DigitBufferCarriesOverToTheNextFocusedField) {
    start();
    fake::focus(-1);
    fake::press_shortcut(ids::SHORTCUT_DIGIT_1 + 3);  // 4
    fake::press_shortcut(ids::SHORTCUT_DIGIT_0);      // 0
    run(2);
    fake::focus(ids::FIELD_STEPS_PER_MM_X);
    fake::press_shortcut(ids::SHORTCUT_A);  // jogs Z and puts "40" into the field
    pass();
    EXPECT_EQ(control(ids::FIELD_STEPS_PER_MM_X).value, 40);
    EXPECT_EQ(control(ids::FIELD_STEPS_PER_MM_X).back_colour, ids::COLOUR_CHANGED);
    EXPECT_EQ(machine_state.target_z, 101);
    // With an empty buffer, field 23 gets 0, which its minimum turns into 1.
    fake::reset_all();
    reset_program_state();
    start();
    fake::focus(ids::FIELD_STEPS_PER_MM_X);
    fake::press_shortcut(ids::SHORTCUT_LEFT);
    pass();
    EXPECT_EQ(control(ids::FIELD_STEPS_PER_MM_X).value, 1);
}

TEST_F(ShellTest, ShortcutsAreDroppedWhileAJobRuns) {
    start();
    run_control.running = true;
    fake::focus(ids::FIELD_TABLE_SIZE_X);
    fake::press_shortcut(ids::SHORTCUT_DIGIT_1);
    fake::press_shortcut(ids::SHORTCUT_RIGHT);
    run(2);
    EXPECT_EQ(control(ids::FIELD_TABLE_SIZE_X).value, 100);
    EXPECT_EQ(machine_state.target_x, 0);
    // The jog buttons still act.
    fake::click(ids::JOG_X_PLUS);
    pass();
    EXPECT_EQ(machine_state.target_x, 1);
}
