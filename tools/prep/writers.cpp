// writers.cpp - the two output dialects.
#include "writers.h"

#include <cerrno>
#include <charconv>
#include <string>

namespace prep {

namespace {

// Lines gathered in a buffer and handed to the file in large blocks.
class Lines {
public:
    explicit Lines(std::FILE* file) : file_(file) { buffer_.reserve(1 << 16); }
    ~Lines() = default;  // callers flush; an unfinished file is thrown away anyway

    void text(const char* t) { buffer_.append(t); }
    void number(std::int64_t v) {
        char digits[24];
        buffer_.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
    }
    void end_line() {
        buffer_.push_back('\n');
        if (buffer_.size() >= (1 << 16)) flush();
    }
    std::int64_t bytes() const { return written_ + static_cast<std::int64_t>(buffer_.size()); }
    void flush() {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            throw WriteFailed(errno);
        }
        written_ += static_cast<std::int64_t>(buffer_.size());
        buffer_.clear();
        if (written_ > MAX_JOB_BYTES) {
            throw PrepError("an output would be longer than the controller's 2 GB limit");
        }
    }

private:
    std::FILE* file_;
    std::string buffer_;
    std::int64_t written_ = 0;
};

}  // namespace

DrillWritten write_drill(std::FILE* file, const HoleList& holes,
                         const std::vector<std::uint32_t>& order, const Transform& t) {
    Lines out(file);
    for (const std::uint32_t i : order) {
        const IntPoint p = round_mm(t.apply(holes.point(i)));
        out.text("X");
        out.number(p.x);
        out.text("Y");
        out.number(p.y);
        out.end_line();
    }
    out.text("M30");
    out.end_line();
    out.flush();
    return DrillWritten{static_cast<std::int64_t>(order.size()), out.bytes()};
}

PlotWritten write_plot(std::FILE* file, const PlotJob& job, const Transform& t) {
    Lines out(file);
    PlotWritten w;
    auto point = [&](const IntPoint& p) {
        out.text("PA");
        out.number(p.x - PLOT_X_SHIFT_MM);
        out.text(",");
        out.number(p.y);
        out.text(";");
        out.end_line();
        ++w.vertices;
    };
    // The plotter's initialisation, which the controller skips: a job opened afresh starts with
    // no pen command seen.
    out.text("IN;");
    out.end_line();
    IntPoint last;
    for (std::size_t s = 0; s < job.stroke_count(); ++s) {
        const std::size_t begin = job.starts[s];
        const std::size_t end = job.stroke_end(s);
        const IntPoint first = round_mm(t.apply(job.points[begin]));
        out.text("PU;");
        out.end_line();
        point(first);
        out.text("PD;");
        out.end_line();
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
    out.text("PU;");
    out.end_line();
    point(last);
    out.flush();
    w.bytes = out.bytes();
    return w;
}

}  // namespace prep
