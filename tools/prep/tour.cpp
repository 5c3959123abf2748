// tour.cpp - nearest neighbour, 2-opt and Or-opt over neighbour lists, and double-bridge kicks,
// on a tour array with the run's start and end as two extra nodes joined by a fixed edge.
#include "tour.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace prep {

std::int64_t path_cost(const std::vector<IntPoint>& points, const TourEnds& ends,
                       const AxisSteps& steps) {
    IntPoint at = ends.start;
    std::int64_t total = 0;
    for (const IntPoint& p : points) {
        total += move_cost(at, p, steps);
        at = p;
    }
    if (ends.end) total += move_cost(at, *ends.end, steps);
    return total;
}

namespace {

// Points in the cost's own space: X and Y multiplied by their steps, so that a move costs the
// plain sum of the axis distances.
struct Scaled {
    std::int64_t x = 0;
    std::int64_t y = 0;
};

std::int64_t l1(const Scaled& a, const Scaled& b) {
    return std::llabs(a.x - b.x) + std::llabs(a.y - b.y);
}

Scaled scaled(const IntPoint& q, const AxisSteps& s) {
    return Scaled{q.x * s.x, q.y * s.y};
}

// The points as the cost sees them, scaled when asked for rather than kept twice.
struct Points {
    const std::vector<IntPoint>& points;
    AxisSteps steps;
    Scaled operator[](std::size_t i) const { return scaled(points[i], steps); }
    std::size_t size() const { return points.size(); }
};

// The points in cells of about two points each; cells keep the points not yet taken first.
class Grid {
public:
    static constexpr std::uint32_t NONE = std::numeric_limits<std::uint32_t>::max();

    explicit Grid(const Points& p) : p_(p) {
        min_x_ = min_y_ = std::numeric_limits<std::int64_t>::max();
        std::int64_t max_x = std::numeric_limits<std::int64_t>::min(), max_y = max_x;
        for (std::size_t i = 0; i < p.size(); ++i) {
            const Scaled s = p[i];
            min_x_ = std::min(min_x_, s.x);
            min_y_ = std::min(min_y_, s.y);
            max_x = std::max(max_x, s.x);
            max_y = std::max(max_y, s.y);
        }
        const double n = static_cast<double>(p.size());
        const double w = static_cast<double>(max_x - min_x_) + 1;
        const double h = static_cast<double>(max_y - min_y_) + 1;
        double cell = std::sqrt(w * h * 2 / n);
        cell = std::max({cell, std::max(w, h) / (2 * n), 1.0});
        cell_ = static_cast<std::int64_t>(std::ceil(cell));
        cols_ = (max_x - min_x_) / cell_ + 1;
        rows_ = (max_y - min_y_) / cell_ + 1;
        const auto cells = static_cast<std::size_t>(cols_ * rows_);
        first_.assign(cells + 1, 0);
        alive_.assign(cells, 0);
        for (std::size_t i = 0; i < p.size(); ++i) ++first_[cell_of(p[i]) + 1];
        for (std::size_t c = 0; c < cells; ++c) first_[c + 1] += first_[c];
        items_.resize(p.size());
        for (std::uint32_t i = 0; i < p.size(); ++i) {
            const std::size_t c = cell_of(p[i]);
            items_[first_[c] + alive_[c]++] = i;
        }
    }

