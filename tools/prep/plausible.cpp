// plausible.cpp - the board size, the overlap search on a grid of cells, and the grid share.
#include "plausible.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <vector>

namespace prep {

namespace {

// Holes of a tool whose diameter the file leaves out count as overlapping this close.
constexpr double UNKNOWN_DIAMETER_MM = 0.1;
constexpr double GRID_TOLERANCE_MM = 0.003;
constexpr double SMALLEST_SPACING_MM = 0.2;  // closer spacings say nothing about a grid
constexpr double NEAR_MM = 10;

bool on_a_grid(double d) {
    d = std::fabs(d);
    for (const double grid : {0.5, 1.27}) {
        const double k = std::round(d / grid);
        if (k >= 1 && std::fabs(d - k * grid) <= GRID_TOLERANCE_MM) return true;
    }
    return false;
}

std::string text(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

// Counts the holes of one tool that lie closer than `limit` to another. Cells of half the
// limit: two holes in one cell always overlap, so a crowded cell costs no pairwise search.
void overlaps(const std::vector<Point>& holes, double limit, std::int32_t tool, double diameter,
              Plausibility& p) {
    if (holes.size() < 2) return;
    const double cell = limit / 2;
    auto key = [&](std::int64_t cx, std::int64_t cy) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(cx)) << 32) |
               static_cast<std::uint32_t>(cy);
    };
    auto cell_of = [&](const Point& h) {
        return std::pair<std::int64_t, std::int64_t>{
            static_cast<std::int64_t>(std::floor(h.x / cell)),
            static_cast<std::int64_t>(std::floor(h.y / cell))};
    };
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> cells;
    cells.reserve(holes.size());
    for (std::uint32_t i = 0; i < holes.size(); ++i) {
        const auto [cx, cy] = cell_of(holes[i]);
        cells[key(cx, cy)].push_back(i);
    }
    for (std::uint32_t i = 0; i < holes.size(); ++i) {
        const Point& h = holes[i];
        const auto [cx, cy] = cell_of(h);
        double closest = INFINITY;
        const std::vector<std::uint32_t>& own = cells[key(cx, cy)];
        if (own.size() > 1) {
            const std::uint32_t j = own[0] == i ? own[1] : own[0];
            closest = std::hypot(holes[j].x - h.x, holes[j].y - h.y);
        }
        for (std::int64_t dx = -2; dx <= 2 && own.size() == 1; ++dx) {
            for (std::int64_t dy = -2; dy <= 2; ++dy) {
                const auto it = cells.find(key(cx + dx, cy + dy));
                if (it == cells.end()) continue;
                for (const std::uint32_t j : it->second) {
                    if (j == i) continue;
                    closest = std::min(closest, std::hypot(holes[j].x - h.x, holes[j].y - h.y));
                    if (closest == 0) break;
                }
            }
        }
        if (closest < limit - 1e-6) {
            if (p.overlapping == 0 || closest < p.gap_mm) {
                p.tool = tool;
                p.diameter_mm = diameter;
                p.gap_mm = closest;
                p.at = h;
            }
            ++p.overlapping;
        }
    }
}

// Counts the holes that have another within `limit`; the cells are small enough that two
// holes in one cell always do.
std::int64_t with_neighbour(const std::vector<Point>& holes, double limit) {
    const double cell = limit / 2;
    auto cell_of = [&](const Point& h) {
        return std::pair<std::int64_t, std::int64_t>{
            static_cast<std::int64_t>(std::floor(h.x / cell)),
            static_cast<std::int64_t>(std::floor(h.y / cell))};
    };
    auto key = [&](std::int64_t cx, std::int64_t cy) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(cx)) << 32) |
               static_cast<std::uint32_t>(cy);
    };
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> cells;
    for (std::uint32_t i = 0; i < holes.size(); ++i) {
        const auto [cx, cy] = cell_of(holes[i]);
        cells[key(cx, cy)].push_back(i);
    }
    std::int64_t count = 0;
    for (std::uint32_t i = 0; i < holes.size(); ++i) {
        const auto [cx, cy] = cell_of(holes[i]);
        bool found = cells[key(cx, cy)].size() > 1;
        for (std::int64_t dx = -2; dx <= 2 && !found; ++dx) {
            for (std::int64_t dy = -2; dy <= 2 && !found; ++dy) {
                if (dx == 0 && dy == 0) continue;
                const auto it = cells.find(key(cx + dx, cy + dy));
                if (it == cells.end()) continue;
                for (const std::uint32_t j : it->second) {
                    if (std::hypot(holes[j].x - holes[i].x, holes[j].y - holes[i].y) <= limit) {
                        found = true;
                        break;
                    }
                }
            }
        }
        count += found;
    }
    return count;
}

}  // namespace

