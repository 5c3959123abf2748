// reader_scan.cpp - runs one preview scan of a job file, so that its peak memory can be
// measured from outside (bench/reader_memory.sh), or writes the large files it reads.
//   bench_reader_scan drl|plt FILE     scan the file, print the count of holes or segments
//   bench_reader_scan none             do nothing: the baseline of the program itself
//   bench_reader_scan make-drl FILE MB write a drilling file of about MB megabytes
//   bench_reader_scan make-line FILE MB write a file of one hole line of MB megabytes
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jobs/drill_file.h"
#include "jobs/plot_file.h"
#include "reader_files.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string file = argc > 2 ? argv[2] : "";
    const std::int64_t megabytes = argc > 3 ? std::atoll(argv[3]) : 0;
    long count = 0;
    if (mode == "none") return 0;
    if (mode == "drl") {
        const std::int32_t length =
            scan_drill_preview(file, 100, [&](std::int32_t, std::int32_t) { ++count; });
        std::printf("%d bytes, %ld holes\n", length, count);
    } else if (mode == "plt") {
        const std::int32_t length = scan_plot_preview(
            file, 61, [&](std::int32_t, std::int32_t, std::int32_t, std::int32_t) { ++count; });
        std::printf("%d bytes, %ld segments\n", length, count);
    } else if (mode == "make-drl") {
        write_drill_file(file, megabytes * 1000 * 1000);
    } else if (mode == "make-line") {
        FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr) return 1;
        static char block[1 << 20];
        std::memset(block, '7', sizeof block);
        std::fputs("X1Y", out);
        for (std::int64_t i = 0; i < megabytes; ++i) std::fwrite(block, 1, sizeof block, out);
        std::fputs("\nX2Y2\n", out);
        std::fclose(out);
    } else {
        std::fprintf(stderr, "usage: %s drl|plt|none|make-drl|make-line [FILE [MB]]\n", argv[0]);
        return 2;
    }
    return 0;
}
