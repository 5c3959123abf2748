// mill.cpp - isolation and outline milling jobs from board geometry, done with the polygon
// library: offsets with round joins, even-odd fills, open-path clipping and polygon trees.
#include "mill.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>

namespace prep {

namespace {

using ClipperLib::cInt;
using ClipperLib::Path;
using ClipperLib::Paths;
using GPoint = ClipperLib::IntPoint;

double to_g(double mm) {
    return mm * GEOMETRY_PER_MM;
}
double to_mm(double g) {
    return g / GEOMETRY_PER_MM;
}

Path to_path(const std::vector<Point>& points) {
    Path path;
    path.reserve(points.size());
    for (const Point& p : points) path.push_back(to_geometry(p));
    return path;
}

void check_points(const PlotJob& job, const char* what) {
    if (static_cast<std::int64_t>(job.points.size()) > MAX_POINTS) {
        throw PrepError(too_many_points(what));
    }
}

// Adds a closed contour as one stroke that ends on its first point again.
void add_closed(PlotJob& job, const Path& path) {
    if (path.empty()) return;
    job.starts.push_back(static_cast<std::uint32_t>(job.points.size()));
    for (const GPoint& p : path) job.points.push_back(from_geometry(p));
    job.points.push_back(from_geometry(path.front()));
}

struct GBox {
    cInt x0 = std::numeric_limits<cInt>::max(), y0 = std::numeric_limits<cInt>::max();
    cInt x1 = std::numeric_limits<cInt>::min(), y1 = std::numeric_limits<cInt>::min();
    void add(const GPoint& p) {
        x0 = std::min(x0, p.X);
        y0 = std::min(y0, p.Y);
        x1 = std::max(x1, p.X);
        y1 = std::max(y1, p.Y);
    }
    bool near(const GBox& o, double grow) const {
        return static_cast<double>(x0) - grow <= static_cast<double>(o.x1) &&
               static_cast<double>(o.x0) - grow <= static_cast<double>(x1) &&
               static_cast<double>(y0) - grow <= static_cast<double>(o.y1) &&
               static_cast<double>(o.y0) - grow <= static_cast<double>(y1);
    }
    bool holds(const GPoint& p) const { return p.X >= x0 && p.X <= x1 && p.Y >= y0 && p.Y <= y1; }
};

GBox bounds(const Path& path) {
    GBox b;
    for (const GPoint& p : path) b.add(p);
    return b;
}

// A connected piece of a polygon set: its outer contour first, then its holes.
struct Area {
    Paths rings;
    GBox box;
    bool holds(const GPoint& p) const {
        if (!box.holds(p) || ClipperLib::PointInPolygon(p, rings[0]) != 1) return false;
        for (std::size_t k = 1; k < rings.size(); ++k)
            if (ClipperLib::PointInPolygon(p, rings[k]) != 0) return false;
        return true;
    }
};

void collect_areas(const ClipperLib::PolyNode& node, std::vector<Area>& out) {
    for (const ClipperLib::PolyNode* outer : node.Childs) {
        Area a;
        a.rings.push_back(outer->Contour);
        a.box = bounds(outer->Contour);
        for (const ClipperLib::PolyNode* hole : outer->Childs) a.rings.push_back(hole->Contour);
        out.push_back(std::move(a));
        for (const ClipperLib::PolyNode* hole : outer->Childs) collect_areas(*hole, out);
    }
}

std::vector<Area> areas_of(ClipperLib::Clipper& c, ClipperLib::ClipType type) {
    ClipperLib::PolyTree tree;
    c.Execute(type, tree, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    std::vector<Area> areas;
    collect_areas(tree, areas);
    return areas;
}

// A point strictly inside an area (none for a sliver thinner than a micrometre).
std::optional<GPoint> inside_point(const Area& a) {
    ClipperLib::ClipperOffset off;
    off.AddPaths(a.rings, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    Paths in;
    off.Execute(in, -to_g(0.0005));
    for (const Path& p : in)
        if (!p.empty() && ClipperLib::Orientation(p)) return p.front();
    return std::nullopt;
}

struct Nearest {
    double distance = std::numeric_limits<double>::infinity();
    GPoint a, b;  // the nearest points
};

void point_to_segment(const GPoint& p, const GPoint& s, const GPoint& e, bool p_first,
                      Nearest& best) {
    const double dx = static_cast<double>(e.X - s.X), dy = static_cast<double>(e.Y - s.Y);
    const double px = static_cast<double>(p.X - s.X), py = static_cast<double>(p.Y - s.Y);
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0.0;
    const double qx = static_cast<double>(s.X) + t * dx, qy = static_cast<double>(s.Y) + t * dy;
    const double d = std::hypot(static_cast<double>(p.X) - qx, static_cast<double>(p.Y) - qy);
    if (d < best.distance) {
        best.distance = d;
        const GPoint q(static_cast<cInt>(std::llround(qx)), static_cast<cInt>(std::llround(qy)));
        best.a = p_first ? p : q;
        best.b = p_first ? q : p;
    }
}

// The least distance between two sets of segments that do not cross (the boundaries of
// separate areas, or a cut outside copper): between an end of one and the other.
void segments_apart(const GPoint& a0, const GPoint& a1, const GPoint& b0, const GPoint& b1,
                    Nearest& best) {
    point_to_segment(a0, b0, b1, true, best);
    point_to_segment(a1, b0, b1, true, best);
    point_to_segment(b0, a0, a1, false, best);
    point_to_segment(b1, a0, a1, false, best);
}

// The nearest approach of the edges of `paths` (closed or open) to the edges of `area`, found
// among edges whose boxes come within the best so far.
void nearest_to_area(const Paths& paths, bool closed, const Area& area, Nearest& best) {
    for (const Path& p : paths) {
        const std::size_t n = p.size();
        for (std::size_t i = 0; i + (closed ? 0 : 1) < n; ++i) {
            const GPoint& a0 = p[i];
            const GPoint& a1 = p[(i + 1) % n];
            GBox eb;
            eb.add(a0);
            eb.add(a1);
            if (!eb.near(area.box, best.distance)) continue;
            for (const Path& ring : area.rings) {
                const std::size_t m = ring.size();
                for (std::size_t j = 0; j < m; ++j) {
                    const GPoint& b0 = ring[j];
                    const GPoint& b1 = ring[(j + 1) % m];
                    GBox fb;
                    fb.add(b0);
                    fb.add(b1);
                    if (eb.near(fb, best.distance)) segments_apart(a0, a1, b0, b1, best);
                }
            }
        }
    }
}

// The cuts as paths: closed strokes (ending on their first point) without the repeated point.
void cut_paths(const PlotJob& cuts, Paths& closed, Paths& open) {
    for (std::size_t s = 0; s < cuts.stroke_count(); ++s) {
        Path p;
        for (std::size_t k = cuts.starts[s]; k < cuts.stroke_end(s); ++k) {
            const GPoint g = to_geometry(cuts.points[k]);
            if (p.empty() || !(p.back() == g)) p.push_back(g);
        }
        if (p.size() > 3 && p.front() == p.back()) {
            p.pop_back();
            closed.push_back(std::move(p));
        } else if (!p.empty()) {
            open.push_back(std::move(p));
        }
    }
}

double ring_length(const std::vector<Point>& ring, std::vector<double>& at) {
    at.assign(1, 0.0);
    for (std::size_t k = 1; k < ring.size(); ++k) {
        at.push_back(at.back() + std::hypot(ring[k].x - ring[k - 1].x, ring[k].y - ring[k - 1].y));
    }
    return at.back();
}

// The stretch of a closed ring (last point = first) from arc length `from` to `to` (to > from),
// both within one turn and a half.
std::vector<Point> stretch(const std::vector<Point>& ring, const std::vector<double>& at,
                           double from, double to) {
    const double length = at.back();
    auto point_at = [&](double s) {
        while (s >= length) s -= length;
        const std::size_t k =
            static_cast<std::size_t>(std::upper_bound(at.begin(), at.end(), s) - at.begin());
        const std::size_t i = std::min(k, at.size() - 1);
        const double span = at[i] - at[i - 1];
        const double t = span > 0 ? (s - at[i - 1]) / span : 0;
        return Point{ring[i - 1].x + (ring[i].x - ring[i - 1].x) * t,
                     ring[i - 1].y + (ring[i].y - ring[i - 1].y) * t};
    };
    std::vector<Point> out{point_at(from)};
    for (int turn = 0; turn < 2; ++turn) {
        for (std::size_t k = 1; k < ring.size(); ++k) {
            const double s = at[k] + turn * length;
            if (s > from && s < to) out.push_back(ring[k]);
        }
    }
    out.push_back(point_at(to));
    return out;
}

}  // namespace

double isolation_margin_mm(double unit_mm) {
    // 0.2071 u rounded up, the chords' tolerance, and one geometry step for the offset's own
    // rounding to whole geometry units.
    return 0.21 * unit_mm + MILL_ARC_TOLERANCE_MM + 1 / GEOMETRY_PER_MM;
}

PlotJob isolation_job(const ClipperLib::Paths& copper, const IsolationOptions& o) {
    ClipperLib::ClipperOffset off;
    off.ArcTolerance = to_g(MILL_ARC_TOLERANCE_MM);
    off.AddPaths(copper, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
    PlotJob job;
    const double step = (1 - o.overlap) * o.tool_mm;
    for (int k = 0; k < o.passes; ++k) {
        const double r = o.tool_mm / 2 + k * step + isolation_margin_mm(o.unit_mm);
        Paths pass;
        off.Execute(pass, to_g(r));
        for (const Path& p : pass) add_closed(job, p);
        check_points(job, "isolation passes");
    }
    return job;
}

std::vector<std::vector<Point>> closed_contours(const std::vector<std::vector<Point>>& lines,
                                                const std::string& path, double join_mm) {
    // Line ends by grid cell of the joining distance; a match is looked for in the 3 x 3 cells
    // around an end.
    using Key = std::pair<std::int64_t, std::int64_t>;
    auto key = [&](const Point& p) {
        return Key{static_cast<std::int64_t>(std::floor(p.x / join_mm)),
                   static_cast<std::int64_t>(std::floor(p.y / join_mm))};
    };
    std::map<Key, std::vector<std::size_t>> ends;  // line index * 2 + (0 start, 1 end)
    std::vector<bool> used(lines.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            used[i] = true;
            continue;
        }
        ends[key(lines[i].front())].push_back(i * 2);
        ends[key(lines[i].back())].push_back(i * 2 + 1);
    }
    auto close = [&](const Point& a, const Point& b) {
        return std::hypot(a.x - b.x, a.y - b.y) <= join_mm;
    };
    std::vector<std::vector<Point>> contours;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (used[i]) continue;
        used[i] = true;
        std::vector<Point> chain = lines[i];
        while (!(chain.size() > 2 && close(chain.front(), chain.back()))) {
            const Point end = chain.back();
            const Key k = key(end);
            std::optional<std::size_t> next;
            for (std::int64_t dx = -1; dx <= 1 && !next; ++dx) {
                for (std::int64_t dy = -1; dy <= 1 && !next; ++dy) {
                    const auto it = ends.find(Key{k.first + dx, k.second + dy});
                    if (it == ends.end()) continue;
                    for (const std::size_t e : it->second) {
                        const std::vector<Point>& l = lines[e / 2];
                        if (!used[e / 2] && close(end, e % 2 ? l.back() : l.front())) {
                            next = e;
                            break;
                        }
                    }
                }
            }
            if (!next) {
                char where[96];
                std::snprintf(where, sizeof where, "%.3f, %.3f mm", end.x, end.y);
                throw PrepError(path + ": the outline is not closed: a line ends at " + where +
                                " with no other line within " +
                                std::to_string(join_mm).substr(0, 4) + " mm");
            }
            used[*next / 2] = true;
            const std::vector<Point>& l = lines[*next / 2];
            if (*next % 2) {
                chain.insert(chain.end(), l.rbegin() + 1, l.rend());
            } else {
                chain.insert(chain.end(), l.begin() + 1, l.end());
            }
        }
        chain.back() = chain.front();
        contours.push_back(std::move(chain));
    }
    return contours;
}

std::vector<std::vector<Point>> routed_lines(const DrillJob& job) {
    std::vector<std::vector<Point>> lines;
    for (std::size_t r = 0; r < job.path_ranges.size(); ++r) {
        if (r >= job.path_routed.size() || !job.path_routed[r]) continue;
        std::vector<Point> line;
        for (std::size_t i = job.path_ranges[r].first; i < job.path_ranges[r].second; ++i)
            line.push_back(job.holes.point(i));
        lines.push_back(std::move(line));
    }
    return lines;
}

void drop_routed_holes(DrillJob& job) {
    std::vector<bool> routed(job.holes.size(), false);
    for (std::size_t r = 0; r < job.path_ranges.size(); ++r) {
        if (r >= job.path_routed.size() || !job.path_routed[r]) continue;
        for (std::size_t i = job.path_ranges[r].first; i < job.path_ranges[r].second; ++i)
            routed[i] = true;
    }
    HoleList kept;
    job.holes.each([&](std::size_t i, const Point& p, std::int32_t tool) {
        if (!routed[i]) kept.push(p.x, p.y, tool);
    });
    job.path_holes -= static_cast<std::int64_t>(job.holes.size() - kept.size());
    job.holes = std::move(kept);
    job.path_ranges.clear();
    job.path_routed.clear();
}

OutlineJob outline_job(const std::vector<std::vector<Point>>& contours, const OutlineOptions& o) {
    ClipperLib::Clipper c;
    for (const std::vector<Point>& ring : contours) {
        Path p = to_path(ring);
        if (p.size() > 1 && p.front() == p.back()) p.pop_back();
        c.AddPath(p, ClipperLib::ptSubject, true);
    }
    Paths region;
    c.Execute(ClipperLib::ctUnion, region, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
    ClipperLib::ClipperOffset off;
    off.ArcTolerance = to_g(MILL_ARC_TOLERANCE_MM);
    off.AddPaths(region, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
    Paths cut;
    off.Execute(cut, to_g(o.tool_mm / 2));
    OutlineJob result;
    auto holes = [](const Paths& paths) {
        return static_cast<std::int64_t>(std::count_if(
            paths.begin(), paths.end(), [](const Path& p) { return !ClipperLib::Orientation(p); }));
    };
    result.cutouts = holes(region);
    result.too_small = std::max<std::int64_t>(0, result.cutouts - holes(cut));
    // The tabs go in the outer contour of the largest area.
    std::optional<std::size_t> outer;
    double largest = 0;
    for (std::size_t k = 0; k < cut.size(); ++k) {
        const double a = ClipperLib::Area(cut[k]);
        if (a > largest) {
            largest = a;
            outer = k;
        }
    }
    PlotJob& job = result.cuts;
    for (std::size_t k = 0; k < cut.size(); ++k) {
        if (o.tabs == 0 || k != outer) {
            add_closed(job, cut[k]);
            continue;
        }
        std::vector<Point> ring;
        for (const GPoint& p : cut[k]) ring.push_back(from_geometry(p));
        ring.push_back(ring.front());
        std::vector<double> at;
        const double length = ring_length(ring, at);
        const double gap = o.tab_width_mm + o.tool_mm;
        const double spacing = length / o.tabs;
        if (!(spacing > gap)) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "%d tabs of %.3f mm plus the tool's %.3f mm do not fit along the "
                          "outline's cut of %.3f mm",
                          o.tabs, o.tab_width_mm, o.tool_mm, length);
            throw PrepError(text);
        }
        for (int i = 0; i < o.tabs; ++i) {
            const double from = spacing * (i + 0.5) + gap / 2;
            const double to = spacing * (i + 1.5) - gap / 2;
            const std::vector<Point> piece = stretch(ring, at, from, to);
            job.starts.push_back(static_cast<std::uint32_t>(job.points.size()));
            job.points.insert(job.points.end(), piece.begin(), piece.end());
        }
    }
    check_points(job, "the outline's cut");
    return result;
}

ClipperLib::Paths swept_area(const PlotJob& cuts, double tool_mm) {
    Paths closed, open, swept;
    cut_paths(cuts, closed, open);
    ClipperLib::ClipperOffset off;
    off.ArcTolerance = to_g(0.0005);
    off.AddPaths(closed, ClipperLib::jtRound, ClipperLib::etClosedLine);
    off.AddPaths(open, ClipperLib::jtRound, ClipperLib::etOpenRound);
    off.Execute(swept, to_g(tool_mm / 2));
    return swept;
}

IsolationCheck check_isolation(const ClipperLib::Paths& copper, const PlotJob& cuts, double tool_mm,
                               double unit_mm) {
    IsolationCheck r;
    r.near_limit_mm = tool_mm / 2 - unit_mm / 2;
    std::vector<Area> areas;
    {
        ClipperLib::Clipper c;
        c.AddPaths(copper, ClipperLib::ptSubject, true);
        areas = areas_of(c, ClipperLib::ctUnion);
    }
    r.areas = static_cast<std::int64_t>(areas.size());
    Paths closed, open;
    cut_paths(cuts, closed, open);

    // Length and travel as the job runs: the machine travels one axis after the other.
    for (std::size_t s = 0; s < cuts.stroke_count(); ++s) {
        const std::size_t b = cuts.starts[s], e = cuts.stroke_end(s);
        for (std::size_t k = b + 1; k < e; ++k) {
            r.cut_mm += std::hypot(cuts.points[k].x - cuts.points[k - 1].x,
                                   cuts.points[k].y - cuts.points[k - 1].y);
        }
        if (s > 0) {
            const Point& from = cuts.points[b - 1];
            r.travel_mm +=
                std::fabs(cuts.points[b].x - from.x) + std::fabs(cuts.points[b].y - from.y);
        }
    }

    // The area the tool sweeps, and the free plane around it in connected pieces.
    const Paths swept = swept_area(cuts, tool_mm);
    GBox all;
    for (const Path& p : copper)
        for (const GPoint& g : p) all.add(g);
    for (const Path& p : swept)
        for (const GPoint& g : p) all.add(g);
    std::vector<Area> free_parts, pieces;
    if (!areas.empty()) {
        const cInt m = static_cast<cInt>(to_g(1));
        const Path frame{GPoint(all.x0 - m, all.y0 - m), GPoint(all.x1 + m, all.y0 - m),
                         GPoint(all.x1 + m, all.y1 + m), GPoint(all.x0 - m, all.y1 + m)};
        ClipperLib::Clipper c;
        c.AddPath(frame, ClipperLib::ptSubject, true);
        c.AddPaths(swept, ClipperLib::ptClip, true);
        free_parts = areas_of(c, ClipperLib::ctDifference);
        ClipperLib::Clipper d;
        d.AddPaths(copper, ClipperLib::ptSubject, true);
        d.AddPaths(swept, ClipperLib::ptClip, true);
        pieces = areas_of(d, ClipperLib::ctDifference);
    }
    // Which copper areas each free part touches: through the pieces of copper the tool left.
    std::vector<std::vector<std::size_t>> touching(free_parts.size());
    for (const Area& piece : pieces) {
        const std::optional<GPoint> p = inside_point(piece);
        if (!p) continue;
        std::optional<std::size_t> area, part;
        for (std::size_t i = 0; i < areas.size() && !area; ++i)
            if (areas[i].holds(*p)) area = i;
        for (std::size_t j = 0; j < free_parts.size() && !part; ++j)
            if (free_parts[j].holds(*p)) part = j;
        if (area && part) touching[*part].push_back(*area);
    }
    std::vector<bool> joined(areas.size(), false);
    Nearest narrowest;
    std::int64_t pairs_measured = 0;
    for (std::vector<std::size_t>& t : touching) {
        std::sort(t.begin(), t.end());
        t.erase(std::unique(t.begin(), t.end()), t.end());
        if (t.size() < 2) continue;
        for (const std::size_t a : t) joined[a] = true;
        // Gaps are measured between areas near each other; far ones cannot be the narrowest
        // once a near pair is found.
        for (std::size_t x = 0; x < t.size(); ++x) {
            for (std::size_t y = x + 1; y < t.size(); ++y) {
                const Area& a = areas[t[x]];
                const Area& b = areas[t[y]];
                if (!a.box.near(b.box, std::min(narrowest.distance, to_g(2 * tool_mm + 1))))
                    continue;
                if (++pairs_measured > 100000) break;
                nearest_to_area(a.rings, true, b, narrowest);
            }
        }
    }
    r.joined_areas = std::count(joined.begin(), joined.end(), true);
    if (std::isfinite(narrowest.distance)) {
        r.narrowest_joined_mm = to_mm(narrowest.distance);
        r.narrowest_at = from_geometry(
            GPoint((narrowest.a.X + narrowest.b.X) / 2, (narrowest.a.Y + narrowest.b.Y) / 2));
    }

    // Stretches of cut inside the copper grown by the least distance allowed (its arcs a
    // little inside the true ones, less than the tolerance of the report's figures).
    if (!areas.empty() && r.near_limit_mm > 0) {
        Paths forbidden;
        ClipperLib::ClipperOffset off;
        off.ArcTolerance = to_g(0.0002);
        off.AddPaths(copper, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
        off.Execute(forbidden, to_g(r.near_limit_mm) - 2);
        ClipperLib::Clipper c;
        for (Path p : closed) {
            p.push_back(p.front());
            c.AddPath(p, ClipperLib::ptSubject, false);
        }
        for (const Path& p : open)
            if (p.size() > 1) c.AddPath(p, ClipperLib::ptSubject, false);
        c.AddPaths(forbidden, ClipperLib::ptClip, true);
        ClipperLib::PolyTree tree;
        c.Execute(ClipperLib::ctIntersection, tree, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        Paths inside;
        ClipperLib::OpenPathsFromPolyTree(tree, inside);
        Nearest worst;
        for (const Path& p : inside) {
            if (p.size() < 2) continue;
            ++r.too_near;
            const Paths one{p};
            for (const Area& a : areas) {
                for (const GPoint& g : p) {
                    if (a.holds(g)) {
                        worst.distance = 0;
                        worst.a = worst.b = g;
                    }
                }
                nearest_to_area(one, false, a, worst);
            }
        }
        for (const Path& p : open) {
            if (p.size() != 1) continue;
            // A plunge: a point.
            Nearest n;
            const Paths one{Path{p[0], p[0]}};
            for (const Area& a : areas) nearest_to_area(one, false, a, n);
            if (n.distance < to_g(r.near_limit_mm)) {
                ++r.too_near;
                if (n.distance < worst.distance) worst = n;
            }
        }
        if (r.too_near) {
            r.nearest_mm = to_mm(worst.distance);
            r.nearest_at = from_geometry(worst.a);
        }
    }
    return r;
}

}  // namespace prep
