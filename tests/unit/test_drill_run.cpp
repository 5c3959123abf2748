// test_drill_run.cpp - opening a job, Start, Pause and Stop, and the drilling run hole by hole,
// through the real passes on the fake platform.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "base/settings.h"
#include "base/texts.h"
#include "drive/motion.h"
#include "job_file_folder.h"  // edit_keeping_times
#include "jobs/job.h"
#include "jobs/line_reader.h"  // line_reader_read_hook
#include "jobs/preview.h"
#include "machine_fixture.h"
#include "run/run_control.h"

namespace {

// Which axis a pass stepped, from the first phase byte it wrote; '.' for none, 'i' for idle.
char pass_axis(const std::vector<fake::PortWrite>& writes, std::size_t first) {
    if (first == writes.size()) return '.';
    switch (writes[first].value) {
        case 25:
            return writes[first + 1].value == 19 ? 'Z' : 'z';  // Z up / Z down
        case 41:
            return writes[first + 1].value == 35 ? 'Y' : 'y';
        case 73:
            return writes[first + 1].value == 67 ? 'X' : 'x';
        default:
            return 'i';
    }
}

class DrillRunTest : public MachineTest {
protected:
    // Runs passes and records, per pass, the axis it stepped.
    std::string trace(int passes) {
        std::string t;
        for (int i = 0; i < passes; ++i) {
            const std::size_t first = fake::port.writes.size();
            pass();
            t += pass_axis(fake::port.writes, first);
        }
        return t;
    }
    static std::string repeat(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }
};

// Compresses a pass trace into runs such as "Y200 X100 . z70 .".
std::string runs(const std::string& t) {
    std::string out;
    for (std::size_t i = 0; i < t.size();) {
        std::size_t j = i;
        while (j < t.size() && t[j] == t[i]) ++j;
        if (!out.empty()) out += ' ';
        out += t[i];
        if (j - i > 1 || t[i] != '.') out += std::to_string(j - i);
        i = j;
    }
    return out;
}

TEST_F(DrillRunTest, ExampleJobPassByPass) {
    start();  // 10 steps/mm, depth 3 mm (30 steps), travel height 10 mm (100 steps)
    write_bytes("board.drl", "M48\nX10Y20\nX30Y20\nM30\n");
    open_job("board.drl");
    EXPECT_EQ(control(ids::LABEL_PROGRAM_TYPE).text, texts::TYPE_DRILLING);
    EXPECT_EQ(job_state.job_length, 22);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 10, 20), COLOUR_HOLE);
    std::size_t message_pass = 0;
    int pass_number = 0;
    fake::window.on_message = [&](const fake::Message&) {
        message_pass = static_cast<std::size_t>(pass_number);
        // The tool is still at the bottom of the last hole when the box comes.
        EXPECT_EQ(machine_state.current_z, 30);
        EXPECT_EQ(machine_state.current_x, 300);
    };
    fake::click(ids::START_BUTTON);
    std::string t;
    for (; pass_number < 1600 && (pass_number == 0 || machine_state.move_requested);
         ++pass_number) {
        const std::size_t first = fake::port.writes.size();
        pass();
        t += pass_axis(fake::port.writes, first);
        if (pass_number == 0) {
            EXPECT_EQ(machine_state.target_x, 100);
            EXPECT_EQ(machine_state.target_y, 200);
            EXPECT_EQ(control(ids::OPEN_FILE_BUTTON).visible, false);
            EXPECT_EQ(control(ids::PROGRESS_BAR).progress_maximum, 22);
        }
    }
    EXPECT_EQ(runs(t), "Y200 X100 . z70 . Z70 X200 . z70 . Z70 y200 x300 .");
    ASSERT_EQ(message_texts(), std::vector<std::string>{texts::PROGRAM_FINISHED});
    EXPECT_EQ(fake::window.messages[0].title, texts::PROGRAM_FINISHED);
    // The message comes in the pass that fetches "M30", right after the last plunge's arrival.
    EXPECT_EQ(message_pass,
              static_cast<std::size_t>(200 + 100 + 1 + 70 + 1 + 70 + 200 + 1 + 70 + 1));
    EXPECT_EQ(machine_state.current_x, 0);
    EXPECT_EQ(machine_state.current_y, 0);
    EXPECT_EQ(machine_state.current_z, 100);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 10, 20), COLOUR_DRILLED);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 30, 20), COLOUR_DRILLED);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 30, 23), COLOUR_CANVAS);
    // Finished: still running, controls hidden, progress 0 in idle passes, Esc ignored.
    fake::press_shortcut(ids::SHORTCUT_ESC);
    EXPECT_EQ(run(3), 3);
    EXPECT_TRUE(run_control.running);
    EXPECT_EQ(control(ids::PROGRESS_BAR).value, 0);
    fake::click(ids::STOP_BUTTON);
    pass();
    EXPECT_TRUE(control(ids::OK_GOTO).visible);
}

