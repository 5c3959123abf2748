// prep_tour.cpp - the drilling order cncmirel-prep makes by default, against a reference tour
// worked out here by a method of its own, on generated boards of grids and clusters; and the
// order of a million holes: time, peak memory and travel against nearest neighbour.
//   bench_prep_tour [seconds per tour, default 2]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "tour.h"

namespace {

using prep::AxisSteps;
using prep::IntPoint;
using prep::TourEnds;

// A board in 0.1 mm units, 300 x 200 mm: pitch grids (connectors, DIP rows), dense clusters
// (vias under parts) and some holes anywhere, in the scrambled order of a CAD export.
std::vector<IntPoint> board(std::size_t holes, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    auto below = [&](std::int64_t n) { return static_cast<std::int64_t>(random() % n); };
    std::vector<IntPoint> p;
    while (p.size() < holes) {
        const std::int64_t kind = below(10);
        const std::int64_t x0 = below(2800), y0 = below(1800);
        if (kind < 4) {
            const std::int64_t cols = 2 + below(20), rows = 1 + below(3);
            for (std::int64_t c = 0; c < cols; ++c)
                for (std::int64_t r = 0; r < rows; ++r) p.push_back({x0 + c * 25, y0 + r * 76});
        } else if (kind < 8) {
            const std::int64_t n = 5 + below(40);
            for (std::int64_t k = 0; k < n; ++k) p.push_back({x0 + below(120), y0 + below(120)});
        } else {
            p.push_back({below(3000), below(2000)});
        }
    }
    p.resize(holes);
    std::sort(p.begin(), p.end(), [](const IntPoint& a, const IntPoint& b) {
        return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
    p.erase(std::unique(p.begin(), p.end()), p.end());
    std::shuffle(p.begin(), p.end(), random);
    return p;
}

std::vector<IntPoint> in_order(const std::vector<IntPoint>& p,
                               const std::vector<std::uint32_t>& o) {
    std::vector<IntPoint> out;
    out.reserve(o.size());
    for (const std::uint32_t i : o) out.push_back(p[i]);
    return out;
}

// The reference: a path with its two ends fixed, held as a plain array and changed only by
// reversing ranges of it. Started from the points sorted along a serpentine of strips, then
// 2-opt and Or-opt over twelve nearest neighbours to convergence, then many segment-swap kicks,
// each kept only when the path got shorter after re-optimising around it.
class Reference {
public:
    Reference(const std::vector<IntPoint>& p, const TourEnds& ends, const AxisSteps& steps)
        : steps_(steps) {
        pts_.push_back(ends.start);
        std::vector<std::uint32_t> idx(p.size());
        for (std::uint32_t i = 0; i < p.size(); ++i) idx[i] = i;
        const std::int64_t strip = 60;
        std::sort(idx.begin(), idx.end(), [&](std::uint32_t a, std::uint32_t b) {
            const std::int64_t sa = p[a].y / strip, sb = p[b].y / strip;
            if (sa != sb) return sa < sb;
            return sa % 2 == 0 ? p[a].x < p[b].x : p[a].x > p[b].x;
        });
        for (const std::uint32_t i : idx) pts_.push_back(p[i]);
        original_ = idx;
        pts_.push_back(*ends.end);
        n_ = pts_.size();
        path_.resize(n_);
        pos_.resize(n_);
        for (std::size_t k = 0; k < n_; ++k) path_[k] = pos_[k] = static_cast<std::uint32_t>(k);
        // Neighbours by sorting every other point: slow, but nothing shared with prep's grid.
        near_.resize(n_);
        std::vector<std::pair<std::int64_t, std::uint32_t>> all;
        for (std::uint32_t a = 1; a + 1 < n_; ++a) {
            all.clear();
            for (std::uint32_t b = 1; b + 1 < n_; ++b)
                if (b != a) all.emplace_back(d(a, b), b);
            const std::size_t k = std::min<std::size_t>(12, all.size());
            std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(k), all.end());
            for (std::size_t m = 0; m < k; ++m) near_[a].push_back(all[m].second);
        }
    }

    std::int64_t cost() const {
        std::int64_t c = 0;
        for (std::size_t k = 1; k < n_; ++k) c += d(path_[k - 1], path_[k]);
        return c;
    }

    void solve(std::uint64_t kicks) {
        std::vector<std::uint32_t> all;
        for (std::uint32_t v = 1; v + 1 < n_; ++v) all.push_back(v);
        settle(all);
        std::mt19937_64 random(1);
        for (std::uint64_t k = 0; k < kicks && n_ > 12; ++k) {
            // Swap two adjacent short pieces: a double bridge within a stretch of the path.
            const std::size_t i = 1 + random() % (n_ - 10);
            const std::size_t room = std::min<std::size_t>(n_ - 1 - i, 50);
            std::size_t a = 1 + random() % (room - 1), b = 1 + random() % (room - 1);
            if (a > b) std::swap(a, b);
            if (a == b) continue;
            const std::int64_t before = cost_window();
            log_.clear();
            logging_ = true;
            // [i, i+a) [i+a, i+b] -> swapped, by three reversals
            flip(i, i + a - 1);
            flip(i + a, i + b);
            flip(i, i + b);
            std::vector<std::uint32_t> touched;
            for (std::size_t k2 : {i - 1, i, i + a - 1, i + a, i + b, i + b + 1})
                if (k2 < n_) touched.push_back(path_[k2]);
            settle(touched);
            logging_ = false;
            if (cost_window() >= before) {
                for (auto it = log_.rbegin(); it != log_.rend(); ++it) flip(it->first, it->second);
            }
        }
    }

private:
    std::int64_t d(std::uint32_t a, std::uint32_t b) const {
        return steps_.x * std::llabs(pts_[a].x - pts_[b].x) +
               steps_.y * std::llabs(pts_[a].y - pts_[b].y);
    }
    // The whole cost, kept up to date by the moves.
    std::int64_t cost_window() const { return running_; }

    void flip(std::size_t i, std::size_t j) {
        if (i >= j) return;
        running_ += d(path_[i - 1], path_[j]) + d(path_[i], path_[j + 1]) -
                    d(path_[i - 1], path_[i]) - d(path_[j], path_[j + 1]);
        std::reverse(path_.begin() + static_cast<std::ptrdiff_t>(i),
                     path_.begin() + static_cast<std::ptrdiff_t>(j) + 1);
        for (std::size_t k = i; k <= j; ++k) pos_[path_[k]] = static_cast<std::uint32_t>(k);
        if (logging_) log_.emplace_back(i, j);
    }

    // First-improvement 2-opt and Or-opt (pieces of 1 to 3, either way round) from the nodes
    // given, and from every node a move touched, until none gains.
    void settle(std::vector<std::uint32_t> work) {
        std::vector<std::uint8_t> in(n_, 0);
        for (const std::uint32_t v : work) in[v] = 1;
        while (!work.empty()) {
            const std::uint32_t v = work.back();
            work.pop_back();
            in[v] = 0;
            std::vector<std::uint32_t> moved;
            if (improve(v, moved)) {
                for (const std::uint32_t m : moved)
                    if (m > 0 && m + 1 < n_ && !in[m]) {
                        in[m] = 1;
                        work.push_back(m);
                    }
            }
        }
    }

    bool improve(std::uint32_t v, std::vector<std::uint32_t>& moved) {
        const std::size_t i = pos_[v];
        for (const std::uint32_t c : near_[v]) {
            const std::size_t j = pos_[c];
            // 2-opt: v's edge to its successor and c's, reversed between.
            if (i + 1 < n_ && j + 1 < n_ && i != j) {
                const std::size_t lo = std::min(i, j), hi = std::max(i, j);
                const std::int64_t g = d(path_[lo], path_[lo + 1]) + d(path_[hi], path_[hi + 1]) -
                                       d(path_[lo], path_[hi]) - d(path_[lo + 1], path_[hi + 1]);
                if (g > 0) {
                    moved = {path_[lo], path_[lo + 1], path_[hi], path_[hi + 1]};
                    flip(lo + 1, hi);
                    return true;
                }
            }
            // 2-opt on the predecessors' edges.
            if (i > 0 && j > 0 && i != j) {
                const std::size_t lo = std::min(i, j), hi = std::max(i, j);
                const std::int64_t g = d(path_[lo - 1], path_[lo]) + d(path_[hi - 1], path_[hi]) -
                                       d(path_[lo - 1], path_[hi - 1]) - d(path_[lo], path_[hi]);
                if (g > 0 && lo < hi - 1) {
                    moved = {path_[lo - 1], path_[lo], path_[hi - 1], path_[hi]};
                    flip(lo, hi - 1);
                    return true;
                }
            }
        }
        // Or-opt: the piece starting at v moved next to a neighbour of either of its ends.
        for (std::size_t len = 1; len <= 3; ++len) {
            const std::size_t s = i, e = i + len - 1;
            if (s < 1 || e + 1 >= n_) break;
            const std::int64_t out = d(path_[s - 1], path_[s]) + d(path_[e], path_[e + 1]) -
                                     d(path_[s - 1], path_[e + 1]);
            if (out <= 0) continue;
            for (const std::size_t end : {s, e}) {
                for (const std::uint32_t c : near_[path_[end]]) {
                    const std::size_t j = pos_[c];
                    if (j >= s && j <= e) continue;
                    for (const std::size_t x : {j - 1, j}) {
                        // Between x and x + 1, both outside the piece and not its old gap.
                        if (x + 1 >= n_ || (x + 1 >= s && x <= e) || x == s - 1) continue;
                        for (const bool rev : {false, true}) {
                            const std::uint32_t first = rev ? path_[e] : path_[s];
                            const std::uint32_t last = rev ? path_[s] : path_[e];
                            const std::int64_t in = d(path_[x], first) + d(last, path_[x + 1]) -
                                                    d(path_[x], path_[x + 1]);
                            if (out - in <= 0) continue;
                            moved = {path_[s - 1], path_[e + 1], path_[x],
                                     path_[x + 1], path_[s],     path_[e]};
                            // By reversals: the piece and the stretch it passes, then both.
                            if (x > e) {
                                flip(s, x);
                                flip(s, x - len);
                                if (!rev) flip(x - len + 1, x);
                            } else {
                                flip(x + 1, e);
                                flip(x + 1 + len, e);
                                if (!rev) flip(x + 1, x + len);
                            }
                            return true;
                        }
                    }
                }
            }
        }
        return false;
    }

public:
    std::vector<std::uint32_t> order() const {
        std::vector<std::uint32_t> out;
        for (std::size_t k = 1; k + 1 < n_; ++k) out.push_back(original_[path_[k] - 1]);
        return out;
    }
    std::int64_t running_ = 0;
    void start_counting() { running_ = cost(); }

private:
    AxisSteps steps_;
    std::vector<IntPoint> pts_;
    std::vector<std::uint32_t> original_;  // each point's index in the board, from 1 on
    std::size_t n_ = 0;
    std::vector<std::uint32_t> path_, pos_;
    std::vector<std::vector<std::uint32_t>> near_;
    std::vector<std::pair<std::size_t, std::size_t>> log_;
    bool logging_ = false;
};

double since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const AxisSteps steps{4, 4};  // a 0.1 mm unit on a machine of 40 steps per mm
    const TourEnds ends{{0, 0}, IntPoint{0, 0}};
    std::printf("travel in steps; the default tour with a budget of %.1f s\n", seconds);
    for (const std::size_t holes : {2000u, 20000u}) {
        const std::vector<IntPoint> p = board(holes, holes);
        prep::TourOptions o;
        o.steps = steps;
        o.ends = ends;
        auto t = std::chrono::steady_clock::now();
        o.deadline = t + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(seconds));
        const std::int64_t tour = prep::path_cost(in_order(p, prep::short_tour(p, o)), ends, steps);
        const double tour_s = since(t);
        t = std::chrono::steady_clock::now();
        Reference ref(p, ends, steps);
        ref.start_counting();
        ref.solve(40 * p.size());
        const std::int64_t reference = prep::path_cost(in_order(p, ref.order()), ends, steps);
        std::printf(
            "%zu holes: default %lld (%.2f s), reference %lld (%.1f s), ratio %.4f (goal at most "
            "1.02)\n",
            p.size(), static_cast<long long>(tour), tour_s, static_cast<long long>(reference),
            since(t), static_cast<double>(tour) / static_cast<double>(reference));
    }
    // A million holes in a child process, so that its peak resident size is the ordering's own.
    const std::size_t million = 1'000'000;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<IntPoint> p;
        p.reserve(million);
        std::mt19937_64 random(7);
        // 0.025 mm units over 300 x 200 mm: nearly every hole its own place.
        while (p.size() < million)
            p.push_back({static_cast<std::int64_t>(random() % 12000),
                         static_cast<std::int64_t>(random() % 8000)});
        const AxisSteps one{1, 1};
        auto t = std::chrono::steady_clock::now();
        const std::int64_t nearest =
            prep::path_cost(in_order(p, prep::nearest_tour(p, ends, one)), ends, one);
        const double nearest_s = since(t);
        prep::TourOptions o;
        o.steps = one;
        o.ends = ends;
        t = std::chrono::steady_clock::now();
        o.deadline = t + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(seconds));
        const std::vector<std::uint32_t> order = prep::short_tour(p, o);
        const double tour_s = since(t);
        const std::int64_t tour = prep::path_cost(in_order(p, order), ends, one);
        std::printf(
            "%zu holes: nearest neighbour %lld (%.2f s), default %lld (%.2f s), ratio %.4f\n",
            million, static_cast<long long>(nearest), nearest_s, static_cast<long long>(tour),
            tour_s, static_cast<double>(tour) / static_cast<double>(nearest));
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::printf("%zu holes: peak %.1f MiB (goal under %.1f MiB, the points themselves included)\n",
                million, static_cast<double>(usage.ru_maxrss) / 1024,
                64.0 + 32.0 * static_cast<double>(million) / (1024 * 1024));
    return 0;
}
