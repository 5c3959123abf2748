// machine.h - the output jobs on a given machine: the table they must fit and how long each
// takes at 60 Hz, worked out by the simulator, which runs the controller's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace prep {

struct MachineJob {
    std::string path;
    std::string seconds;  // as the simulator prints it; empty when the run failed
    std::uint64_t passes = 0;
    std::string error;
};

struct MachineReport {
    std::int32_t table_x_mm = 0;
    std::int32_t table_y_mm = 0;
    std::int32_t scale_in_file = 100;  // the jobs are timed at scale 100 whatever it says
    std::vector<MachineJob> jobs;
    // The same jobs in the file's order, where they were reordered (an empty path elsewhere).
    std::vector<MachineJob> in_file_order;
};

// Runs each job with the parameters of `params_path`; throws PrepError when that file
// cannot be read.
MachineReport check_on_machine(const std::string& params_path,
                               const std::vector<std::string>& job_paths);

}  // namespace prep
