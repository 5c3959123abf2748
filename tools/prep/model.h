// model.h - what the readers make of an input file: holes with their tools, or pen-down
// strokes, in millimetres of the file's own coordinate system, plus the facts the report needs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace prep {

// A conversion that cannot go on: the message is shown as is and the program exits with 2.
class PrepError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most points one conversion makes (holes, or plot vertices): far beyond any board, and
// few enough that memory, time and the outputs stay bounded whatever a small input asks for.
inline constexpr std::int64_t MAX_POINTS = 10'000'000;

// The refusal when `what` (an arc, a slot, a move) would take the job past MAX_POINTS.
inline std::string too_many_points(const std::string& what) {
    return "the job would have more than " + std::to_string(MAX_POINTS) + " points (" + what + ")";
}

struct Point {
    double x = 0;
    double y = 0;
};

// The holes of a drilling job in file order. Kept in fixed blocks, so that a million holes
// cost 16 bytes each and growing the list never copies it; the tools are kept as runs.
class HoleList {
public:
    void push(double x, double y, std::int32_t tool) {
        if (size_ % BLOCK == 0) blocks_.emplace_back(new Point[BLOCK]);
        blocks_.back()[size_ % BLOCK] = Point{x, y};
        if (runs_.empty() || runs_.back().tool != tool) runs_.push_back(Run{size_, tool});
        ++size_;
    }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Point& point(std::size_t i) const { return blocks_[i / BLOCK][i % BLOCK]; }
    Point& point(std::size_t i) { return blocks_[i / BLOCK][i % BLOCK]; }

    // Calls f(index, point, tool) for every hole in file order.
    template <typename F>
    void each(F&& f) const {
        for (std::size_t r = 0; r < runs_.size(); ++r) {
            const std::size_t end = r + 1 < runs_.size() ? runs_[r + 1].first : size_;
            for (std::size_t i = runs_[r].first; i < end; ++i) f(i, point(i), runs_[r].tool);
        }
    }

private:
    static constexpr std::size_t BLOCK = 1 << 14;
    struct Run {
        std::size_t first;
        std::int32_t tool;
    };
    std::vector<std::unique_ptr<Point[]>> blocks_;
    std::vector<Run> runs_;
    std::size_t size_ = 0;
};

struct Tool {
    std::int32_t number = 0;
    double diameter_mm = 0;  // 0 when the file never states it
};

struct DrillJob {
    std::string dialect;              // what the header says about the file, for the report
    std::vector<std::string> relied;  // header lines and defaults the numbers depend on
    std::vector<std::string> notes;   // lines read past, and warnings, for the report
    std::string units;                // "mm" or "inch"
    std::map<std::int32_t, Tool> tools;
    HoleList holes;
    std::int64_t slots = 0;          // G85 slots
    std::int64_t routed_paths = 0;   // M15 ... M16/M17 routing paths
    std::int64_t path_holes = 0;     // holes added along slots and routed paths
    std::int64_t ignored_lines = 0;  // header lines that do not change positions
    // Holes [first, second) laid along a slot or routed path: they overlap on purpose.
    std::vector<std::pair<std::size_t, std::size_t>> path_ranges;
    std::vector<bool> path_routed;  // for each range: a routed path (true) or a slot
};

struct PlotJob {
    std::vector<std::string> relied;
    std::vector<Point> points;          // every stroke's vertices, one stroke after another
    std::vector<std::uint32_t> starts;  // index of each stroke's first vertex in `points`
    std::map<std::string, std::int64_t> skipped;  // commands skipped, by mnemonic
    std::int64_t commands = 0;
    std::int64_t arcs = 0;    // CI, AA and AR commands flattened to chords
    std::int64_t labels = 0;  // LB labels skipped

    std::size_t stroke_count() const { return starts.size(); }
    std::size_t stroke_end(std::size_t i) const {
        return i + 1 < starts.size() ? starts[i + 1] : points.size();
    }
};

}  // namespace prep
