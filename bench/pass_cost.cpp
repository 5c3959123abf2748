// pass_cost.cpp - CPU time of one main-loop pass with the present's wait taken out: event
// poll, indicators, the moving pass (a jog in progress, phase waits on the virtual clock), the
// canvas copy and overlay turned into pixels as a window's present does.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/controls.h"
#include "app/param_file.h"
#include "app/program.h"
#include "drive/motion.h"
#include "platform/fake/fake.h"

namespace {

std::int64_t thread_cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

void report(const char* what, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    std::printf("%-36s median %7.1f us   p99 %7.1f us   (%zu passes)\n", what, us[us.size() / 2],
                us[us.size() * 99 / 100], us.size());
}

}  // namespace

int main() {
    char folder[] = "/tmp/cnc-pass-cost-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    param_file_path = std::string(folder) + "/Param.ini";
    write_param_file(param_file_path, {0, 0, 0, 100, 100, 100, 700, 700, 50, 1, 3, 100, 0, 0, 10});
    fake::reset_all();
    fake::port.keep_log = false;
    fake::window.keep_frames = true;  // render every presented frame, as a window does
    if (!start_up()) return 1;
    const int passes = 5000;
    for (const bool moving : {false, true}) {
        std::vector<double> us;
        for (int i = 0; i < passes; ++i) {
            if (moving && !machine_state.move_requested) {
                machine_state.target_x = machine_state.current_x + 60000;  // keep a long move going
                machine_state.move_requested = true;
            }
            const std::int64_t t0 = thread_cpu_ns();
            run_pass();
            us.push_back(static_cast<double>(thread_cpu_ns() - t0) / 1000.0);
        }
        report(moving ? "moving pass (one step, rendered)" : "idle pass (rendered)", us);
    }
    fake::window.keep_frames = false;
    std::vector<double> us;
    for (int i = 0; i < passes; ++i) {
        const std::int64_t t0 = thread_cpu_ns();
        run_pass();
        us.push_back(static_cast<double>(thread_cpu_ns() - t0) / 1000.0);
    }
    report("moving pass (not rendered)", us);
    std::remove(param_file_path.c_str());
    rmdir(folder);
    return 0;
}
