// Fuzz target: cncmirel-prep's HP-GL reader on arbitrary bytes. It must either refuse the
// file with a PrepError or give finite strokes of at least one point each.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"
#include "hpgl.h"
#include "place.h"
#include "writers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzJob job = make_fuzz_job(data, size);
    const double unit = (job.choice & 0x80) ? 0.01 + (job.choice & 0x7f) : 0.025;
    prep::PlotJob plot;
    try {
        plot = prep::read_hpgl(job.path, unit);
    } catch (const prep::PrepError&) {
        return 0;
    }
    if (plot.points.empty() || plot.starts.empty() || plot.starts[0] != 0) std::abort();
    for (std::size_t s = 0; s < plot.stroke_count(); ++s) {
        if (plot.starts[s] >= plot.stroke_end(s)) std::abort();
    }
    prep::Box box;
    for (const prep::Point& p : plot.points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::fabs(p.x) >= 1e6 ||
            std::fabs(p.y) >= 1e6) {
            std::abort();
        }
        box.add(p);
    }
    std::FILE* out = std::tmpfile();
    prep::write_plot(out, plot, prep::placement(box, prep::PlaceOptions{}));
    std::fclose(out);
    return 0;
}
