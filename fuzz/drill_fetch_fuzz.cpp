// Fuzz target: a run of drilling fetches through arbitrary bytes, and one fetch from an
// arbitrary offset, against the plain model.
#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"
#include "jobs/drill_file.h"
#include "reference.h"

namespace {

void check(const FuzzJob& job, std::int32_t position) {
    const DrillPoint p = fetch_drill_point(job.path, job.scale, position);
    const reference::Fetched e =
        reference::drill_fetch(job.bytes, scale_divisor(job.scale), position);
    if (!p.readable || p.found != e.found || p.x_mm != e.x || p.y_mm != e.y ||
        p.next_position != e.next) {
        std::fprintf(
            stderr, "fetch from %d: (%d, %d) next %d found %d; model (%d, %d) next %lld found %d\n",
            position, p.x_mm, p.y_mm, p.next_position, p.found, e.x, e.y,
            static_cast<long long>(e.next), e.found);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzJob job = make_fuzz_job(data, size);
    const auto length = static_cast<std::int32_t>(job.bytes.size());
    std::int32_t position = 0;
    for (int i = 0; i < 200 && position < length; ++i) {
        check(job, position);
        const DrillPoint p = fetch_drill_point(job.path, job.scale, position);
        if (!p.found) break;
        if (p.next_position <= position) std::abort();  // a hole always moves the offset on
        position = p.next_position;
    }
    check(job, static_cast<std::int32_t>(job.choice * 131 % (length + 64)));
    return 0;
}
