// reader_speed.cpp - speed of the job-file readers on large files: preview scan throughput
// against `wc -l` on the same file, the cost of one fetch at the start and near the end, and
// the cost per fetch along a whole run of fetches through the file. The scans record the file and
// the fetches check their bytes against that record, as at open and in a run.
//   bench_reader_speed [folder, default /tmp] [megabytes, default 200] [--keep] [--no-run]
// --no-run leaves out the whole runs of fetches (some minutes for 200 MB).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "jobs/drill_file.h"
#include "jobs/plot_file.h"
#include "reader_files.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best of three wall times of `work`.
double best_of_three(const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, seconds_since(start));
    }
    return best;
}

void wc_lines(const std::string& file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"wc", "-l", file.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "wc", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::perror("wc");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
}

void report_scan(const char* what, double megabytes, double scan_s, double wc_s) {
    std::printf("%-6s scan %8.0f MB/s   wc -l %8.0f MB/s   scan/wc %.2f\n", what,
                megabytes / scan_s, megabytes / wc_s, wc_s / scan_s);
}

// Mean time of `count` calls of `fetch`, in microseconds.
double fetch_us(int count, const std::function<void()>& fetch) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) fetch();
    return seconds_since(start) * 1e6 / count;
}

// A whole run of fetches from offset 0, each from the last one's offset; prints the mean
// cost per fetch in each tenth of the file.
void whole_run(const char* what, std::int64_t length,
               const std::function<std::int32_t(std::int32_t, bool&)>& fetch) {
    double tenth_s[10] = {};
    long tenth_count[10] = {};
    long fetches = 0;
    std::int32_t position = 0;
    const auto start = Clock::now();
    while (position < length) {
        const auto t = Clock::now();
        bool found = false;
        const std::int32_t next = fetch(position, found);
        const int tenth = static_cast<int>(position * 10 / length);
        tenth_s[tenth] += seconds_since(t);
        ++tenth_count[tenth];
        ++fetches;
        if (!found || next <= position) break;
        position = next;
    }
    const double total_s = seconds_since(start);
    std::printf("%-6s whole run: %ld fetches in %.1f s, %.2f us each; per tenth of the file (us):",
                what, fetches, total_s, total_s * 1e6 / static_cast<double>(fetches));
    for (int i = 0; i < 10; ++i) {
        std::printf(" %.2f",
                    tenth_count[i] ? tenth_s[i] * 1e6 / static_cast<double>(tenth_count[i]) : 0.0);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = "/tmp";
    std::int64_t megabytes = 200;
    bool keep = false;
    bool whole_runs = true;
    int plain = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--no-run") == 0) {
            whole_runs = false;
        } else if (plain++ == 0) {
            folder = argv[i];
        } else {
            megabytes = std::atoll(argv[i]);
        }
    }
    const std::string drill = folder + "/cnc-bench-" + std::to_string(getpid()) + ".drl";
    const std::string plot = folder + "/cnc-bench-" + std::to_string(getpid()) + ".plt";
    const std::int64_t last_hole = write_drill_file(drill, megabytes * 1000 * 1000);
    const std::int64_t last_pen_up = write_plot_file(plot, megabytes * 1000 * 1000);

    long holes = 0;
    long segments = 0;
    FileFingerprint drill_record;
    FileFingerprint plot_record;
    std::int64_t drill_length = 0;
    std::int64_t plot_length = 0;
    wc_lines(drill);  // both files are in the page cache before anything is timed
    wc_lines(plot);
    const double drill_wc = best_of_three([&] { wc_lines(drill); });
    const double drill_scan = best_of_three([&] {
        holes = 0;
        drill_length = scan_drill_preview(
            drill, 100, [&](std::int32_t, std::int32_t) { ++holes; }, &drill_record);
    });
    const double plot_wc = best_of_three([&] { wc_lines(plot); });
    const double plot_scan = best_of_three([&] {
        segments = 0;
        plot_length = scan_plot_preview(
            plot, 61, [&](std::int32_t, std::int32_t, std::int32_t, std::int32_t) { ++segments; },
            &plot_record);
    });
    const double drill_mb = static_cast<double>(drill_length) / 1e6;
    const double plot_mb = static_cast<double>(plot_length) / 1e6;
    std::printf("files: %s (%.1f MB, %ld holes), %s (%.1f MB, %ld segments)\n", drill.c_str(),
                drill_mb, holes, plot.c_str(), plot_mb, segments);
    report_scan("drill", drill_mb, drill_scan, drill_wc);
    report_scan("plot", plot_mb, plot_scan, plot_wc);

    if (!fetch_drill_point(drill, 100, 0, &drill_record).readable ||
        !fetch_plot_step(plot, 61, PEN_NONE, 0, &plot_record).readable) {
        std::fprintf(stderr, "the fetches do not match the scans' record\n");
        return 1;
    }
    const auto near_end_hole = static_cast<std::int32_t>(last_hole);
    const auto near_end_pu = static_cast<std::int32_t>(last_pen_up);
    std::printf(
        "drill  fetch at offset 0: %.2f us; at offset %d: %.2f us\n",
        fetch_us(20000, [&] { fetch_drill_point(drill, 100, 0, &drill_record); }), near_end_hole,
        fetch_us(20000, [&] { fetch_drill_point(drill, 100, near_end_hole, &drill_record); }));
    std::printf(
        "plot   fetch at offset 0: %.2f us; at offset %d: %.2f us\n",
        fetch_us(20000, [&] { fetch_plot_step(plot, 61, PEN_NONE, 0, &plot_record); }), near_end_pu,
        fetch_us(20000, [&] { fetch_plot_step(plot, 61, PEN_DOWN, near_end_pu, &plot_record); }));

    if (whole_runs) {
        whole_run("drill", drill_length, [&](std::int32_t position, bool& found) {
            const DrillPoint p = fetch_drill_point(drill, 100, position, &drill_record);
            found = p.found;
            return p.next_position;
        });
        std::int32_t pen = PEN_NONE;
        whole_run("plot", plot_length, [&](std::int32_t position, bool& found) {
            const PlotStep s = fetch_plot_step(plot, 61, pen, position, &plot_record);
            found = s.found;
            pen = s.pen_state;
            return s.next_position;
        });
    }

    if (!keep) {
        std::remove(drill.c_str());
        std::remove(plot.c_str());
    }
    return 0;
}
