// run.cpp - the `run` verb: start-up, open the job, Start, and the main-loop passes until the
// motion has ended, with every event of the run listed in the order it happens.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/controls.h"
#include "app/param_file.h"
#include "app/program.h"
#include "base/files.h"
#include "base/helpers.h"  // per_mm
#include "base/line_writer.h"
#include "base/settings.h"
#include "drive/motion.h"
#include "jobs/job.h"
#include "jobs/preview.h"
#include "platform/fake/fake.h"
#include "png.h"
#include "sim.h"

namespace sim {

namespace {

__extension__ typedef unsigned __int128 Wide;

// The run's lines: consecutive step cycles of one axis in one direction are gathered into one
// `steps` line until a message or a mark comes between them.
class Recorder {
public:
    explicit Recorder(LineWriter& lines) : lines_(lines) {}

    void steps(char axis, char direction, std::int64_t count) {
        if (count_ > 0 && (axis != axis_ || direction != direction_)) flush_steps();
        axis_ = axis;
        direction_ = direction;
        count_ += count;
    }

    void flush_steps() {
        if (count_ > 0) lines_.line("steps", axis_, direction_, count_);
        count_ = 0;
    }

    void message(const std::string& text) {
        flush_steps();
        lines_.line("message", text);
    }

    bool failed() const { return lines_.failed(); }

    void mark(MarkKind kind, std::int32_t x_px, std::int32_t y_px) {
        flush_steps();
        const char* name = kind == MarkKind::hole  ? "hole"
                           : kind == MarkKind::cut ? "cut"
                                                   : "travel";
        lines_.line("mark", name, x_px, y_px);
    }

private:
    LineWriter& lines_;
    char axis_ = 0;
    char direction_ = 0;
    std::int64_t count_ = 0;
};

Recorder* active_recorder = nullptr;

void record_mark(MarkKind kind, std::int32_t x_px, std::int32_t y_px) {
    if (active_recorder) active_recorder->mark(kind, x_px, y_px);
}

// An output file of the run: closed when it goes out of scope, or by close(), which says whether
// everything reached it.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (file_) std::fclose(file_);
    }

    // Opens `path` for writing, unless it is empty; false (with its error line) when it cannot.
    bool open(const std::string& path, std::FILE* err) {
        if (path.empty()) return true;
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) report_error(err, "cannot write " + path);
        return file_ != nullptr;
    }

    bool is_open() const { return file_ != nullptr; }

    bool write(const char* data, std::size_t size) {
        return std::fwrite(data, 1, size, file_) == size;
    }

    // Closes the file; false when the close failed.
    bool close() {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return closed;
    }

private:
    std::FILE* file_ = nullptr;
};

// The bytes written to the port, kept in a buffer and written to the file in large blocks.
class PortLog {
public:
    explicit PortLog(OutputFile& file) : file_(file) { buffer_.reserve(BLOCK); }

    void put(std::uint8_t byte) {
        buffer_.push_back(static_cast<char>(byte));
        if (buffer_.size() >= BLOCK) write_out();
    }

    // Writes what is left and closes the file; false when any write failed.
    bool close() {
        write_out();
        const bool closed = file_.close();
        return ok_ && closed;
    }

private:
    static constexpr std::size_t BLOCK = 1 << 16;

    void write_out() {
        if (!buffer_.empty() && !file_.write(buffer_.data(), buffer_.size())) ok_ = false;
        buffer_.clear();
    }

    OutputFile& file_;
    std::string buffer_;
    bool ok_ = true;
};

// The hooks into the program and the fake platform live only as long as the run.
struct HookReset {
    ~HookReset() {
        fake::window.on_message = nullptr;
        fake::window.keep_frames = false;
        fake::port.on_write = nullptr;
        run_mark_observer = nullptr;
        active_recorder = nullptr;
        param_file_path = PARAM_FILE_NAME;
    }
};

