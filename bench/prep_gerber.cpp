// prep_gerber.cpp - cncmirel-prep making an isolation job of a generated 100 x 80 mm two-layer
// board: a ground pour over each side with clearances round a few hundred pads and tracks, the
// drill file and the profile, converted with --isolate --machine in a process of its own, so
// that its wall time and peak resident size are its own.
//   bench_prep_gerber [--keep]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "timed_run.h"

namespace {

constexpr int COLUMNS = 20, ROWS = 15;

double pad_x(int i) {
    return 5.0 + 4.7 * i;
}
double pad_y(int j) {
    return 6.0 + 4.9 * j;
}

long um(double mm) {
    return static_cast<long>(mm * 1e6 + (mm < 0 ? -0.5 : 0.5));
}

std::FILE* create(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    return f;
}

// A copper side: the pour over the board, cleared 0.4 mm round every pad and track, then the
// pads (round and rectangular in turn) and tracks joining neighbours in pairs.
void write_copper(const std::string& path, const char* function, bool back) {
    std::FILE* f = create(path);
    std::fprintf(f,
                 "%%TF.FileFunction,%s*%%\n%%FSLAX46Y46*%%\n%%MOMM*%%\n%%LPD*%%\nG01*\n"
                 "%%ADD10C,1.200000*%%\n%%ADD11R,1.200000X1.500000*%%\n%%ADD12C,0.250000*%%\n"
                 "%%ADD13C,2.000000*%%\n%%ADD14R,2.000000X2.300000*%%\n%%ADD15C,1.050000*%%\n",
                 function);
    std::fprintf(
        f, "G36*\nX%ldY%ldD02*\nX%ldY%ldD01*\nX%ldY%ldD01*\nX%ldY%ldD01*\nX%ldY%ldD01*\nG37*\n",
        um(1), um(1), um(99), um(1), um(99), um(79), um(1), um(79), um(1), um(1));
    auto pads = [&](int round, int rect) {
        for (int j = 0; j < ROWS; ++j) {
            for (int i = 0; i < COLUMNS; ++i) {
                std::fprintf(f, "D%d*\nX%ldY%ldD03*\n", (i + j) % 2 ? rect : round, um(pad_x(i)),
                             um(pad_y(j)));
            }
        }
    };
    auto tracks = [&](int aperture) {
        std::fprintf(f, "D%d*\n", aperture);
        for (int j = 0; j < ROWS; ++j) {
            for (int i = back ? 1 : 0; i + 1 < COLUMNS; i += 2) {
                const double mid = pad_y(j) + 1.6;
                std::fprintf(f, "X%ldY%ldD02*\nX%ldY%ldD01*\nX%ldY%ldD01*\nX%ldY%ldD01*\n",
                             um(pad_x(i)), um(pad_y(j)), um(pad_x(i) + 0.8), um(mid),
                             um(pad_x(i + 1) - 0.8), um(mid), um(pad_x(i + 1)), um(pad_y(j)));
            }
        }
    };
    std::fputs("%LPC*%\n", f);
    pads(13, 14);
    tracks(15);
    std::fputs("%LPD*%\n", f);
    pads(10, 11);
    tracks(12);
    std::fputs("M02*\n", f);
    std::fclose(f);
}

void write_inputs(const std::string& folder) {
    write_copper(folder + "/bench-F_Cu.gbr", "Copper,L1,Top", false);
    write_copper(folder + "/bench-B_Cu.gbr", "Copper,L2,Bot", true);
    std::FILE* f = create(folder + "/bench-Edge_Cuts.gbr");
    std::fputs("%TF.FileFunction,Profile,NP*%\n%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.100000*%\nD10*\n",
               f);
    std::fprintf(f, "X0Y0D02*\nX%ldY0D01*\nX%ldY%ldD01*\nX0Y%ldD01*\nX0Y0D01*\nM02*\n", um(100),
                 um(100), um(80), um(80));
    std::fclose(f);
    f = create(folder + "/bench.drl");
    std::fputs("M48\nFMAT,2\nMETRIC\nT1C0.800\n%\nG90\nG05\nT1\n", f);
    for (int j = 0; j < ROWS; ++j)
        for (int i = 0; i < COLUMNS; ++i) std::fprintf(f, "X%.3fY%.3f\n", pad_x(i), pad_y(j));
    std::fputs("M30\n", f);
    std::fclose(f);
    // 10 steps per mm on X and Y, a 200 x 150 mm table: a job unit of 0.1 mm.
    const std::int32_t values[15] = {0, 0, 0, 10, 10, 200, 200, 150, 50, 1, 3, 100, 0, 0, 10};
    f = create(folder + "/machine.ini");
    std::fwrite(values, sizeof values, 1, f);  // little-endian, as the controller writes it
    std::fclose(f);
}

using bench::run;
using bench::Run;

}  // namespace

int main(int argc, char** argv) {
    const bool keep = argc > 1 && std::strcmp(argv[1], "--keep") == 0;
    std::string folder = (std::filesystem::temp_directory_path() / "bench-prep-gerber-XXXXXX");
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    write_inputs(folder);
    std::printf(
        "input: %s: 100 x 80 mm, two copper sides each with a ground pour, %d pads and "
        "%d tracks a side, %d holes\n",
        folder.c_str(), COLUMNS * ROWS, ROWS * (COLUMNS / 2), COLUMNS * ROWS);
    std::printf("goal: under 5 s and 200 MB for each side\n");
    const std::string machine = folder + "/machine.ini";
    for (const char* side : {"F_Cu", "B_Cu"}) {
        std::vector<std::string> args = {PREP_PROGRAM,
                                         folder + "/bench-" + side + ".gbr",
                                         folder + "/bench.drl",
                                         folder + "/bench-Edge_Cuts.gbr",
                                         "--isolate",
                                         "--tool-diameter",
                                         "0.2",
                                         "--machine",
                                         machine,
                                         "-o",
                                         folder + "/" + side};
        if (std::strcmp(side, "B_Cu") == 0) args.push_back("--mirror-x");
        const Run r = run(args);
        std::printf("--isolate %s: exit %d  %.2f s  peak %.1f MiB\n", side, r.status, r.seconds,
                    static_cast<double>(r.peak_kib) / 1024);
    }
    if (!keep) std::filesystem::remove_all(folder);
    return 0;
}
