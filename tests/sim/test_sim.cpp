// test_sim.cpp - cncmirel-sim run as a program on small job files. The expected outputs in
// tests/data/sim were worked out by hand from the controller's rules (readers, runs, run
// control); the port log is checked against the phase tables and the picture is decoded here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "jobs/line_reader.h"  // line_reader_read_hook
#include "sim.h"

namespace fs = std::filesystem;

namespace {

using Params = std::array<std::int32_t, 15>;  // fields 20..34 in order

// 10 steps per mm on every axis, a 100 x 100 x 50 mm table, 1 ms steps, depth 3 mm, scale 100 %,
// the machine at (0, 0, 10) mm: depth 30 steps, travel height 100 steps.
constexpr Params DRILL_PARAMS = {0, 0, 0, 10, 10, 10, 100, 100, 50, 1, 3, 100, 0, 0, 10};
// 1 step per mm, a 300 x 200 x 50 mm table, depth 3, travel height 10.
constexpr Params MILL_PARAMS = {0, 0, 0, 1, 1, 1, 300, 200, 50, 1, 3, 100, 0, 0, 10};

std::string data(const std::string& name) {
    return std::string(SIM_DATA) + "/" + name;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_fd(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char block[4096];
    std::size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, n);
    return text;
}

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string last_line(const std::string& text) {
    if (text.empty()) return {};
    const std::size_t start = text.find_last_of('\n', text.size() - 2);
    return text.substr(start == std::string::npos ? 0 : start + 1);
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("cnc-sim-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        work_ = root_ / "work";
        fs::create_directories(work_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Runs the simulator program in the work folder; its standard output goes to `out_path`.
    Outcome sim(const std::vector<std::string>& args, fs::path out_path = {}) {
        if (out_path.empty()) out_path = root_ / "stdout";
        const fs::path err_path = root_ / "stderr";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(work_.c_str()) != 0) ::_exit(126);
            const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
            std::vector<char*> argv{const_cast<char*>(SIM_PROGRAM)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(SIM_PROGRAM, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        Outcome outcome;
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (out_path != "/dev/full") outcome.out = read_file(out_path);
        outcome.err = read_file(err_path);
        return outcome;
    }

    // Fifteen little-endian signed 32-bit values.
    std::string write_params(const std::string& name, const Params& values) {
        std::string bytes;
        for (const std::int32_t v : values) {
            const auto u = static_cast<std::uint32_t>(v);
            for (int shift = 0; shift < 32; shift += 8)
                bytes.push_back(static_cast<char>(u >> shift));
        }
        std::ofstream(work_ / name, std::ios::binary) << bytes;
        return (work_ / name).string();
    }

    std::string work(const std::string& name) const { return (work_ / name).string(); }

    fs::path root_;
    fs::path work_;
    static inline int counter_ = 0;
};

// --- the port log -----------------------------------------------------------------------------

// The bytes the `steps` lines of a run stand for, from the phase tables, then the manual byte 0
// of the final idle pass.
std::string port_bytes_of(const std::string& run_output) {
    std::string bytes;
    std::istringstream lines(run_output);
    std::string word;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        char axis = 0;
        char direction = 0;
        int count = 0;
        if (!(in >> word) || word != "steps" || !(in >> axis >> direction >> count)) continue;
        const int select = axis == 'X' ? 64 : axis == 'Y' ? 32 : 16;
        const std::array<int, 4> phases =
            direction == '+' ? std::array<int, 4>{9, 3, 6, 12} : std::array<int, 4>{9, 12, 6, 3};
        for (int i = 0; i < count; ++i) {
            for (const int p : phases) bytes.push_back(static_cast<char>(select + p));
        }
    }
    bytes.push_back('\0');
    return bytes;
}

// --- a PNG reader for the stored-block files the simulator writes ----------------------------

std::uint32_t be32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

std::uint32_t crc_bitwise(const std::string& s, std::size_t at, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = at; i < at + size; ++i) {
        crc ^= static_cast<unsigned char>(s[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string rgb;
    std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return static_cast<std::uint32_t>(static_cast<unsigned char>(rgb[i])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(rgb[i + 1])) << 8 |
               static_cast<unsigned char>(rgb[i + 2]);
    }
};

// Reads an 8-bit RGB PNG whose zlib stream is made of stored blocks, checking every CRC and the
// Adler-32; adds a failure and returns an empty image when anything is wrong.
Image read_png(const std::string& file) {
    Image image;
    if (file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        ADD_FAILURE() << "no PNG signature";
        return {};
    }
    std::string zlib;
    bool ended = false;
    for (std::size_t at = 8; at + 12 <= file.size() && !ended;) {
        const std::uint32_t size = be32(file, at);
        const std::string type = file.substr(at + 4, 4);
        if (crc_bitwise(file, at + 4, 4 + size) != be32(file, at + 8 + size)) {
            ADD_FAILURE() << "bad CRC in chunk " << type;
            return {};
        }
        const std::string body = file.substr(at + 8, size);
        if (type == "IHDR") {
            image.width = be32(body, 0);
            image.height = be32(body, 4);
            EXPECT_EQ(body.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
        } else if (type == "IDAT") {
            zlib += body;
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + size;
    }
    EXPECT_TRUE(ended);
    if (zlib.size() < 6 ||
        (static_cast<unsigned char>(zlib[0]) * 256 + static_cast<unsigned char>(zlib[1])) % 31 !=
            0) {
        ADD_FAILURE() << "bad zlib header";
        return {};
    }
    std::string raw;
    std::size_t at = 2;
    for (bool last = false; !last;) {
        const auto header = static_cast<unsigned char>(zlib[at]);
        last = header & 1;
        if ((header >> 1) != 0) {
            ADD_FAILURE() << "not a stored block";
            return {};
        }
        const unsigned len = static_cast<unsigned char>(zlib[at + 1]) |
                             static_cast<unsigned char>(zlib[at + 2]) << 8;
        const unsigned nlen = static_cast<unsigned char>(zlib[at + 3]) |
                              static_cast<unsigned char>(zlib[at + 4]) << 8;
        if ((len ^ 0xFFFFu) != nlen) {
            ADD_FAILURE() << "bad stored block length";
            return {};
        }
        raw += zlib.substr(at + 5, len);
        at += 5 + len;
    }
    std::uint32_t a = 1, b = 0;
    for (const char c : raw) {
        a = (a + static_cast<unsigned char>(c)) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(be32(zlib, at), (b << 16 | a)) << "Adler-32";
    const std::size_t row = 1 + 3 * static_cast<std::size_t>(image.width);
    if (raw.size() != row * image.height) {
        ADD_FAILURE() << "pixel data of " << raw.size() << " bytes";
        return {};
    }
    for (std::uint32_t y = 0; y < image.height; ++y) {
        EXPECT_EQ(raw[y * row], '\0') << "filter of row " << y;
        image.rgb += raw.substr(y * row + 1, row - 1);
    }
    return image;
}

}  // namespace

// --- inspect ----------------------------------------------------------------------------------

TEST_F(SimTest, InspectListsTheScanThenTheFetchesToTheEnd) {
    fs::copy_file(data("drill_example.drl"), work_ / "BOARD.DRL");
    struct Case {
        std::string job;
        std::vector<std::string> options;
        std::string expected;
    };
    const Case cases[] = {
        // Ends on a fetch that reads no hole ("M30" sets the end).
        {data("drill_example.drl"), {}, "drill_example.inspect"},
        // The extension in capitals is a drilling file all the same.
        {work("BOARD.DRL"), {}, "drill_example.inspect"},
        // Scale 91: the scan's integers against the fetch's decimals, lower case, "M30" in the
        // middle, skipped lines, a last hole without a line end.
        {data("drill_mixed.drl"), {"--scale", "91"}, "drill_mixed.inspect"},
        // The last "PU" takes the empty line after it as its point.
        {data("mill_example.plt"), {}, "mill_example.inspect"},
        // Scale 61: strokes, a negative Y, lower case seen only by the fetch, -0.5 mm.
        {data("mill_strokes.plt"), {"--scale=61"}, "mill_strokes.inspect"},
        // No pen line: one fetch that takes nothing.
        {data("mill_no_pen.plt"), {}, "mill_no_pen.inspect"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        std::vector<std::string> args{"inspect", c.job};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome outcome = sim(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, read_file(data(c.expected)));
        EXPECT_EQ(outcome.err, "");
    }
}

// --- run --------------------------------------------------------------------------------------

// M48, X10Y20, X30Y20, M30 at 10 steps per mm from (0, 0, 100): each hole is travelled to Y
// then X, marked, plunged 70 Z steps; the fetch of "M30" reports completion, then the machine
// raises Z and goes home.
TEST_F(SimTest, RunDrillsTheExampleJob) {
    const std::string params = write_params("drill.ini", DRILL_PARAMS);
    const Outcome outcome = sim({"run", data("drill_example.drl"), "--params", params, "--port-log",
                                 work("port.log"), "--png", work("area.png")});
    EXPECT_EQ(outcome.status, 0);
    const std::string expected = read_file(data("drill_example.run"));
    EXPECT_EQ(outcome.out, expected);
    EXPECT_EQ(outcome.err, "");

    // Four bytes a step, 1280 steps, then the manual byte of the final idle pass.
    const std::string log = read_file(work("port.log"));
    EXPECT_EQ(log.size(), 1280u * 4 + 1);
    EXPECT_EQ(log, port_bytes_of(expected));

    // The drawing area of the last pass: background, canvas, the two drilled holes over their
    // preview circles, the cross-hair through the tool at (0, 0) and the table edge at 100 mm.
    const Image area = read_png(read_file(work("area.png")));
    ASSERT_EQ(area.width, 774u);
    ASSERT_EQ(area.height, 728u);
    EXPECT_EQ(area.at(0, 0), 0x25033Au);
    EXPECT_EQ(area.at(773, 727), 0x25033Au);
    EXPECT_EQ(area.at(400, 400), 0x000000u);
    EXPECT_EQ(area.at(20 + 10, 5 + 20), 0xFA0000u);
    EXPECT_EQ(area.at(20 + 30 + 1, 5 + 20 + 1), 0xFA0000u);
    EXPECT_EQ(area.at(300, 5), 0xDCCF2Du);
    EXPECT_EQ(area.at(20, 400), 0xDCCF2Du);
    EXPECT_EQ(area.at(60, 5 + 100), 0x3B533Du);
    EXPECT_EQ(area.at(20 + 100, 60), 0x3B533Du);
}

// PU;, PA0,0;, PD;, PA100,30;, PU; at 1 step per mm from (0, 0, 10): travel to X 50, then the
// cut to (150, 30) as 30 sub-steps with ratio 3.33, Y then X in each, ending at (149, 30); the
// last "PU" completes the job and sends the machine back to (50, 0).
TEST_F(SimTest, RunMillsTheExampleJob) {
    const std::string params = write_params("mill.ini", MILL_PARAMS);
    const Outcome outcome = sim({"run", data("mill_example.plt"), "--params", params});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, read_file(data("mill_example.run")));
    EXPECT_EQ(outcome.err, "");
}

// A raw CAD export (IN;SP1;, PU;PA0,0;, PD;PA100,30;PU;) at 1 step per mm: the message comes at
// open, before the run, which goes on as before: the "PU" line's travel point is the next line
// read as X text "PD" (0, so X 50) and Y 100, fetched at the end of the file, which completes
// the job at once; the machine then travels there.
TEST_F(SimTest, RunListsAFileNotInTheMachinesDialectAtOpen) {
    const std::string params = write_params("mill.ini", MILL_PARAMS);
    const Outcome outcome = sim({"run", data("mill_raw_export.plt"), "--params", params});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, read_file(data("mill_raw_export.run")));
    EXPECT_EQ(outcome.err, "");
}

// Hole lines with a negative Y, as PCB programs export them: the message comes at open, before
// the run, and the holes are drilled where the table clamps them. A job without holes says so.
TEST_F(SimTest, RunListsTheWarningsOfAJobOutsideTheTableOrWithoutPoints) {
    const std::string params = write_params("drill.ini", DRILL_PARAMS);
    Outcome outcome = sim({"run", data("drill_outside.drl"), "--params", params});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, read_file(data("drill_outside.run")));
    EXPECT_EQ(outcome.err, "");

    std::ofstream(work_ / "empty.drl").flush();
    outcome = sim({"run", work("empty.drl"), "--params", params});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "message В задании нет точек\ndone 0 0 100 passes 1 seconds 0.017\n");
}

// The drilling example makes 1280 steps in 1285 moving passes.
TEST_F(SimTest, DurationCountsFramesOfTheStepWaits) {
    struct Case {
        std::int32_t time_ms;
        std::string refresh;
        std::string seconds;
    };
    const Case cases[] = {
        {1, "60", "21.417"},     // a step fits in one frame: 1285 / 60
        {1, "1000", "5.125"},    // 4 frames a step: (1280 * 4 + 5) / 1000
        {1, "300", "8.550"},     // 1.2 frames, so 2: 2565 / 300
        {5, "60", "42.750"},     // 20 ms of waits at 60 Hz, 2 frames: 2565 / 60
        {1, "7", "183.571"},     // 1285 / 7, rounded
        {999, "1", "5125.000"},  // ceil(3.996) = 4 frames a step at 1 Hz
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refresh + " Hz, " + std::to_string(c.time_ms) + " ms");
        Params params = DRILL_PARAMS;
        params[9] = c.time_ms;
        const Outcome outcome = sim({"run", data("drill_example.drl"), "--params",
                                     write_params("p.ini", params), "--refresh", c.refresh});
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(last_line(outcome.out), "done 0 0 100 passes 1285 seconds " + c.seconds + "\n");
    }
}

TEST_F(SimTest, RunReadsParamIniOfTheWorkingFolderAndNeverWritesIt) {
    const std::string params = write_params("Param.ini", DRILL_PARAMS);
    const std::string before = read_file(params);
    Outcome outcome = sim({"run", data("drill_example.drl")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, read_file(data("drill_example.run")));
    EXPECT_EQ(read_file(params), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(work_), {}), 1);

    // Without it the program says so and runs on its own defaults; nothing is created.
    fs::remove(params);
    outcome = sim({"run", data("drill_example.drl")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.out.starts_with("message Параметры не найдены\n")) << outcome.out;
    EXPECT_TRUE(last_line(outcome.out).starts_with("done ")) << outcome.out;
    EXPECT_FALSE(fs::exists(params));
}

// --- the command line -------------------------------------------------------------------------

TEST_F(SimTest, HelpPrintsTheUsage) {
    const Outcome outcome = sim({"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("cncmirel-sim inspect JOBFILE [--scale N]"), std::string::npos);
    EXPECT_NE(outcome.out.find("cncmirel-sim run JOBFILE [--params FILE] [--refresh HZ] "
                               "[--port-log FILE] [--png FILE]"),
              std::string::npos);
    EXPECT_EQ(outcome.err, "");
}

// --version anywhere prints one line and runs nothing; the first of --help and --version wins.
TEST_F(SimTest, VersionPrintsOneLine) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"run", "missing.drl", "--version"}}) {
        const Outcome outcome = sim(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_TRUE(std::regex_match(outcome.out, std::regex("cncmirel-sim [0-9]+\\.[0-9.]+\n")))
            << outcome.out;
        EXPECT_EQ(outcome.err, "");
    }
    EXPECT_EQ(sim({"--help", "--version"}).out.find("usage: "), 0u);
}

TEST_F(SimTest, ErrorsAreOneLineOnStandardErrorWithStatus2) {
    const std::string drl = data("drill_example.drl");
    const std::string plt = data("mill_example.plt");
    std::ofstream(work_ / "notes.txt") << "X10Y20\n";
    fs::create_directory(work_ / "folder.drl");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"simulate", drl},
        {"inspect"},
        {"inspect", work("missing.drl")},
        {"inspect", work("folder.drl")},
        {"inspect", work("notes.txt")},
        {"inspect", drl, plt},
        {"inspect", drl, "--scale", "0"},
        {"inspect", drl, "--scale", "101"},
        {"inspect", drl, "--scale", "ten"},
        {"inspect", drl, "--scale", "-5"},
        {"inspect", drl, "--scale", "50.5"},
        {"inspect", drl, "--scale", ""},
        {"inspect", drl, "--scale"},
        {"inspect", drl, "--refresh", "60"},
        {"run", work("missing.plt")},
        {"run", work("notes.txt")},
        {"run", drl, "--refresh", "0"},
        {"run", drl, "--refresh", "-60"},
        {"run", drl, "--refresh", "fast"},
        {"run", drl, "--refresh", "99999999999"},
        {"run", drl, "--scale", "50"},
        {"run", drl, "--speed", "2"},
        {"run", drl, "-v"},
        {"run", drl, "--port-log", work("no-such-folder/port.log")},
        {"run", drl, "--png", work("no-such-folder/area.png")},
        {"inspect", work("huge.drl")},
        {"run", work("huge.drl")},
    };
    // Longer than a run's byte offsets can reach: refused as the controller refuses it at open.
    std::ofstream(work_ / "huge.drl") << "X10Y20\n";
    fs::resize_file(work_ / "huge.drl", std::uintmax_t{1} << 31);
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args) shown += " [" + a + "]";
        SCOPED_TRACE(shown);
        const Outcome outcome = sim(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(line_count(outcome.err), 1u) << outcome.err;
        EXPECT_TRUE(outcome.err.ends_with("\n"));
    }
}

