// sim.h - cncmirel-sim, the headless simulator: the controller's own code run without a window,
// on the fake platform (a latch port, a virtual clock, a scripted window that answers every
// message box at once). Two verbs: `inspect` shows what the job-file readers make of a file,
// `run` runs one whole job as an operator would and lists what happens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/job_kind.h"

class LineWriter;

namespace sim {

// Exit statuses.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_USAGE = 2;       // usage error, unreadable job file, unwritable output
inline constexpr int EXIT_PASS_LIMIT = 3;  // a job that does not end (pass limit, stuck fetch)

// Moving passes a run may take before the simulator gives up on it. The controller's rules
// end every job, but a job can be long: this is over five years of machine time at 60 Hz, so
// it only ever stops a run that would otherwise never end.
inline constexpr std::uint64_t PASS_LIMIT = 10'000'000'000ULL;

struct InspectOptions {
    std::string job_file;
    JobKind kind = JobKind::drilling;
    std::int32_t scale_percent = 100;
};

struct RunOptions {
    std::string job_file;
    std::string params_file = "Param.ini";
    std::int32_t refresh_hz = 60;
    std::string port_log_file;  // empty: no port log
    std::string png_file;       // empty: no picture
    std::uint64_t pass_limit = PASS_LIMIT;
};

// What a run ends with, for callers that time jobs: where the machine stands (steps), the
// moving passes and the seconds as the "done" line shows them, and the table the controller's
// start-up worked out, in whole millimetres (also when the job itself fails).
struct RunResult {
    bool done = false;  // the job ran to its end
    std::int32_t x = 0, y = 0, z = 0;
    std::uint64_t passes = 0;
    std::string seconds;
    std::int32_t table_x_mm = 0, table_y_mm = 0;
};

// The usage text printed by --help.
const char* usage_text();

// The whole program: `args` is the command line without the program's name. Lines go to
// `out`, the one-line error of a failure to `err`; returns the exit status.
int run_command_line(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The two verbs, with their options already checked; each refuses a job file it cannot read.
int inspect_job(const InspectOptions& options, std::FILE* out, std::FILE* err);
int run_job(const RunOptions& options, std::FILE* out, std::FILE* err, RunResult* result = nullptr);

// Shared by the verbs: one error line on `err`, and the readability check of a job file
// (false, with its error line, when the file cannot be opened for reading as a job).
void report_error(std::FILE* err, std::string_view text);
// Flushes the lines; EXIT_OK, or EXIT_USAGE with an error line when any write failed.
int finish_output(LineWriter& lines, std::FILE* err);
bool check_job_file(const std::string& job_file, std::FILE* err);

}  // namespace sim
