// reader_files.h - writes the large drilling and plot files that the reader benchmarks read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Writes about `bytes` of drilling file: a header, hole lines such as X01234Y5678 (a tenth of
// them with decimals), "M30". Returns the offset of the last hole line.
inline std::int64_t write_drill_file(const std::string& path, std::int64_t bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::exit(1);
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    std::int64_t written = std::fprintf(out, "%%\nM48\nT1C0.8\n%%\nT1\n");
    std::int64_t last_hole = 0;
    std::uint32_t seed = 1;
    while (written < bytes) {
        seed = seed * 1664525u + 1013904223u;
        const unsigned x = seed >> 16 & 0x7fff;
        const unsigned y = seed & 0x7fff;
        last_hole = written;
        written += (seed >> 8) % 10 == 0 ? std::fprintf(out, "X%u.%uY%u\n", x, y % 10, y)
                                         : std::fprintf(out, "X%05uY%05u\n", x, y);
    }
    std::fprintf(out, "M30\n");
    std::fclose(out);
    return last_hole;
}

// Writes about `bytes` of plot file: set-up lines, then strokes of a pen-up travel and eight
// pen-down points. Returns the offset of the last "PU" line.
inline std::int64_t write_plot_file(const std::string& path, std::int64_t bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::exit(1);
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    std::int64_t written = std::fprintf(out, "IN;\nSP1;\n");
    std::int64_t last_pen_up = 0;
    std::uint32_t seed = 1;
    while (written < bytes) {
        last_pen_up = written;
        seed = seed * 1664525u + 1013904223u;
        written += std::fprintf(out, "PU;\nPA%u,%u;\nPD;\n", seed >> 16 & 0x3fff, seed & 0x3fff);
        for (int i = 0; i < 8; ++i) {
            seed = seed * 1664525u + 1013904223u;
            written += std::fprintf(out, "PA%u,%u;\n", seed >> 16 & 0x3fff, seed & 0x3fff);
        }
    }
    std::fprintf(out, "PU;\nSP0;\n");
    std::fclose(out);
    return last_pen_up;
}