    // Visits the live points ring by ring around `q`; `visit(index, distance)` is called for
    // each, and the search ends after the ring where `done(r * cell)` holds: no point of a
    // later ring is nearer than that.
    template <typename Visit, typename Done>
    void rings(const Scaled& q, Visit&& visit, Done&& done) const {
        const std::int64_t cx = std::clamp<std::int64_t>((q.x - min_x_) / cell_, 0, cols_ - 1);
        const std::int64_t cy = std::clamp<std::int64_t>((q.y - min_y_) / cell_, 0, rows_ - 1);
        const std::int64_t reach = std::max(cols_, rows_);
        auto cell = [&](std::int64_t x, std::int64_t y) {
            if (x < 0 || y < 0 || x >= cols_ || y >= rows_) return;
            const auto c = static_cast<std::size_t>(y * cols_ + x);
            for (std::uint32_t s = 0; s < alive_[c]; ++s) {
                const std::uint32_t i = items_[first_[c] + s];
                visit(c, s, i, l1(q, p_[i]));
            }
        };
        for (std::int64_t r = 0; r <= reach; ++r) {
            const std::int64_t x0 = cx - r, x1 = cx + r, y0 = cy - r, y1 = cy + r;
            for (std::int64_t x = std::max<std::int64_t>(x0, 0); x <= std::min(x1, cols_ - 1);
                 ++x) {
                cell(x, y0);
                if (r > 0) cell(x, y1);
            }
            for (std::int64_t y = std::max<std::int64_t>(y0 + 1, 0);
                 y <= std::min(y1 - 1, rows_ - 1); ++y) {
                cell(x0, y);
                if (r > 0) cell(x1, y);
            }
            // A point of a later ring lies at least r whole cells away on one axis.
            if (done(r * cell_)) return;
        }
    }

    // Takes the live point nearest to `q` out of the grid; ties go to the lowest index, so that
    // the result does not depend on how the cells were filled.
    std::uint32_t take_nearest(const Scaled& q) {
        return take_nearest(q, [](std::uint32_t) { return true; });
    }

    // The same among the points `usable` accepts; the others stay in the grid.
    template <typename Usable>
    std::uint32_t take_nearest(const Scaled& q, Usable&& usable) {
        std::int64_t best = std::numeric_limits<std::int64_t>::max();
        std::uint32_t best_index = 0;
        std::size_t best_cell = 0, best_slot = 0;
        rings(
            q,
            [&](std::size_t c, std::uint32_t s, std::uint32_t i, std::int64_t d) {
                if (!usable(i)) return;
                if (d < best || (d == best && i < best_index)) {
                    best = d;
                    best_index = i;
                    best_cell = c;
                    best_slot = s;
                }
            },
            [&](std::int64_t bound) { return best < bound; });
        if (best == std::numeric_limits<std::int64_t>::max()) return NONE;
        const std::size_t base = first_[best_cell];
        items_[base + best_slot] = items_[base + --alive_[best_cell]];
        return best_index;
    }

    // The points cell by cell, row by row.
    std::vector<std::uint32_t> release_items() { return std::move(items_); }

private:
    std::size_t cell_of(const Scaled& s) const {
        return static_cast<std::size_t>(((s.y - min_y_) / cell_) * cols_ + (s.x - min_x_) / cell_);
    }

    Points p_;
    std::int64_t min_x_ = 0, min_y_ = 0, cell_ = 1, cols_ = 1, rows_ = 1;
    std::vector<std::uint32_t> first_, alive_, items_;
};

std::vector<std::uint32_t> nearest_order(const Points& p, const Scaled& start) {
    std::vector<std::uint32_t> order(p.size());
    if (p.size() == 0) return order;
    Grid grid(p);
    Scaled at = start;
    for (std::uint32_t& slot : order) {
        slot = grid.take_nearest(at);
        at = p[slot];
    }
    return order;
}

// The tour: nodes 0..n-1 are the points, n the start and n+1 the end, held as a cycle in which
// the edge from the end back to the start is never removed (it costs minus FIXED). Without an
// end of the run, the end node is free: reaching it costs nothing.
class Tour {
public:
    static constexpr std::int64_t FIXED = std::int64_t{1} << 58;

    // `mates` (empty, or one per point) joins two points by a fixed edge, a point with itself
    // by none; `initial` must keep mates next to each other.
    Tour(const Points& p, const Scaled& start, const std::optional<Scaled>& end,
         const std::vector<std::uint32_t>& initial, std::vector<std::uint32_t> mates)
        : p_(p),
          n_(static_cast<std::uint32_t>(p.size())),
          size_(n_ + 2),
          start_(start),
          end_(end),
          mates_(std::move(mates)) {
        // On large tours a reversal of most of the array costs more than its gain is worth.
        max_reverse_ = size_ <= 100'000 ? size_ : 50'000;
        tour_.reserve(size_);
        tour_.push_back(n_);
        for (const std::uint32_t i : initial) tour_.push_back(i);
        tour_.push_back(n_ + 1);
        pos_.resize(size_);
        for (std::uint32_t k = 0; k < size_; ++k) pos_[tour_[k]] = k;
        build_neighbours();
    }