TEST_F(DrillRunTest, StartIsIgnoredWithoutAFileAndWhileRunning) {
    start();
    fake::click(ids::START_BUTTON);
    pass();
    EXPECT_FALSE(run_control.running);
    EXPECT_TRUE(control(ids::OPEN_FILE_BUTTON).visible);
    write_bytes("a.drl", "X10Y10\nX20Y10\n");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    pass();
    const std::int32_t position = job_state.job_position;
    fake::click(ids::START_BUTTON);
    pass();
    EXPECT_EQ(job_state.job_position, position);
    EXPECT_EQ(run_control.run_state, drill_travel);
}

TEST_F(DrillRunTest, PauseDuringAPlungeHoldsTheToolDown) {
    start();
    write_bytes("a.drl", "X1Y0\nX2Y0\n");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    EXPECT_EQ(runs(trace(10 + 1 + 35)), "X10 . z35");
    fake::click(ids::PAUSE_BUTTON);
    EXPECT_EQ(runs(trace(5)), "i5");
    EXPECT_EQ(machine_state.current_z, 65);
    EXPECT_EQ(control(ids::PROGRESS_BAR).value, 0);
    fake::click(ids::PAUSE_BUTTON);
    EXPECT_EQ(runs(trace(36)), "z35 .");
    EXPECT_EQ(control(ids::PROGRESS_BAR).value, 5);  // bytes of the first hole line
}

TEST_F(DrillRunTest, StopAndStartGoesOnAfterTheLastFetchedHole) {
    start();
    write_bytes("a.drl", "X1Y0\nX2Y0\nX3Y0\n");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    trace(5);  // half way to the first hole
    fake::click(ids::STOP_BUTTON);
    pass();
    EXPECT_FALSE(run_control.running);
    EXPECT_TRUE(control(ids::OPEN_FILE_BUTTON).visible);
    EXPECT_EQ(trace(2), "ii");  // the manual byte stands on the lines
    EXPECT_EQ(machine_state.current_x, 5);
    fake::click(ids::START_BUTTON);
    pass();
    // The first hole was cut short and stays undrilled: the next fetch takes the second.
    EXPECT_EQ(machine_state.target_x, 20);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 1, 0), COLOUR_HOLE);
}

TEST_F(DrillRunTest, LastHoleWithoutTerminatorIsDrilledBeforeCompletion) {
    start();
    write_bytes("a.drl", "X1Y0\nX2Y0");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    run(2000);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::PROGRAM_FINISHED});
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 2, 0), COLOUR_DRILLED);
    EXPECT_EQ(machine_state.current_x, 0);
}

TEST_F(DrillRunTest, NoHoleLeftWithoutM30EndsTheJob) {
    start();
    write_bytes("a.drl", "X1Y1\n\n");  // a blank last line, no "M30"
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    run(2000);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::PROGRAM_FINISHED});
    EXPECT_FALSE(machine_state.move_requested);
    EXPECT_EQ(machine_state.current_x, 0);
    EXPECT_EQ(machine_state.current_z, 100);
}

TEST_F(DrillRunTest, EmptyJobCompletesOnceAndStartAfterCompletionRestarts) {
    start();
    write_bytes("empty.drl", "");
    open_job("empty.drl");
    fake::click(ids::START_BUTTON);
    run(300);
    EXPECT_EQ(message_texts().size(), 1u);
    fake::window.messages.clear();
    // A job that ran to its end starts again from its first byte.
    fake::click(ids::STOP_BUTTON);
    pass();
    write_bytes("two.drl", "X1Y0\nM30\n");
    open_job("two.drl");
    fake::click(ids::START_BUTTON);
    run(1000);
    ASSERT_EQ(message_texts().size(), 1u);
    fake::window.messages.clear();
    fake::click(ids::STOP_BUTTON);
    fake::click(ids::START_BUTTON);
    run(3);
    EXPECT_EQ(machine_state.target_x, 10);  // the hole again
    run(1000);
    EXPECT_EQ(message_texts().size(), 1u);
}