// An output path that is one of the inputs (by any name) or the other output is refused before
// anything is opened: the inputs stay as they were and no file is made.
TEST_F(SimTest, AnOutputThatNamesAnInputIsRefusedAndNothingIsWritten) {
    fs::copy_file(data("drill_example.drl"), work_ / "j.drl");
    const std::string job = work("j.drl");
    const std::string job_bytes = read_file(job);
    const std::string params = write_params("p.ini", DRILL_PARAMS);
    const std::string params_bytes = read_file(params);
    fs::create_symlink("j.drl", work_ / "link.drl");
    fs::create_hard_link(job, work_ / "hard.drl");
    fs::create_directory(work_ / "sub");
    const std::vector<std::vector<std::string>> cases = {
        {"run", job, "--params", params, "--port-log", job},
        {"run", job, "--params", params, "--png", job},
        {"run", job, "--params", params, "--png", "j.drl"},
        {"run", job, "--params", params, "--port-log", work("sub/../j.drl")},
        {"run", job, "--params", params, "--port-log", work("link.drl")},
        {"run", job, "--params", params, "--port-log", work("hard.drl")},
        {"run", job, "--params", params, "--png", params},
        {"run", job, "--port-log", "Param.ini"},  // the default parameter file, missing
        {"run", job, "--params", work("new.ini"), "--png", work("sub/../new.ini")},
        {"run", job, "--params", params, "--port-log", work("out"), "--png", work("out")},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args) shown += " [" + a + "]";
        SCOPED_TRACE(shown);
        const Outcome outcome = sim(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(line_count(outcome.err), 1u) << outcome.err;
        EXPECT_EQ(read_file(job), job_bytes);
        EXPECT_EQ(read_file(params), params_bytes);
        EXPECT_FALSE(fs::exists(work_ / "Param.ini"));
        EXPECT_FALSE(fs::exists(work_ / "new.ini"));
        EXPECT_FALSE(fs::exists(work_ / "out"));
    }
    // Outputs of their own still work beside the same inputs.
    const Outcome fine = sim({"run", job, "--params", params, "--port-log", work("port.log"),
                              "--png", work("area.png")});
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_TRUE(fs::exists(work_ / "port.log") && fs::exists(work_ / "area.png"));
}

