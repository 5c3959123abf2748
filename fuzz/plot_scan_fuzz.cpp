// Fuzz target: the plot preview scan on arbitrary bytes, against the plain model.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "jobs/plot_file.h"
#include "reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzJob job = make_fuzz_job(data, size);
    std::vector<reference::Segment> segments;
    const std::int32_t length =
        scan_plot_preview(job.path, job.scale,
                          [&](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
                              segments.push_back({x1, y1, x2, y2});
                          });
    if (length != static_cast<std::int32_t>(job.bytes.size())) std::abort();
    const auto expected = reference::plot_scan(job.bytes, scale_divisor(job.scale));
    if (segments != expected) {
        std::fprintf(stderr, "scan: %zu segments, model %zu\n", segments.size(), expected.size());
        for (std::size_t i = 0; i < segments.size() && i < expected.size(); ++i) {
            if (segments[i] == expected[i]) continue;
            std::fprintf(stderr, "segment %zu: (%d, %d)-(%d, %d), model (%d, %d)-(%d, %d)\n", i,
                         segments[i].x1, segments[i].y1, segments[i].x2, segments[i].y2,
                         expected[i].x1, expected[i].y1, expected[i].x2, expected[i].y2);
            break;
        }
        std::abort();
    }
    return 0;
}