TEST_F(DrillRunTest, UnknownExtensionStartsButNothingMoves) {
    start();
    write_bytes("job.nc", "X10Y10\n");
    open_job("job.nc");
    EXPECT_EQ(control(ids::LABEL_PROGRAM_TYPE).text, texts::TYPE_NONE);
    fake::click(ids::START_BUTTON);
    run(5);
    EXPECT_TRUE(run_control.running);
    EXPECT_FALSE(control(ids::OPEN_FILE_BUTTON).visible);
    EXPECT_EQ(machine_state.current_x, 0);
    // Told at open that the file is not a job; then length 0 and position 0: the completion
    // test fires, once, and says that nothing was done.
    EXPECT_EQ(message_texts(),
              (std::vector<std::string>{"Файл не в формате станка", texts::NO_POINTS}));
}

TEST_F(DrillRunTest, DeletedJobFileStopsTheRunWithoutMoving) {
    start();
    write_bytes("a.drl", "X1Y0\nX5Y5\n");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    run(5);
    std::filesystem::remove(path("a.drl"));
    run(200);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::FILE_NOT_OPENED});
    EXPECT_FALSE(run_control.running);
    EXPECT_TRUE(control(ids::OPEN_FILE_BUTTON).visible);
    EXPECT_EQ(machine_state.target_x, 10);  // the travel to X5Y5 never began
    EXPECT_EQ(machine_state.target_y, 0);
    EXPECT_FALSE(machine_state.move_requested);
}

// How a job file is changed under a running job.
enum class Change {
    longer,
    renamed_over,
    edited_in_place,
    edited_later_keeping_times,
    edited_during_a_fetch,
    other_bytes_same_identity,
};

class ChangedJobTest : public DrillRunTest, public testing::WithParamInterface<Change> {
protected:
    void TearDown() override {
        line_reader_read_hook = nullptr;
        DrillRunTest::TearDown();
    }

    // The read hook's edit: the next hole becomes X9Y9 after the fetch's check at open, before
    // its bytes are read.
    static inline std::string edited_file;
    static void edit_before_the_read(int, std::int64_t) {
        line_reader_read_hook = nullptr;
        std::fstream file(edited_file, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(5);
        file << "X9Y9";
    }

    // An old modification time, so that an edit within the same clock tick still shows.
    void set_old_time(const std::string& name) {
        const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path(name).c_str(), times, 0), 0);
    }

    // Two holes, then comment lines past the first 4 KB block, then a last hole there.
    static std::string job(const std::string& last_hole) {
        std::string bytes = "X1Y0\nX5Y5\n";
        while (bytes.size() < 6000) bytes += ";" + std::string(59, 'c') + "\n";
        return bytes + last_hole;
    }
};

// Whatever the change, even one that keeps the length and the times, the run ends as at Stop
// with "Файл не открыт" at its next fetch and never travels to a point of the new file.
TEST_P(ChangedJobTest, EndsTheRunWithoutMovingToItsPoints) {
    start();
    write_bytes("a.drl", job("X7Y7\n"));
    set_old_time("a.drl");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    run(5);
    switch (GetParam()) {
        case Change::longer:
            write_bytes("a.drl", job("X7Y7\nX8Y8\n"));
            break;
        case Change::renamed_over:
            // Same length and time: only the file itself differs.
            write_bytes("b.drl", job("X9Y9\n"));
            set_old_time("b.drl");
            std::filesystem::rename(path("b.drl"), path("a.drl"));
            break;
        case Change::edited_in_place: {
            std::fstream file(path("a.drl"), std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(5);
            file << "X9Y9";
            break;
        }
        case Change::edited_later_keeping_times:
            // Only the last hole, far from the bytes the next fetch reads, with the times put
            // back: the status-change time alone tells.
            ASSERT_TRUE(edit_keeping_times(path("a.drl"), 6000, "X9Y9"));
            break;
        case Change::edited_during_a_fetch:
            edited_file = path("a.drl");
            line_reader_read_hook = edit_before_the_read;
            break;
        case Change::other_bytes_same_identity:
            // The next hole edited, and the job's record given the file's new identity, as if
            // every time had been put back: only the bytes tell.
            ASSERT_TRUE(edit_keeping_times(path("a.drl"), 5, "X9Y9"));
            job_state.file_fingerprint.identity = job_file_identity(path("a.drl"));
            break;
    }
    run(200);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::FILE_NOT_OPENED});
    EXPECT_FALSE(run_control.running);
    EXPECT_EQ(machine_state.target_x, 10);
    EXPECT_EQ(machine_state.target_y, 0);
    EXPECT_FALSE(machine_state.move_requested);
}