    std::int64_t dist(std::uint32_t a, std::uint32_t b) const {
        if (a > b) std::swap(a, b);
        if (b < n_) return !mates_.empty() && mates_[a] == b ? -FIXED : l1(p_[a], p_[b]);
        if (a == n_ && b == n_ + 1) return -FIXED;
        if (b == n_) return l1(p_[a], start_);
        // b is the end node
        if (!end_) return 0;
        return l1(a == n_ ? start_ : p_[a], *end_);
    }

    std::uint32_t succ(std::uint32_t a) const {
        return tour_[pos_[a] + 1 == size_ ? 0 : pos_[a] + 1];
    }
    std::uint32_t pred(std::uint32_t a) const {
        return tour_[pos_[a] == 0 ? size_ - 1 : pos_[a] - 1];
    }

    // Local search from every node until no move gains or the deadline passes; false when the
    // deadline ended it.
    bool optimise_all(std::chrono::steady_clock::time_point deadline) {
        queued_.assign(size_, 1);
        queue_.clear();
        for (std::uint32_t k = 0; k < size_; ++k) queue_.push_back(tour_[k]);
        return drain(deadline);
    }

    // Double-bridge kicks on short stretches of the tour, each followed by local search around
    // it and undone unless the tour got shorter; until `limit` kicks in a row gained nothing or
    // the deadline passed.
    void kick(std::chrono::steady_clock::time_point deadline, std::uint64_t limit) {
        if (size_ < 8) return;
        std::mt19937_64 random(size_);
        std::uint64_t failed = 0;
        queued_.assign(size_, 0);
        while (failed < limit) {
            if ((failed & 15) == 0 && std::chrono::steady_clock::now() > deadline) return;
            const std::uint32_t span = std::min<std::uint32_t>(size_ - 1, 60);
            const auto i = static_cast<std::uint32_t>(random() % size_);
            std::uint32_t cut0 = 1 + static_cast<std::uint32_t>(random() % (span - 1));
            std::uint32_t cut1 = 1 + static_cast<std::uint32_t>(random() % (span - 1));
            if (cut0 > cut1) std::swap(cut0, cut1);
            if (cut0 == cut1) {
                ++failed;
                continue;
            }
            // A = ..a0, B = b0..b1, C = c0..c1, then d0: becomes a0 C B d0.
            const std::uint32_t a0 = at(i), b0 = at(i + 1), b1 = at(i + cut0);
            const std::uint32_t c0 = at(i + cut0 + 1), c1 = at(i + cut1);
            const std::uint32_t d0 = at(i + cut1 + 1);
            if (fixed(a0, b0) || fixed(b1, c0) || fixed(c1, d0)) {
                ++failed;
                continue;
            }
            journal_.clear();
            gained_ = dist(a0, b0) + dist(b1, c0) + dist(c1, d0) - dist(a0, c0) - dist(c1, b0) -
                      dist(b1, d0);
            move_segment(c0, c1, a0, b0, false);
            for (const std::uint32_t v : {a0, b0, b1, c0, c1, d0}) push(v);
            drain(deadline);
            if (gained_ > 0) {
                failed = 0;
            } else {
                for (auto it = journal_.rbegin(); it != journal_.rend(); ++it)
                    reverse_positions(it->first, it->second);
                ++failed;
            }
            journal_.clear();
        }
    }

    // The points in tour order from the start.
    std::vector<std::uint32_t> order() const {
        std::vector<std::uint32_t> out;
        out.reserve(n_);
        std::uint32_t prev = n_ + 1, v = n_;
        for (std::uint32_t k = 1; k < size_ - 1; ++k) {
            const std::uint32_t next = succ(v) == prev ? pred(v) : succ(v);
            prev = v;
            v = next;
            out.push_back(v);
        }
        return out;
    }

private:
    std::uint32_t at(std::uint64_t k) const { return tour_[k % size_]; }
    bool fixed(std::uint32_t a, std::uint32_t b) const { return dist(a, b) == -FIXED; }