// Output that cannot be written (a full disk) is an error, never a quiet success with the
// lines cut off.
TEST_F(SimTest, OutputThatCannotBeWrittenEndsWithStatus2) {
    const std::string params = write_params("drill.ini", DRILL_PARAMS);
    const std::vector<std::vector<std::string>> cases = {
        {"run", data("drill_example.drl"), "--params", params},
        {"inspect", data("mill_example.plt")},
        {"--help"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        const Outcome outcome = sim(args, "/dev/full");
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(line_count(outcome.err), 1u) << outcome.err;
    }
    // The same for the port log and the picture: the run's lines are all there, then one line
    // names the file that could not be written.
    for (const std::string option : {"--port-log", "--png"}) {
        SCOPED_TRACE(option);
        const Outcome outcome =
            sim({"run", data("drill_example.drl"), "--params", params, option, "/dev/full"});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, read_file(data("drill_example.run")));
        EXPECT_EQ(outcome.err, "cncmirel-sim: cannot write /dev/full\n");
    }
}

// --- the pass limit, in-process ---------------------------------------------------------------

// The result handed to callers says what the "done" line says, and the table in millimetres (100
// by 100 at 10 steps per mm), also for a run that does not end.
TEST_F(SimTest, AJobThatOutrunsThePassLimitEndsWithStatus3) {
    sim::RunOptions options;
    options.job_file = data("drill_example.drl");
    options.params_file = write_params("p.ini", DRILL_PARAMS);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);

    options.pass_limit = 1285;  // exactly the job's moving passes
    sim::RunResult result;
    EXPECT_EQ(sim::run_job(options, out, err, &result), sim::EXIT_OK);
    EXPECT_EQ(read_fd(out), read_file(data("drill_example.run")));
    EXPECT_TRUE(result.done);
    EXPECT_EQ((std::array{result.x, result.y, result.z}), (std::array{0, 0, 100}));
    EXPECT_EQ(result.passes, 1285u);
    EXPECT_EQ(result.seconds, "21.417");
    EXPECT_EQ(result.table_x_mm, 100);
    EXPECT_EQ(result.table_y_mm, 100);

    std::FILE* out2 = std::tmpfile();
    options.pass_limit = 1284;
    sim::RunResult stopped;
    EXPECT_EQ(sim::run_job(options, out2, err, &stopped), sim::EXIT_PASS_LIMIT);
    EXPECT_FALSE(stopped.done);
    EXPECT_EQ(stopped.table_x_mm, 100);
    EXPECT_EQ(line_count(read_fd(err)), 1u);
    // What happened up to the limit is still listed; no `done` line.
    EXPECT_EQ(last_line(read_fd(out2)), "steps X - 300\n");
    std::fclose(out);
    std::fclose(out2);
    std::fclose(err);
}

