// Fuzz target: cncmirel-prep's Excellon reader on arbitrary bytes. It must either refuse the
// file with a PrepError or give finite holes that the drill writer turns into one line each.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "excellon.h"
#include "fuzz_input.h"
#include "place.h"
#include "plausible.h"
#include "writers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzJob job = make_fuzz_job(data, size);
    // Byte 1 sometimes gives a number format, as --excellon-format does.
    static const char* const FORMATS[] = {"METRIC,LZ,3:3", "METRIC,TZ,3:3", "INCH,LZ,2:4",
                                          "INCH,TZ,2:4"};
    std::optional<prep::ExcellonFormat> given;
    if (job.choice & 0x80) given = prep::parse_excellon_format(FORMATS[job.choice & 3]);
    prep::DrillJob drill;
    try {
        drill = prep::read_excellon(job.path, given);
    } catch (const prep::PrepError&) {
        return 0;
    }
    if (drill.holes.empty()) std::abort();
    // The plausibility check runs on every drill output; its figures must stay finite.
    const prep::Plausibility plausible = prep::check_plausible(drill);
    if (!(plausible.width_mm >= 0) || plausible.overlapping < 0) std::abort();
    (void)plausible.problem();
    std::vector<std::uint32_t> order;
    prep::Box box;
    drill.holes.each([&](std::size_t i, const prep::Point& p, std::int32_t) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::fabs(p.x) >= 1e6 ||
            std::fabs(p.y) >= 1e6) {
            std::abort();
        }
        box.add(p);
        if (order.size() < 4096) order.push_back(static_cast<std::uint32_t>(i));
    });
    const prep::Transform t = prep::placement(box, prep::PlaceOptions{});
    std::FILE* out = std::tmpfile();
    const prep::DrillWritten w = prep::write_drill(out, drill.holes, order, t);
    std::fclose(out);
    if (w.holes != static_cast<std::int64_t>(order.size())) std::abort();
    return 0;
}
