// prep_convert.cpp - cncmirel-prep on a generated drill file of a million holes: wall time
// and peak memory of the whole program with --order file, nearest and short, each run as its
// own process so that its peak resident size is its own.
//   bench_prep_convert [folder, default /tmp] [holes, default 1000000] [--keep]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Holes spread over a 300 x 200 mm board in KiCad's decimal form, two tools.
void write_drill_file(const std::string& path, long holes) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputs(
        "M48\n; DRILL file {KiCad 7.0.10} date 2026-03-01T10:00:00+0000\n"
        "; FORMAT={-:-/ absolute / metric / decimal}\nFMAT,2\nMETRIC\nT1C0.800\nT2C1.000\n"
        "%\nG90\nG05\n",
        f);
    std::uint64_t seed = 88172645463325252ULL;
    auto next = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    for (int tool = 1; tool <= 2; ++tool) {
        std::fprintf(f, "T%d\n", tool);
        const long count = tool == 1 ? holes / 2 : holes - holes / 2;
        for (long i = 0; i < count; ++i) {
            const double x = 100.0 + static_cast<double>(next() % 300000) / 1000.0;
            const double y = -50.0 - static_cast<double>(next() % 200000) / 1000.0;
            std::fprintf(f, "X%.3fY%.3f\n", x, y);
        }
    }
    std::fputs("M30\n", f);
    std::fclose(f);
}

struct Run {
    double seconds = 0;
    long peak_kib = 0;
    int status = -1;
};

Run run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Run r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        return r;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peak_kib = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = "/tmp";
    long holes = 1'000'000;
    bool keep = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (positional++ == 0) {
            folder = argv[i];
        } else {
            holes = std::atol(argv[i]);
        }
    }
    const std::string input = folder + "/bench-prep-input.drl";
    const std::string output = folder + "/bench-prep-output.drl";
    write_drill_file(input, holes);
    const double limit_mib = 64.0 + 32.0 * static_cast<double>(holes) / (1024 * 1024);
    std::printf("input: %ld holes, two tools, decimal millimetres\n", holes);
    std::printf(
        "goals: --order file under 2 s, nearest and short under 20 s, peak under %.1f MiB\n",
        limit_mib);
    for (const char* order : {"file", "nearest", "short"}) {
        const Run r = run({PREP_PROGRAM, input, "-o", output, "--order", order});
        std::printf("--order %-8s exit %d  %.2f s  peak %.1f MiB\n", order, r.status, r.seconds,
                    static_cast<double>(r.peak_kib) / 1024);
    }
    if (!keep) {
        std::remove(input.c_str());
        std::remove((folder + "/bench-prep-output-T01-0.80mm.drl").c_str());
        std::remove((folder + "/bench-prep-output-T02-1.00mm.drl").c_str());
    }
    return 0;
}