    void build_neighbours() {
        const std::uint32_t k = n_ > 200'000 ? 5 : 8;
        k_ = std::min<std::uint32_t>(k, n_ > 0 ? n_ - 1 : 0);
        if (n_ < 2) return;
        // The start and the end of the run have neighbours too, so that moves that change which
        // point comes first or last are found.
        neighbours_.assign(static_cast<std::size_t>(size_) * k_, 0);
        Grid grid(p_);
        std::vector<std::pair<std::int64_t, std::uint32_t>> best;
        for (std::uint32_t i = 0; i < size_; ++i) {
            if (i == n_ + 1 && !end_) break;
            best.clear();
            grid.rings(
                i < n_    ? p_[i]
                : i == n_ ? start_
                          : *end_,
                [&](std::size_t, std::uint32_t, std::uint32_t j, std::int64_t d) {
                    if (j == i) return;
                    const std::pair<std::int64_t, std::uint32_t> e{d, j};
                    if (best.size() < k_) {
                        best.push_back(e);
                        std::push_heap(best.begin(), best.end());
                    } else if (e < best.front()) {
                        std::pop_heap(best.begin(), best.end());
                        best.back() = e;
                        std::push_heap(best.begin(), best.end());
                    }
                },
                [&](std::int64_t bound) {
                    return best.size() == k_ && best.front().first <= bound;
                });
            std::sort_heap(best.begin(), best.end());
            for (std::uint32_t m = 0; m < k_; ++m)
                neighbours_[static_cast<std::size_t>(i) * k_ + m] = best[m].second;
        }
    }

    void push(std::uint32_t v) {
        if (!queued_[v]) {
            queued_[v] = 1;
            queue_.push_back(v);
        }
    }

    // Reverses the tour positions from `first` on, `count` of them, wrapping round.
    void reverse_positions(std::uint32_t first, std::uint32_t count) {
        std::uint32_t i = first, j = (first + count - 1) % size_;
        for (std::uint32_t m = 0; m < count / 2; ++m) {
            std::swap(tour_[i], tour_[j]);
            pos_[tour_[i]] = i;
            pos_[tour_[j]] = j;
            i = i + 1 == size_ ? 0 : i + 1;
            j = j == 0 ? size_ - 1 : j - 1;
        }
    }

    // Reverses the path from `from` forward to `to`, or the rest of the cycle when that is
    // shorter: the same cycle either way.
    void reverse_path(std::uint32_t from, std::uint32_t to) {
        std::uint32_t first = pos_[from];
        std::uint32_t count = (pos_[to] + size_ - first) % size_ + 1;
        if (2 * count > size_) {
            first = (pos_[to] + 1) % size_;
            count = size_ - count;
        }
        if (count < 2) return;
        reverse_positions(first, count);
        if (recording_) journal_.emplace_back(first, count);
    }

    // Removes the edges (a, b) and (c, d), b and d following a and c in one direction, and
    // joins a to c and b to d.
    void move2(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t /*d*/) {
        if (succ(a) == b)
            reverse_path(b, c);
        else
            reverse_path(c, b);
    }

    // Positions apart along the tour, either way round: what a move joining the two costs.
    bool near_in_tour(std::uint32_t a, std::uint32_t c) const {
        const std::uint32_t gap = pos_[a] > pos_[c] ? pos_[a] - pos_[c] : pos_[c] - pos_[a];
        return std::min(gap, size_ - gap) <= max_reverse_;
    }

