// Fuzz target: the drilling preview scan on arbitrary bytes, against the plain model.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "jobs/drill_file.h"
#include "reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzJob job = make_fuzz_job(data, size);
    std::vector<reference::Hole> holes;
    const std::int32_t length =
        scan_drill_preview(job.path, job.scale, [&](std::int32_t x, std::int32_t y) {
            holes.push_back({x, y});
        });
    if (length != static_cast<std::int32_t>(job.bytes.size())) std::abort();
    const auto expected = reference::drill_scan(job.bytes, scale_divisor(job.scale));
    if (holes != expected) {
        std::fprintf(stderr, "scan: %zu holes, model %zu\n", holes.size(), expected.size());
        for (std::size_t i = 0; i < holes.size() && i < expected.size(); ++i) {
            if (holes[i] == expected[i]) continue;
            std::fprintf(stderr, "hole %zu: (%d, %d), model (%d, %d)\n", i, holes[i].x, holes[i].y,
                         expected[i].x, expected[i].y);
            break;
        }
        std::abort();
    }
    return 0;
}