std::string change_name(const testing::TestParamInfo<Change>& change) {
    switch (change.param) {
        case Change::longer:
            return "Longer";
        case Change::renamed_over:
            return "RenamedOver";
        case Change::edited_in_place:
            return "EditedInPlace";
        case Change::edited_later_keeping_times:
            return "EditedLaterKeepingTimes";
        case Change::edited_during_a_fetch:
            return "EditedDuringAFetch";
        case Change::other_bytes_same_identity:
            break;
    }
    return "OtherBytesSameIdentity";
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedJobTest,
                         testing::Values(Change::longer, Change::renamed_over,
                                         Change::edited_in_place,
                                         Change::edited_later_keeping_times,
                                         Change::edited_during_a_fetch,
                                         Change::other_bytes_same_identity),
                         change_name);

// A job whose points lie outside the table as applied is drawn, loaded and run as before, with
// one message each time it is drawn; points the scan does not hand over do not count.
TEST_F(DrillRunTest, JobOutsideTheTableIsToldWhenDrawn) {
    struct Case {
        const char* name;
        const char* bytes;
        bool told;
    };
    // The table is 100 x 100 mm at 10 steps per mm.
    const Case cases[] = {
        {"a.drl", "X10Y20\nX100Y100\nM30\n", false},
        {"b.drl", "X10Y20\nX10Y-1\nX20Y-5\n", true},
        {"c.drl", "X101Y0\n", true},
        {"d.drl", "x500y500\nX500\n", true},
        {"e.drl", "x500y500\n", false},  // the preview scan skips lower case
        {"a.plt", "PU;\nPA0,0;\nPD;\nPA0,0;\nPA50,100;\n", false},
        {"b.plt", "PU;\nPA0,0;\nPD;\nPA10,10;\nPA-51,0;\n", true},
        {"c.plt", "PD;\nPA500,0;\nPU;\n", false},  // a one-point stroke draws nothing
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::window.messages.clear();
        write_bytes(c.name, c.bytes);
        open_job(c.name);
        EXPECT_EQ(message_texts(), c.told ? std::vector<std::string>{texts::OUTSIDE_TABLE}
                                          : std::vector<std::string>{});
        EXPECT_EQ(job_state.job_file_name, path(c.name));
    }
    // A smaller table makes the first job stick out when its scale is applied again.
    open_job("a.drl");
    fake::window.messages.clear();
    fake::change_field(ids::FIELD_TABLE_SIZE_Y, 99);
    fake::click(ids::OK_TABLE_SIZE);
    fake::click(ids::OK_TIME_DEPTH_SCALE);
    run(3);
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::OUTSIDE_TABLE});
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 100, 100), COLOUR_HOLE);
}

// A plot file with several commands on a line (a raw CAD export) or a file of neither job kind
// is told once at open, after the table warning; it stays loaded, and drawing it again at
// another scale says nothing more.
TEST_F(DrillRunTest, FileNotInTheMachinesDialectIsToldAtOpen) {
    const std::string told = "Файл не в формате станка";
    struct Case {
        const char* name;
        const char* bytes;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"a.plt", "PU;\nPA0,0;\nPD;\nPA10,10;\n", {}},
        {"b.plt", "IN;SP1;\nPU;PA0,0;\nPD;PA100,30;PU;\n", {told}},
        {"c.plt", "PU;\nPA0,0;\nPD;\nPA10,10; \t\r\nPA20,20;\n", {}},    // blanks after ";"
        {"d.plt", "PU;\nPA0,0;\nPD;\nPA10,10;\nPA20,20;PU;\n", {told}},  // on the last line
        {"e.plt", "PU;\nPA0,0;\nPD;\nPA-60,0;PA0,0;\nPA10,10;\n", {texts::OUTSIDE_TABLE, told}},
        {"f.drl", "X1Y1;X2Y2\n", {}},  // drilling files are not looked at
        {"g.txt", "PU;\nPA0,0;\n", {told}},
        {"h", "X1Y1\n", {told}},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::window.messages.clear();
        write_bytes(c.name, c.bytes);
        open_job(c.name);
        EXPECT_EQ(message_texts(), c.messages);
        for (const fake::Message& m : fake::window.messages) EXPECT_EQ(m.title, m.text);
        EXPECT_EQ(job_state.job_file_name, path(c.name));
    }
    open_job("b.plt");
    EXPECT_EQ(job_state.job_length, 34);
    EXPECT_EQ(control(ids::LABEL_PROGRAM_TYPE).text, texts::TYPE_MILLING);
    fake::window.messages.clear();
    fake::click(ids::OK_TIME_DEPTH_SCALE);
    run(3);
    EXPECT_TRUE(fake::window.messages.empty());
}