    bool try_two_opt(std::uint32_t a, bool forward) {
        const std::uint32_t b = forward ? succ(a) : pred(a);
        const std::int64_t ab = dist(a, b);
        for (std::uint32_t m = 0; m < neighbour_count(a); ++m) {
            const std::uint32_t c = neighbour(a, m);
            const std::int64_t g1 = ab - dist(a, c);
            if (g1 <= 0) break;
            if (c == b || !near_in_tour(a, c)) continue;
            const std::uint32_t d = forward ? succ(c) : pred(c);
            if (d == a) continue;
            const std::int64_t gain = g1 + dist(c, d) - dist(b, d);
            if (gain > 0) {
                move2(a, b, c, d);
                gained_ += gain;
                for (const std::uint32_t v : {a, b, c, d}) push(v);
                return true;
            }
        }
        return false;
    }

    // Moves the stretch from head to tail (tail following head forward) between x and
    // y = succ(x).
    void move_segment(std::uint32_t head, std::uint32_t tail, std::uint32_t x, std::uint32_t y,
                      bool reversed) {
        const std::uint32_t p = pred(head), n = succ(tail);
        move2(p, head, x, y);
        if (x != n) move2(p, x, n, tail);
        if (!reversed) move2(x, tail, head, y);
    }

    bool try_or_opt(std::uint32_t a) {
        if (size_ < 8) return false;
        for (std::uint32_t len = 1; len <= 3; ++len) {
            for (const bool forward : {true, false}) {
                // The stretch of `len` nodes that starts (forward) or ends (backward) at a.
                std::uint32_t e = a;
                for (std::uint32_t m = 1; m < len; ++m) e = forward ? succ(e) : pred(e);
                const std::uint32_t head = forward ? a : e, tail = forward ? e : a;
                if (len == 1 && !forward) continue;
                const std::uint32_t p = pred(head), nx = succ(tail);
                const std::int64_t g0 = dist(p, head) + dist(tail, nx) - dist(p, nx);
                if (g0 <= 0) continue;
                auto inside = [&](std::uint32_t v) {
                    for (std::uint32_t w = head;; w = succ(w)) {
                        if (w == v) return true;
                        if (w == tail) return false;
                    }
                };
                for (const std::uint32_t end : {head, tail}) {
                    for (std::uint32_t m = 0; m < neighbour_count(end); ++m) {
                        const std::uint32_t c = neighbour(end, m);
                        if (dist(end, c) >= g0) break;
                        if (inside(c) || !near_in_tour(end, c)) continue;
                        for (const bool after : {true, false}) {
                            // Between x and y = succ(x), with `end` next to c.
                            const std::uint32_t x = after ? c : pred(c);
                            const std::uint32_t y = after ? succ(c) : c;
                            if (inside(x) || inside(y)) continue;
                            // x = p, y = nx cannot happen: p and nx are not joined yet.
                            const std::uint32_t near_x = after ? end : (end == head ? tail : head);
                            const std::uint32_t near_y = near_x == head ? tail : head;
                            const std::int64_t add = dist(x, near_x) + dist(near_y, y) - dist(x, y);
                            if (g0 - add <= 0) continue;
                            move_segment(head, tail, x, y, near_x == tail);
                            gained_ += g0 - add;
                            for (const std::uint32_t v : {p, nx, head, tail, x, y}) push(v);
                            return true;
                        }
                    }
                }
            }
        }
        return false;
    }

    std::uint32_t neighbour_count(std::uint32_t v) const {
        return v < n_ || v == n_ || end_ ? k_ : 0;
    }
    std::uint32_t neighbour(std::uint32_t v, std::uint32_t m) const {
        return neighbours_[static_cast<std::size_t>(v) * k_ + m];
    }

    bool drain(std::chrono::steady_clock::time_point deadline) {
        std::size_t head = 0;
        std::uint32_t tick = 0;
        while (head < queue_.size()) {
            if ((++tick & 63) == 0 && std::chrono::steady_clock::now() > deadline) {
                for (std::size_t k = head; k < queue_.size(); ++k) queued_[queue_[k]] = 0;
                queue_.clear();
                return false;
            }
            const std::uint32_t a = queue_[head++];
            queued_[a] = 0;
            if (try_two_opt(a, true) || try_two_opt(a, false) || try_or_opt(a)) push(a);
            // Keep the queue from growing without end: drop what has been handled.
            if (head > 4096 && head * 2 > queue_.size()) {
                queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head));
                head = 0;
            }
        }
        queue_.clear();
        return true;
    }

