// prep_convert.cpp - cncmirel-prep on a generated drill file of a million holes: wall time
// and peak memory of the whole program with --order file, nearest and short, each run as its
// own process so that its peak resident size is its own.
//   bench_prep_convert [folder, default /tmp] [holes, default 1000000] [--keep]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "timed_run.h"

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

using bench::run;
using bench::Run;

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