// --- a job file edited during the run, in-process ---------------------------------------------

// The second hole is edited in place (same size, times put back) after the second fetch's check
// at open and before its read. That fetch comes at the bottom of the first hole: the run ends
// there as at Stop, with the message, and the machine stays where it is instead of going on to
// the edited hole.
TEST_F(SimTest, AJobEditedDuringARunEndsItWithoutMovingToTheEditedHole) {
    static std::string job;
    static int reads = 0;
    job = work("edited.drl");
    reads = 0;
    std::ofstream(job, std::ios::binary) << "X10Y20\nX30Y20\nM30\n";
    // The reads: the scan at open, the first fetch, then the second fetch.
    line_reader_read_hook = [](int, std::int64_t) {
        if (++reads != 3) return;
        std::fstream file(job, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(7);
        file << "X90Y90";
    };
    sim::RunOptions options;
    options.job_file = job;
    options.params_file = write_params("p.ini", DRILL_PARAMS);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    const int status = sim::run_job(options, out, err);
    line_reader_read_hook = nullptr;
    EXPECT_EQ(status, sim::EXIT_OK);
    EXPECT_EQ(read_fd(out),
              "steps Y + 200\n"
              "steps X + 100\n"
              "mark hole 10 20\n"
              "steps Z - 70\n"
              "message Файл не открыт\n"
              "done 100 200 30 passes 373 seconds 6.217\n");
    EXPECT_EQ(read_fd(err), "");
    std::fclose(out);
    std::fclose(err);
}
