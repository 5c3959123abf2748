// test_tour.cpp - the short tour: every point kept once, never longer than nearest neighbour,
// the best order on boards small enough to try every order, and the same result every time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "tour.h"

namespace prep {
namespace {

std::uint32_t next_random(std::uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

std::vector<IntPoint> in_order(const std::vector<IntPoint>& points,
                               const std::vector<std::uint32_t>& order) {
    std::vector<IntPoint> out;
    for (const std::uint32_t i : order) out.push_back(points[i]);
    return out;
}

bool is_permutation_of_all(std::vector<std::uint32_t> order, std::size_t n) {
    std::sort(order.begin(), order.end());
    std::vector<std::uint32_t> all(n);
    std::iota(all.begin(), all.end(), 0u);
    return order == all;
}

// Boards of different shapes, each with its own start, end and steps.
struct Board {
    const char* name;
    std::vector<IntPoint> points;
    TourEnds ends;
    AxisSteps steps;
};

std::vector<Board> boards() {
    std::vector<Board> b;
    std::uint32_t seed = 7;
    Board scattered{"scattered", {}, {{0, 0}, IntPoint{0, 0}}, {1, 1}};
    for (int i = 0; i < 1500; ++i)
        scattered.points.push_back({next_random(seed) % 2000, next_random(seed) % 1500});
    b.push_back(scattered);
    // A pitch grid in a finer unit, plus clusters; Y steps cost three times X steps.
    Board grid{"grid and clusters", {}, {{40, 30}, IntPoint{0, 0}}, {10, 30}};
    for (int x = 0; x < 30; ++x)
        for (int y = 0; y < 20; ++y) grid.points.push_back({100 + x * 25, 200 + y * 25});
    for (int c = 0; c < 20; ++c) {
        const std::int64_t cx = next_random(seed) % 2000, cy = next_random(seed) % 1500;
        for (int k = 0; k < 30; ++k)
            grid.points.push_back({cx + next_random(seed) % 40, cy + next_random(seed) % 40});
    }
    b.push_back(grid);
    // No way back (a plot), starting far from the holes.
    Board open{"open end", {}, {{3000, 3000}, std::nullopt}, {2, 1}};
    for (int i = 0; i < 800; ++i)
        open.points.push_back({next_random(seed) % 500, next_random(seed) % 500});
    b.push_back(open);
    // All on one line: the shortest tour goes out and comes back once.
    Board line{"line", {}, {{0, 0}, IntPoint{0, 0}}, {1, 1}};
    for (int i = 0; i < 300; ++i) line.points.push_back({(i * 7919) % 1000, 5});
    b.push_back(line);
    return b;
}

TEST(Tour, KeepsEveryPointOnceAndNeverLosesToNearestNeighbour) {
    for (const Board& b : boards()) {
        SCOPED_TRACE(b.name);
        TourOptions o;
        o.ends = b.ends;
        o.steps = b.steps;
        const std::vector<std::uint32_t> tour = short_tour(b.points, o);
        ASSERT_TRUE(is_permutation_of_all(tour, b.points.size()));
        const std::vector<std::uint32_t> nn = nearest_tour(b.points, b.ends, b.steps);
        ASSERT_TRUE(is_permutation_of_all(nn, b.points.size()));
        const std::int64_t shortest = path_cost(in_order(b.points, tour), b.ends, b.steps);
        const std::int64_t nearest = path_cost(in_order(b.points, nn), b.ends, b.steps);
        EXPECT_LE(shortest, nearest);
        // The file order of these boards is far from short.
        EXPECT_LT(shortest * 2, path_cost(b.points, b.ends, b.steps));
        // Without a deadline the search converges to the same tour every time.
        EXPECT_EQ(short_tour(b.points, o), tour);
    }
}

// From the middle of a line of holes the shortest way goes to the far end first, then to the
// other end and home: nearest neighbour zigzags instead.
TEST(Tour, LineFromItsMiddleGoesToTheFarEndFirst) {
    const Board line = boards().back();
    TourOptions o;
    o.ends = {{400, 0}, IntPoint{0, 0}};
    const std::vector<std::uint32_t> tour = short_tour(line.points, o);
    std::int64_t far = 0, near = 1000;
    for (const IntPoint& p : line.points) {
        far = std::max(far, p.x);
        near = std::min(near, p.x);
    }
    EXPECT_EQ(path_cost(in_order(line.points, tour), o.ends, o.steps),
              (far - 400) + (far - near) + near + 2 * 5);
}

// Every order of seven points tried: the tour finds the cheapest, with the start, the way back
// (or none) and unequal steps all counted.
TEST(Tour, FindsTheBestOrderOfSmallBoards) {
    std::uint32_t seed = 99;
    for (int round = 0; round < 30; ++round) {
        std::vector<IntPoint> points;
        for (int i = 0; i < 7; ++i)
            points.push_back({next_random(seed) % 100, next_random(seed) % 100});
        TourOptions o;
        o.ends.start = {static_cast<std::int64_t>(next_random(seed) % 100), 0};
        if (round % 2 == 0) o.ends.end = IntPoint{0, 0};
        o.steps = {1 + round % 3, 1 + round % 5};
        std::vector<std::uint32_t> order(points.size());
        std::iota(order.begin(), order.end(), 0u);
        std::int64_t best = path_cost(in_order(points, order), o.ends, o.steps);
        while (std::next_permutation(order.begin(), order.end()))
            best = std::min(best, path_cost(in_order(points, order), o.ends, o.steps));
        const std::vector<std::uint32_t> tour = short_tour(points, o);
        ASSERT_TRUE(is_permutation_of_all(tour, points.size()));
        EXPECT_EQ(path_cost(in_order(points, tour), o.ends, o.steps), best) << "round " << round;
    }
}

TEST(Tour, TinyBoards) {
    TourOptions o;
    EXPECT_TRUE(short_tour({}, o).empty());
    EXPECT_EQ(short_tour({{5, 5}}, o), std::vector<std::uint32_t>{0});
    // From 5 the nearer point 1 comes first when the run ends there, the farther 10 first when
    // it goes back to 0 afterwards.
    o.ends = {{5, 0}, std::nullopt};
    EXPECT_EQ(short_tour({{1, 0}, {10, 0}}, o), (std::vector<std::uint32_t>{0, 1}));
    o.ends.end = IntPoint{0, 0};
    EXPECT_EQ(short_tour({{1, 0}, {10, 0}}, o), (std::vector<std::uint32_t>{1, 0}));
}

}  // namespace
}  // namespace prep