void record_axis(Recorder& recorder, char axis, std::int32_t now, std::int32_t before) {
    if (now == before) return;
    const std::int64_t delta = static_cast<std::int64_t>(now) - before;
    recorder.steps(axis, delta > 0 ? '+' : '-', delta > 0 ? delta : -delta);
}

// Display frames of a moving pass that made a step: the four phase waits, at least one frame.
std::uint64_t frames_of_step(std::int32_t step_delay_ms, std::int32_t refresh_hz) {
    const std::uint64_t wait_frames_x1000 = 4ULL *
                                            static_cast<std::uint64_t>(std::max(step_delay_ms, 0)) *
                                            static_cast<std::uint64_t>(refresh_hz);
    return std::max<std::uint64_t>(1, (wait_frames_x1000 + 999) / 1000);
}

// frames / hz with three decimals, rounded to the nearest thousandth (halves up).
std::string seconds_text(Wide frames, std::int32_t refresh_hz) {
    const Wide hz = static_cast<Wide>(refresh_hz);
    const Wide thousandths = (frames * 2000 + hz) / (2 * hz);
    const auto whole = static_cast<std::uint64_t>(thousandths / 1000);
    const auto fraction = static_cast<unsigned>(thousandths % 1000);
    char text[8];
    std::snprintf(text, sizeof text, ".%03u", fraction);
    return std::to_string(whole) + text;
}

// What the passes of a run add up to.
struct RunTotals {
    std::uint64_t moving_passes = 0;
    Wide frames = 0;
};

// Start-up with the run's parameter file, the run's lines hooked to the message boxes and the
// marks; false (with its error line) when the controller did not start.
bool start_controller(const RunOptions& options, Recorder& recorder, LineWriter& lines,
                      std::FILE* err) {
    fake::reset_all();
    fake::port.keep_log = false;  // the log would grow by four entries a step
    // The virtual clock follows the display; it only needs a frame of at least 1 ns.
    fake::window.refresh_hz = std::min(options.refresh_hz, 1'000'000'000);
    fake::window.on_message = [&recorder](const fake::Message& m) { recorder.message(m.text); };
    param_file_path = options.params_file;
    if (!start_up()) {
        lines.flush();
        report_error(err, "the controller did not start");
        return false;
    }
    active_recorder = &recorder;
    run_mark_observer = record_mark;  // start-up clears it
    return true;
}

// The operator opens the job in the file dialog; false (with its error line) when the
// controller refused the file at open (it changed since it was checked).
bool open_job(const RunOptions& options, LineWriter& lines, std::FILE* err) {
    fake::window.dialog_answers.push_back(options.job_file);
    fake::click(ids::OPEN_FILE_BUTTON);
    run_pass();
    if (!job_state.job_file_name.empty()) return true;
    lines.flush();
    report_error(err, "cannot read job file " + options.job_file);
    return false;
}

// Start, then passes until the first idle one; false when the pass limit ran out first. Only
// the last pass's frame is kept for the picture: the pass after which no move is requested is
// the idle one that ends the run.
bool run_passes(const RunOptions& options, bool want_png, Recorder& recorder, RunTotals& totals) {
    fake::click(ids::START_BUTTON);
    const MachineState& m = machine_state;
    std::int32_t delay_seen = -1;
    std::uint64_t step_frames = 1;
    fake::window.keep_frames = want_png;
    for (;;) {
        const std::int32_t x = m.current_x;
        const std::int32_t y = m.current_y;
        const std::int32_t z = m.current_z;
        run_pass();
        if (!last_pass_was_moving) return true;
        ++totals.moving_passes;
        const bool stepped = m.current_z != z || m.current_y != y || m.current_x != x;
        if (stepped) {
            // One axis steps per pass; the order Z, Y, X is kept should that ever change.
            record_axis(recorder, 'Z', m.current_z, z);
            record_axis(recorder, 'Y', m.current_y, y);
            record_axis(recorder, 'X', m.current_x, x);
            if (m.step_delay_ms != delay_seen) {
                delay_seen = m.step_delay_ms;
                step_frames = frames_of_step(delay_seen, options.refresh_hz);
            }
            totals.frames += step_frames;
        } else {
            totals.frames += 1;
        }
        if (totals.moving_passes > options.pass_limit) return false;
        if (want_png) fake::window.keep_frames = !m.move_requested || m.paused;
        if (recorder.failed()) return true;  // nobody can read the rest
    }
}

// The picture of the last pass into its file; false when it could not be written.
bool write_png(OutputFile& file) {
    const std::string png = encode_png(fake::window.last_frame);
    const bool written = file.write(png.data(), png.size());
    return file.close() && written;
}

// An output file that is one of the run's inputs, or the other output, would be emptied before
// it is read or written twice over: refused with its error line before anything is opened.
bool outputs_apart(const RunOptions& options, std::FILE* err) {
    struct Named {
        const char* what;
        const std::string& path;
    };
    const Named inputs[] = {{"the job file", options.job_file},
                            {"the parameter file", options.params_file}};
    const Named outputs[] = {{"--port-log", options.port_log_file}, {"--png", options.png_file}};
    for (const Named& output : outputs) {
        if (output.path.empty()) continue;
        for (const Named& input : inputs) {
            if (input.path.empty() || !same_file(output.path, input.path)) continue;
            report_error(err, std::string(output.what) + " " + output.path + " is " + input.what +
                                  ": an output never overwrites an input");
            return false;
        }
    }
    if (!options.port_log_file.empty() && !options.png_file.empty() &&
        same_file(options.port_log_file, options.png_file)) {
        report_error(err, "--port-log and --png name one file: " + options.png_file);
        return false;
    }
    return true;
}

}  // namespace

