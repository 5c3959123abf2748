// writers.cpp - the two output dialects.
#include "writers.h"

#include <cerrno>
#include <string>

#include "base/line_writer.h"

namespace prep {

namespace {

// The controller's buffered lines, with a failed write or a job too long for the controller
// ending the conversion at once.
class Lines {
public:
    explicit Lines(std::FILE* file) : out_(file) {}

    template <typename... Pieces>
    void line(const Pieces&... pieces) {
        out_.joined(pieces...);
        check();
    }
    void flush() {
        out_.flush();
        check();
    }
    std::int64_t bytes() const { return out_.bytes(); }

private:
    void check() const {
        if (out_.failed()) throw WriteFailed(out_.error() ? out_.error() : EIO);
        if (out_.bytes() > MAX_JOB_BYTES) {
            throw PrepError("an output would be longer than the controller's 2 GB limit");
        }
    }

    LineWriter out_;
};

}  // namespace

DrillWritten write_drill(std::FILE* file, const HoleList& holes,
                         const std::vector<std::uint32_t>& order, const Transform& t) {
    Lines out(file);
    for (const std::uint32_t i : order) {
        const IntPoint p = round_mm(t.apply(holes.point(i)));
        out.line("X", p.x, "Y", p.y);
    }
    out.line("M30");
    out.flush();
    return DrillWritten{static_cast<std::int64_t>(order.size()), out.bytes()};
}

PlotWritten write_plot(std::FILE* file, const PlotJob& job, const Transform& t) {
    Lines out(file);
    PlotWritten w;
    auto point = [&](const IntPoint& p) {
        out.line("PA", p.x - PLOT_X_SHIFT_MM, ",", p.y, ";");
        ++w.vertices;
    };
    // The plotter's initialisation, which the controller skips: a job opened afresh starts with
    // no pen command seen.
    out.line("IN;");
    IntPoint last;
    for (std::size_t s = 0; s < job.stroke_count(); ++s) {
        const std::size_t begin = job.starts[s];
        const std::size_t end = job.stroke_end(s);
        const IntPoint first = round_mm(t.apply(job.points[begin]));
        out.line("PU;");
        point(first);
        out.line("PD;");
        // The first point again, a cut of length zero: the controller's preview draws a stroke
        // from the point after PD on, so without it the stroke's first cut would be missing.
        point(first);
        IntPoint previous = first;
        bool moved = false;
        for (std::size_t k = begin + 1; k < end; ++k) {
            const IntPoint p = round_mm(t.apply(job.points[k]));
            if (p == previous) {
                ++w.dropped;
                continue;
            }
            point(p);
            previous = p;
            moved = true;
        }
        if (!moved) ++w.single;  // a dot, or a stroke shorter than a millimetre: a plunge
        last = previous;
        ++w.strokes;
    }
    out.line("PU;");
    point(last);
    out.flush();
    w.bytes = out.bytes();
    return w;
}

}  // namespace prep