public:
    bool recording_ = false;
    std::int64_t gained_ = 0;

private:
    Points p_;
    std::uint32_t n_, size_;
    Scaled start_;
    std::optional<Scaled> end_;
    std::vector<std::uint32_t> mates_;
    std::uint32_t max_reverse_ = 0;
    std::vector<std::uint32_t> tour_, pos_;
    std::uint32_t k_ = 0;
    std::vector<std::uint32_t> neighbours_;
    std::vector<std::uint8_t> queued_;
    std::vector<std::uint32_t> queue_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> journal_;
};

}  // namespace

std::vector<std::uint32_t> nearest_tour(const std::vector<IntPoint>& points, const TourEnds& ends,
                                        const AxisSteps& steps) {
    return nearest_order(Points{points, steps}, scaled(ends.start, steps));
}

std::vector<std::uint32_t> short_tour(const std::vector<IntPoint>& points, const TourOptions& o) {
    if (points.size() < 2) return std::vector<std::uint32_t>(points.size(), 0);
    // The search works on the points renumbered cell by cell, so that points near each other
    // lie near each other in memory too.
    std::vector<std::uint32_t> cells = Grid(Points{points, o.steps}).release_items();
    std::vector<IntPoint> local(points.size());
    for (std::size_t k = 0; k < cells.size(); ++k) local[k] = points[cells[k]];
    const Points p{local, o.steps};
    const Scaled start = scaled(o.ends.start, o.steps);
    std::optional<Scaled> end;
    if (o.ends.end) end = scaled(*o.ends.end, o.steps);
    std::vector<std::uint32_t> order = nearest_order(p, start);
    {
        Tour tour(p, start, end, order, {});
        order.clear();
        order.shrink_to_fit();
        if (tour.optimise_all(o.deadline) && o.kicks) {
            tour.recording_ = true;
            tour.kick(o.deadline, std::max<std::uint64_t>(200, 2 * p.size()));
        }
        order = tour.order();
    }
    for (std::uint32_t& i : order) i = cells[i];
    return order;
}

namespace {

bool closed(const std::vector<IntPoint>& v) {
    return v.size() >= 3 && v.front() == v.back();
}

IntPoint entry(const std::vector<IntPoint>& v, const StrokeRun& r) {
    if (closed(v)) return v[r.first];
    return r.reversed ? v.back() : v.front();
}

IntPoint exit(const std::vector<IntPoint>& v, const StrokeRun& r) {
    if (closed(v)) return v[r.first];
    return r.reversed ? v.front() : v.back();
}

}  // namespace

std::int64_t stroke_travel(const std::vector<std::vector<IntPoint>>& strokes,
                           const std::vector<StrokeRun>& runs, const TourEnds& ends,
                           const AxisSteps& steps) {
    IntPoint at = ends.start;
    std::int64_t total = 0;
    for (const StrokeRun& r : runs) {
        const std::vector<IntPoint>& v = strokes[r.stroke];
        if (v.empty()) continue;
        total += move_cost(at, entry(v, r), steps);
        at = exit(v, r);
    }
    if (ends.end) total += move_cost(at, *ends.end, steps);
    return total;
}