int run_job(const RunOptions& options, std::FILE* out, std::FILE* err, RunResult* result) {
    if (!check_job_file(options.job_file, err)) return EXIT_USAGE;
    if (!outputs_apart(options, err)) return EXIT_USAGE;
    OutputFile port_log_file;
    OutputFile png_file;
    if (!port_log_file.open(options.port_log_file, err) || !png_file.open(options.png_file, err)) {
        return EXIT_USAGE;
    }

    HookReset reset_hooks;
    LineWriter lines(out);
    Recorder recorder(lines);
    if (!start_controller(options, recorder, lines, err)) return EXIT_USAGE;
    if (result) {
        result->table_x_mm = per_mm(machine_state.travel_limit_x, applied_settings.steps_per_mm_x);
        result->table_y_mm = per_mm(machine_state.travel_limit_y, applied_settings.steps_per_mm_y);
    }
    if (!open_job(options, lines, err)) return EXIT_USAGE;
    PortLog port_log(port_log_file);
    if (port_log_file.is_open()) {
        fake::port.on_write = [&port_log](std::uint8_t byte) { port_log.put(byte); };
    }

    RunTotals totals;
    if (!run_passes(options, png_file.is_open(), recorder, totals)) {
        recorder.flush_steps();
        lines.flush();
        report_error(err, "the job did not end within " + std::to_string(options.pass_limit) +
                              " moving passes");
        if (port_log_file.is_open()) port_log.close();
        return EXIT_PASS_LIMIT;
    }
    recorder.flush_steps();
    const MachineState& m = machine_state;
    const std::string seconds = seconds_text(totals.frames, options.refresh_hz);
    lines.line("done", m.current_x, m.current_y, m.current_z, "passes", totals.moving_passes,
               "seconds", seconds);
    if (result) {
        result->done = true;
        result->x = m.current_x;
        result->y = m.current_y;
        result->z = m.current_z;
        result->passes = totals.moving_passes;
        result->seconds = seconds;
    }

    int status = finish_output(lines, err);
    if (port_log_file.is_open() && !port_log.close()) {
        report_error(err, "cannot write " + options.port_log_file);
        status = EXIT_USAGE;
    }
    if (png_file.is_open() && !write_png(png_file)) {
        report_error(err, "cannot write " + options.png_file);
        status = EXIT_USAGE;
    }
    return status;
}

}  // namespace sim
