// place.cpp - placement on the table and the drilling order.
#include "place.h"

#include <algorithm>

namespace prep {

Transform placement(const Box& box, const PlaceOptions& options) {
    Transform t;
    if (options.mirror_x) {
        t.sign_x = -1;
        t.shift_x = box.min_x + box.max_x;  // the box keeps its place
    }
    if (options.corner) {
        t.shift_x += options.margin_mm - box.min_x;
        t.shift_y += options.margin_mm - box.min_y;
    }
    t.shift_x += options.offset_x;
    t.shift_y += options.offset_y;
    return t;
}

std::int64_t travel_mm(const HoleList& holes, const std::vector<std::uint32_t>& order,
                       const Transform& t) {
    IntPoint at;
    std::int64_t total = 0;
    for (const std::uint32_t i : order) {
        const IntPoint next = round_mm(t.apply(holes.point(i)));
        total += std::llabs(next.x - at.x) + std::llabs(next.y - at.y);
        at = next;
    }
    return total;
}

namespace {

double axis_distance(const Point& a, const Point& b) {
    return std::fabs(a.x - b.x) + std::fabs(a.y - b.y);
}

// The points of one output in cells of about two points each. Every cell holds a slice of
// `items_`; its first `alive_` entries are the points not yet taken.
class Grid {
public:
    Grid(const HoleList& holes, const std::vector<std::uint32_t>& order) : holes_(holes) {
        for (const std::uint32_t i : order) box_.add(holes.point(i));
        const double n = static_cast<double>(order.size());
        const double w = box_.max_x - box_.min_x;
        const double h = box_.max_y - box_.min_y;
        cell_ = std::sqrt(std::max(w * h, 1e-12) * 2 / n);
        cell_ = std::max({cell_, std::max(w, h) / (2 * n), 1e-6});
        cols_ = static_cast<std::int64_t>(w / cell_) + 1;
        rows_ = static_cast<std::int64_t>(h / cell_) + 1;
        const auto cells = static_cast<std::size_t>(cols_ * rows_);
        first_.assign(cells + 1, 0);
        alive_.assign(cells, 0);
        for (const std::uint32_t i : order) ++first_[cell_of(holes.point(i)) + 1];
        for (std::size_t c = 0; c < cells; ++c) first_[c + 1] += first_[c];
        items_.resize(order.size());
        for (const std::uint32_t i : order) {
            const std::size_t c = cell_of(holes.point(i));
            items_[first_[c] + alive_[c]++] = i;
        }
    }

    // Takes the point nearest to `q` out of the grid and returns it.
    std::uint32_t take_nearest(const Point& q) {
        const std::int64_t cx = std::clamp<std::int64_t>(column(q.x), 0, cols_ - 1);
        const std::int64_t cy = std::clamp<std::int64_t>(row(q.y), 0, rows_ - 1);
        double best = std::numeric_limits<double>::infinity();
        std::size_t best_cell = 0, best_slot = 0;
        const std::int64_t reach = std::max(cols_, rows_);
        for (std::int64_t r = 0; r <= reach; ++r) {
            const std::int64_t x0 = cx - r, x1 = cx + r, y0 = cy - r, y1 = cy + r;
            auto visit = [&](std::int64_t x, std::int64_t y) {
                if (x < 0 || y < 0 || x >= cols_ || y >= rows_) return;
                const auto c = static_cast<std::size_t>(y * cols_ + x);
                for (std::uint32_t s = 0; s < alive_[c]; ++s) {
                    const double d = axis_distance(q, holes_.point(items_[first_[c] + s]));
                    if (d < best) {
                        best = d;
                        best_cell = c;
                        best_slot = s;
                    }
                }
            };
            if (y0 >= 0 || y1 < rows_) {
                for (std::int64_t x = std::max<std::int64_t>(x0, 0); x <= std::min(x1, cols_ - 1);
                     ++x) {
                    visit(x, y0);
                    if (r > 0) visit(x, y1);
                }
            }
            for (std::int64_t y = std::max<std::int64_t>(y0 + 1, 0);
                 y <= std::min(y1 - 1, rows_ - 1); ++y) {
                visit(x0, y);
                if (r > 0) visit(x1, y);
            }
            // Points of later rings are at least r cells away on one axis.
            if (best <= static_cast<double>(r) * cell_) break;
        }
        const std::size_t base = first_[best_cell];
        const std::uint32_t taken = items_[base + best_slot];
        items_[base + best_slot] = items_[base + --alive_[best_cell]];
        return taken;
    }

private:
    std::int64_t column(double x) const {
        return static_cast<std::int64_t>(std::floor((x - box_.min_x) / cell_));
    }
    std::int64_t row(double y) const {
        return static_cast<std::int64_t>(std::floor((y - box_.min_y) / cell_));
    }
    std::size_t cell_of(const Point& p) const {
        const std::int64_t x = std::clamp<std::int64_t>(column(p.x), 0, cols_ - 1);
        const std::int64_t y = std::clamp<std::int64_t>(row(p.y), 0, rows_ - 1);
        return static_cast<std::size_t>(y * cols_ + x);
    }

    const HoleList& holes_;
    Box box_;
    double cell_ = 1;
    std::int64_t cols_ = 1, rows_ = 1;
    std::vector<std::uint32_t> first_;
    std::vector<std::uint32_t> alive_;
    std::vector<std::uint32_t> items_;
};

// Reverses pieces of the path up to WINDOW holes long wherever that shortens it.
void improve(const HoleList& holes, std::vector<std::uint32_t>& order, const Point& home,
             std::chrono::steady_clock::time_point deadline) {
    constexpr std::size_t WINDOW = 24;
    const std::size_t n = order.size();
    auto at = [&](std::size_t k) { return holes.point(order[k]); };
    for (int pass = 0; pass < 50; ++pass) {
        bool better = false;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            if ((i & 1023) == 0 && std::chrono::steady_clock::now() > deadline) return;
            const Point before = i == 0 ? home : at(i - 1);
            const Point first = at(i);
            const double head = axis_distance(before, first);
            for (std::size_t j = i + 1; j < std::min(n, i + WINDOW); ++j) {
                const Point last = at(j);
                double now = head, then = axis_distance(before, last);
                if (j + 1 < n) {
                    const Point after = at(j + 1);
                    now += axis_distance(last, after);
                    then += axis_distance(first, after);
                }
                if (then < now - 1e-9) {
                    std::reverse(order.begin() + static_cast<std::ptrdiff_t>(i),
                                 order.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                    better = true;
                    break;
                }
            }
        }
        if (!better) return;
    }
}

}  // namespace

void order_nearest(const HoleList& holes, std::vector<std::uint32_t>& order, const Transform& t,
                   std::chrono::steady_clock::time_point deadline) {
    if (order.size() < 2) return;
    // Axis distances are the same before and after placement, so the file's coordinates do.
    const Point home = t.invert(Point{0, 0});
    {
        Grid grid(holes, order);
        Point at = home;
        for (std::uint32_t& slot : order) {
            slot = grid.take_nearest(at);
            at = holes.point(slot);
        }
    }
    improve(holes, order, home, deadline);
}

}  // namespace prep