// A run that ends without taking a single point says so instead of reporting success.
TEST_F(DrillRunTest, JobWithoutPointsSaysSoAtItsEnd) {
    start();
    for (const char* bytes : {"", "M48\nT1C0.8\nM30\n",
                              "\x7f"
                              "ELF\x01\x00\x00PK"}) {
        SCOPED_TRACE(bytes);
        fake::window.messages.clear();
        write_bytes("a.drl", bytes);
        open_job("a.drl");
        fake::click(ids::START_BUTTON);
        run(5);
        EXPECT_EQ(message_texts(), std::vector<std::string>{texts::NO_POINTS});
        fake::click(ids::STOP_BUTTON);
        run(400);
    }
    // One hole is enough for the usual message, also on a Start that begins the job again.
    write_bytes("a.drl", "X1Y1\nM30\n");
    open_job("a.drl");
    for (int start = 0; start < 2; ++start) {
        fake::window.messages.clear();
        fake::click(ids::START_BUTTON);
        run(200);
        EXPECT_EQ(message_texts(), std::vector<std::string>{texts::PROGRAM_FINISHED});
        fake::click(ids::STOP_BUTTON);
        run(400);
    }
}

TEST_F(DrillRunTest, JogButtonDuringTravelShiftsTheHole) {
    start();
    write_bytes("a.drl", "X2Y0\n");
    open_job("a.drl");
    fake::click(ids::START_BUTTON);
    run(3);
    fake::click(ids::JOG_X_PLUS);
    run(30);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 2, 0), COLOUR_DRILLED);
    EXPECT_EQ(machine_state.current_x, 21);
    // The jog keys do nothing while the job runs.
    const std::int32_t target = machine_state.target_x;
    fake::press_shortcut(ids::SHORTCUT_RIGHT);
    pass();
    EXPECT_EQ(machine_state.target_x, target);
}

TEST_F(DrillRunTest, OpenFileFlow) {
    start();
    // Cancelled: message, no job.
    fake::click(ids::OPEN_FILE_BUTTON);
    pass();
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::FILE_NOT_OPENED});
    ASSERT_EQ(fake::window.dialogs.size(), 1u);
    EXPECT_EQ(fake::window.dialogs[0].title, "Please choose file to load");
    EXPECT_EQ(fake::window.dialogs[0].filter,
              "Файл сверления .DRL|*.drl|Файл фрезеровки .PLT|*.plt");
    EXPECT_EQ(fake::window.dialogs[0].selected_filter, 1);
    // Capitals in the extension, and a dot in a folder name, are handled.
    std::filesystem::create_directories(dir_ / "v1.5");
    write_bytes("v1.5/BOARD.DRL", "X7Y8\n");
    open_job("v1.5/BOARD.DRL");
    EXPECT_EQ(control(ids::LABEL_PROGRAM_TYPE).text, texts::TYPE_DRILLING);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 7, 8), COLOUR_HOLE);
    write_bytes("v1.5/notes", "X7Y8\n");
    open_job("v1.5/notes");
    EXPECT_EQ(job_state.job_position, 0);
    EXPECT_EQ(control(ids::LABEL_PROGRAM_TYPE).text, texts::TYPE_DRILLING);
    // A missing drilling file is refused with a message; the old drawing stays.
    fake::window.messages.clear();
    open_job("missing.drl");
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::FILE_NOT_OPENED});
    EXPECT_TRUE(job_state.job_file_name.empty());
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 7, 8), COLOUR_HOLE);
    // A file too long for the byte offsets of a run (a sparse file, so nothing is written).
    fake::window.messages.clear();
    write_bytes("huge.drl", "X1Y1\n");
    std::filesystem::resize_file(path("huge.drl"), std::uintmax_t{1} << 31);
    open_job("huge.drl");
    EXPECT_EQ(message_texts(), std::vector<std::string>{texts::FILE_NOT_OPENED});
    EXPECT_TRUE(job_state.job_file_name.empty());
}

TEST_F(DrillRunTest, ScaleOkRedrawsThePreviewAndDropsTheMarks) {
    start();
    write_bytes("a.drl", "X100Y200\n");
    open_job("a.drl");
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 100, 200), COLOUR_HOLE);
    fake::change_field(ids::FIELD_SCALE_PERCENT, 91);
    fake::click(ids::OK_TIME_DEPTH_SCALE);
    run(2);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 100, 200), COLOUR_CANVAS);
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 10, 20), COLOUR_HOLE);
    EXPECT_EQ(job_state.job_length, 9);
}

}  // namespace