std::string Plausibility::problem() const {
    std::string out;
    if (too_large()) {
        out = text("the holes span %.1f x %.1f mm, more than any board of %.0f mm", width_mm,
                   height_mm, MAX_BOARD_MM);
    }
    if (overlapping > 0) {
        if (!out.empty()) out += "; ";
        out += std::to_string(overlapping) + " holes of T" + std::to_string(tool) +
               (diameter_mm > 0 ? text(" (%.3f mm)", diameter_mm) : std::string()) +
               " are closer to another than " +
               (diameter_mm > 0 ? "their diameter" : text("%.1f mm", UNKNOWN_DIAMETER_MM)) +
               text(", the closest %.3f mm apart at X %.3f Y %.3f", gap_mm, at.x, at.y);
    }
    return out;
}

std::string Plausibility::summary() const {
    std::string out = text("board %.1f x %.1f mm", width_mm, height_mm);
    if (overlapping > 0) out += ", " + std::to_string(overlapping) + " overlapping holes";
    if (on_grid >= 0) out += text(", %.0f%% of spacings on common grids", on_grid * 100);
    if (near >= 0) out += text(", %.0f%% of holes within 10 mm of another", near * 100);
    return out;
}

Plausibility check_plausible(const DrillJob& job) {
    Plausibility p;
    if (job.holes.empty()) return p;
    double min_x = INFINITY, min_y = INFINITY, max_x = -INFINITY, max_y = -INFINITY;
    std::size_t range = 0;
    std::int64_t spacings = 0, gridded = 0;
    std::int32_t last_tool = -1;
    Point last;
    std::unordered_map<std::int32_t, std::vector<Point>> drilled;
    job.holes.each([&](std::size_t i, const Point& h, std::int32_t tool) {
        min_x = std::min(min_x, h.x);
        max_x = std::max(max_x, h.x);
        min_y = std::min(min_y, h.y);
        max_y = std::max(max_y, h.y);
        while (range < job.path_ranges.size() && job.path_ranges[range].second <= i) ++range;
        if (range < job.path_ranges.size() && job.path_ranges[range].first <= i) return;
        drilled[tool].push_back(h);
        if (tool == last_tool) {
            for (const double d : {h.x - last.x, h.y - last.y}) {
                if (std::fabs(d) < SMALLEST_SPACING_MM) continue;
                ++spacings;
                gridded += on_a_grid(d);
            }
        }
        last_tool = tool;
        last = h;
    });
    p.width_mm = max_x - min_x;
    p.height_mm = max_y - min_y;
    if (spacings > 0) p.on_grid = static_cast<double>(gridded) / static_cast<double>(spacings);
    std::vector<std::int32_t> tools;
    for (const auto& [tool, holes] : drilled) tools.push_back(tool);
    std::sort(tools.begin(), tools.end());
    std::int64_t counted = 0, near = 0;
    for (const std::int32_t tool : tools) {
        const auto it = job.tools.find(tool);
        const double d = it == job.tools.end() ? 0 : it->second.diameter_mm;
        overlaps(drilled[tool], d > 0 ? d : UNKNOWN_DIAMETER_MM, tool, d, p);
        counted += static_cast<std::int64_t>(drilled[tool].size());
        near += with_neighbour(drilled[tool], NEAR_MM);
    }
    if (counted > 1) p.near = static_cast<double>(near) / static_cast<double>(counted);
    return p;
}

}  // namespace prep