std::vector<StrokeRun> short_strokes(const std::vector<std::vector<IntPoint>>& strokes,
                                     const TourOptions& o) {
    // Where each stroke may be entered: either end of an open one, any vertex of a closed one.
    std::vector<IntPoint> places;
    std::vector<std::uint32_t> place_stroke, place_vertex;
    std::vector<StrokeRun> runs;
    for (std::uint32_t s = 0; s < strokes.size(); ++s) {
        const std::vector<IntPoint>& v = strokes[s];
        if (v.empty()) {
            runs.push_back({s, 0, false});  // nothing to travel to
            continue;
        }
        const std::size_t count = closed(v) ? v.size() - 1 : 1;
        for (std::size_t k = 0; k < count; ++k) {
            places.push_back(v[k]);
            place_stroke.push_back(s);
            place_vertex.push_back(static_cast<std::uint32_t>(k));
        }
        if (!closed(v)) {
            places.push_back(v.back());
            place_stroke.push_back(s);
            place_vertex.push_back(static_cast<std::uint32_t>(v.size() - 1));
        }
    }
    // Nearest neighbour among the strokes not yet run.
    std::vector<StrokeRun> nearest;
    {
        const Points p{places, o.steps};
        Grid grid(p);
        std::vector<std::uint8_t> done(strokes.size(), 0);
        Scaled at = scaled(o.ends.start, o.steps);
        for (;;) {
            const std::uint32_t i =
                grid.take_nearest(at, [&](std::uint32_t k) { return !done[place_stroke[k]]; });
            if (i == Grid::NONE) break;
            const std::uint32_t s = place_stroke[i];
            done[s] = 1;
            const std::vector<IntPoint>& v = strokes[s];
            StrokeRun r{s, closed(v) ? place_vertex[i] : 0,
                        !closed(v) && place_vertex[i] != 0 && v.size() > 1};
            nearest.push_back(r);
            at = scaled(exit(v, r), o.steps);
        }
    }
    // The tour over entries and exits: an open stroke is two points joined by a fixed edge, a
    // closed one the single point it is entered and left at.
    std::vector<IntPoint> nodes;
    std::vector<std::uint32_t> mates, node_stroke, initial;
    for (const StrokeRun& r : nearest) {
        const std::vector<IntPoint>& v = strokes[r.stroke];
        const auto first = static_cast<std::uint32_t>(nodes.size());
        initial.push_back(first);
        node_stroke.push_back(static_cast<std::uint32_t>(&r - nearest.data()));
        nodes.push_back(entry(v, r));
        if (closed(v) || v.size() == 1) {
            mates.push_back(first);
        } else {
            initial.push_back(first + 1);
            node_stroke.push_back(static_cast<std::uint32_t>(&r - nearest.data()));
            nodes.push_back(exit(v, r));
            mates.push_back(first + 1);
            mates.push_back(first);
        }
    }
    if (nodes.size() >= 2) {
        const Points p{nodes, o.steps};
        std::optional<Scaled> end;
        if (o.ends.end) end = scaled(*o.ends.end, o.steps);
        Tour tour(p, scaled(o.ends.start, o.steps), end, initial, mates);
        if (tour.optimise_all(o.deadline) && o.kicks) {
            tour.recording_ = true;
            tour.kick(o.deadline, std::max<std::uint64_t>(200, 2 * nodes.size()));
        }
        const std::vector<std::uint32_t> order = tour.order();
        std::vector<StrokeRun> ordered;
        std::vector<std::uint8_t> taken(nearest.size(), 0);
        for (const std::uint32_t node : order) {
            // The first of a stroke's two ends met is where it is entered.
            if (taken[node_stroke[node]]) continue;
            taken[node_stroke[node]] = 1;
            StrokeRun r = nearest[node_stroke[node]];
            if (node > mates[node]) r.reversed = !r.reversed;
            ordered.push_back(r);
        }
        nearest.swap(ordered);
    }
    // Closed strokes entered at the vertex that suits the strokes around them best.
    for (std::size_t k = 0; k < nearest.size(); ++k) {
        const std::vector<IntPoint>& v = strokes[nearest[k].stroke];
        if (!closed(v)) continue;
        const IntPoint before =
            k == 0 ? o.ends.start : exit(strokes[nearest[k - 1].stroke], nearest[k - 1]);
        std::optional<IntPoint> after = o.ends.end;
        if (k + 1 < nearest.size()) after = entry(strokes[nearest[k + 1].stroke], nearest[k + 1]);
        std::int64_t best = std::numeric_limits<std::int64_t>::max();
        for (std::uint32_t i = 0; i + 1 < v.size(); ++i) {
            const std::int64_t c =
                move_cost(before, v[i], o.steps) + (after ? move_cost(v[i], *after, o.steps) : 0);
            if (c < best) {
                best = c;
                nearest[k].first = i;
            }
        }
    }
    for (const StrokeRun& r : runs) nearest.push_back(r);
    return nearest;
}

}  // namespace prep
