// machine.cpp - timing on the simulator. Each job is run as `cncmirel-sim run` runs it; its
// result gives the passes, the seconds and the table.
#include "machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/param_file.h"
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
        // The run's listing is not needed, only its result and, when it fails, its error.
        std::FILE* out = std::fopen("/dev/null", "w");
        std::FILE* err = std::tmpfile();
        if (!out || !err) {
            job.error = "no temporary file for the run";
        } else {
            sim::RunOptions options;
            options.job_file = path;
            options.params_file = params;
            sim::RunResult result;
            const int status = sim::run_job(options, out, err, &result);
            if (status == sim::EXIT_OK && result.done) {
                job.passes = result.passes;
                job.seconds = result.seconds;
            } else {
                job.error = read_all(err);
                while (!job.error.empty() && job.error.back() == '\n') job.error.pop_back();
                if (job.error.empty()) job.error = "the run gave no result";
            }
            if (result.table_x_mm > 0 || result.table_y_mm > 0) {
                report.table_x_mm = result.table_x_mm;
                report.table_y_mm = result.table_y_mm;
            }
        }
        if (out) std::fclose(out);
        if (err) std::fclose(err);
        report.jobs.push_back(job);
    }
    if (!folder.empty()) {
        ::unlink(params.c_str());
        ::rmdir(folder.c_str());
    }
    return report;
}

}  // namespace prep
