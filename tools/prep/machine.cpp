// machine.cpp - timing on the simulator. Each job is run as `cncmirel-sim run` runs it, into a
// temporary file whose "done" line gives the passes and the seconds.
#include "machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/param_file.h"
#include "base/settings.h"
#include "drive/motion.h"
#include "model.h"
#include "sim.h"

namespace prep {

namespace {

constexpr std::size_t SCALE_FIELD = 11;

std::string read_all(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;)
        text.append(block, got);
    return text;
}

// The "done X Y Z passes N seconds S" line of a run's listing.
bool done_line(std::FILE* file, MachineJob& job) {
    std::rewind(file);
    char line[512];
    bool found = false;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "done ", 5) != 0) continue;
        long long x = 0, y = 0, z = 0;
        unsigned long long passes = 0;
        char seconds[64] = {};
        if (std::sscanf(line, "done %lld %lld %lld passes %llu seconds %63s", &x, &y, &z, &passes,
                        seconds) == 5) {
            job.passes = passes;
            job.seconds = seconds;
            found = true;
        }
    }
    return found;
}

}  // namespace

MachineReport check_on_machine(const std::string& params_path,
                               const std::vector<std::string>& job_paths) {
    const std::optional<ParamValues> values = read_param_file(params_path);
    if (!values) throw PrepError("cannot read the parameter file " + params_path);
    MachineReport report;
    report.scale_in_file = (*values)[SCALE_FIELD];

    // The jobs are written for scale 100: time them so, on a copy when the file says otherwise.
    std::string params = params_path;
    std::string folder;
    if (report.scale_in_file != 100) {
        char pattern[] = "/tmp/cncmirel-prep.XXXXXX";
        if (!::mkdtemp(pattern)) throw PrepError("cannot make a temporary folder");
        folder = pattern;
        params = folder + "/Param.ini";
        ParamValues copy = *values;
        copy[SCALE_FIELD] = 100;
        if (!write_param_file(params, copy)) {
            ::rmdir(folder.c_str());
            throw PrepError("cannot write a temporary parameter file");
        }
    }
    for (const std::string& path : job_paths) {
        MachineJob job;
        job.path = path;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        if (!out || !err) {
            job.error = "no temporary file for the run";
        } else {
            sim::RunOptions options;
            options.job_file = path;
            options.params_file = params;
            const int status = sim::run_job(options, out, err);
            if (status != sim::EXIT_OK || !done_line(out, job)) {
                job.error = read_all(err);
                while (!job.error.empty() && job.error.back() == '\n') job.error.pop_back();
                if (job.error.empty()) job.error = "the run gave no result";
                job.seconds.clear();
            }
        }
        if (out) std::fclose(out);
        if (err) std::fclose(err);
        report.jobs.push_back(job);
        // The applied table, in millimetres, as the controller's start-up worked it out.
        report.table_x_mm = machine_state.travel_limit_x / applied_settings.steps_per_mm_x;
        report.table_y_mm = machine_state.travel_limit_y / applied_settings.steps_per_mm_y;
    }
    if (!folder.empty()) {
        ::unlink(params.c_str());
        ::rmdir(folder.c_str());
    }
    return report;
}

}  // namespace prep
