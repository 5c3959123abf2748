// Fuzz target: a run of plot fetches through arbitrary bytes carrying the pen state, and one
// fetch from an arbitrary offset, against the plain model.
#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"
#include "jobs/plot_file.h"
#include "reference.h"

namespace {

PlotStep check(const FuzzJob& job, std::int32_t pen, std::int32_t position) {
    const PlotStep s = fetch_plot_step(job.path, job.scale, pen, position);
    const reference::Fetched e =
        reference::plot_fetch(job.bytes, scale_divisor(job.scale), pen, position);
    if (!s.readable || s.found != e.found || s.x_mm != e.x || s.y_mm != e.y ||
        s.pen_state != e.pen || s.next_position != e.next) {
        std::fprintf(stderr,
                     "fetch pen %d from %d: (%d, %d) pen %d next %d found %d; "
                     "model (%d, %d) pen %d next %lld found %d\n",
                     pen, position, s.x_mm, s.y_mm, s.pen_state, s.next_position, s.found, e.x, e.y,
                     e.pen, static_cast<long long>(e.next), e.found);
        std::abort();
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzJob job = make_fuzz_job(data, size);
    const auto length = static_cast<std::int32_t>(job.bytes.size());
    static constexpr std::int32_t pens[] = {PEN_NONE, PEN_UP, PEN_DOWN};
    std::int32_t pen = pens[job.choice % 3];
    std::int32_t position = 0;
    for (int i = 0; i < 200 && position < length; ++i) {
        const PlotStep s = check(job, pen, position);
        if (!s.found) break;
        if (s.next_position <= position) std::abort();  // a point always moves the offset on
        pen = s.pen_state;
        position = s.next_position;
    }
    check(job, pens[job.choice / 3 % 3],
          static_cast<std::int32_t>(job.choice * 131 % (length + 64)));
    return 0;
}
