// report.cpp - the lines of the conversion report.
#include "report.h"

#include <cstdarg>

#include "hpgl.h"

namespace prep {

namespace {

long long ll(std::int64_t v) {
    return static_cast<long long>(v);
}

}  // namespace

void Report::print(const char* format, ...) {
    if (!out_) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out_, format, args);
    va_end(args);
}

void Report::box(const char* title, const Box& b) {
    print("%s: X %.3f .. %.3f, Y %.3f .. %.3f mm (%.3f x %.3f mm)\n", title, b.min_x, b.max_x,
          b.min_y, b.max_y, b.max_x - b.min_x, b.max_y - b.min_y);
}

void Report::drill_input(const std::string& path, const DrillJob& job,
                         const std::map<std::int32_t, std::int64_t>& holes_per_tool) {
    print("input: %s\n", path.c_str());
    print("kind: drill file (%s)\n", job.dialect.c_str());
    for (const std::string& r : job.relied) print("relied on: %s\n", r.c_str());
    for (const std::string& n : job.notes) {
        print("%s%s\n", n.starts_with("WARNING") ? "" : "note: ", n.c_str());
    }
    if (job.ignored_lines) {
        print("header lines that do not change positions, ignored: %lld\n", ll(job.ignored_lines));
    }
    print("units: %s (written in whole %s)\n",
          job.units == "mm" ? "millimetres" : "inches, converted at 25.4 mm per inch",
          per_mm_ == 1 ? "millimetres" : "job units");
    for (const auto& [number, count] : holes_per_tool) {
        const auto it = job.tools.find(number);
        if (number == 0 && it == job.tools.end()) {
            print("tool: none selected: %lld holes\n", ll(count));
        } else if (it == job.tools.end() || it->second.diameter_mm <= 0) {
            print("tool T%02d: diameter not stated: %lld holes\n", number, ll(count));
        } else {
            print("tool T%02d: %.3f mm: %lld holes\n", number, it->second.diameter_mm, ll(count));
        }
    }
    print("holes: %lld, of them %lld along %lld slots and %lld routed paths\n",
          ll(static_cast<std::int64_t>(job.holes.size())), ll(job.path_holes), ll(job.slots),
          ll(job.routed_paths));
}

void Report::plot_input(const std::string& path, const PlotJob& job) {
    print("input: %s\n", path.c_str());
    print("kind: HP-GL, %lld commands\n", ll(job.commands));
    for (const std::string& r : job.relied) print("relied on: %s\n", r.c_str());
    print(
        "strokes: %zu, vertices %zu; arcs and circles flattened to chords within %.2f mm: "
        "%lld; labels skipped: %lld\n",
        job.stroke_count(), job.points.size(), ARC_TOLERANCE_MM, ll(job.arcs), ll(job.labels));
    std::int64_t skipped = 0;
    std::string drawing;
    std::string names;
    for (const auto& [m, count] : job.skipped) {
        skipped += count;
        names += " " + m + " " + std::to_string(count);
        if (hpgl_drawing_command(m)) drawing += " " + m;
    }
    print("skipped commands: %lld%s%s\n", ll(skipped), names.empty() ? "" : ":", names.c_str());
    if (!drawing.empty()) {
        print(
            "WARNING: skipped commands that draw shapes of their own:%s; those shapes are not "
            "in the output\n",
            drawing.c_str());
    }
}

void Report::gerber_input(const std::string& path, const GerberLayer& g) {
    print("input: %s\n", path.c_str());
    print("kind: Gerber, %s layer%s%s%s\n", is_profile_layer(g, path) ? "profile" : "copper",
          g.function.empty() ? "" : " (", g.function.c_str(), g.function.empty() ? "" : ")");
    for (const std::string& r : g.relied) print("relied on: %s\n", r.c_str());
    for (const std::string& n : g.notes) {
        print("%s%s\n", n.starts_with("WARNING") ? "" : "note: ", n.c_str());
    }
    print("units: %s; flashes %lld, draws %lld, arcs %lld, regions %lld; image of %zu contours\n",
          g.units == "inch" ? "inches, converted at 25.4 mm per inch" : "millimetres",
          ll(g.flashes), ll(g.draws), ll(g.arcs), ll(g.regions), g.image.size());
}

void Report::profile_placed() {
    print("profile layer: placed with the other inputs; no job made (give --outline to cut it)\n");
}

void Report::outline(const OutlineFacts& f, double tool_mm, int tabs, double tab_width_mm,
                     bool routed) {
    print(
        "outline: %s chained into %zu closed contours (ends within 0.01 mm), the board their "
        "even-odd fill; cut with a %.3f mm tool at %.3f mm outside the board and inside its "
        "cut-outs\n",
        routed ? "the routed paths" : "the profile's lines", f.contours, tool_mm, tool_mm / 2);
    if (f.too_small) {
        print(
            "WARNING: %lld of the board's %lld cut-outs are too small for the tool and are not "
            "cut\n",
            ll(f.too_small), ll(f.cutouts));
    }
    if (routed) print("note: the routed paths are milled, their holes left out of the drilling\n");
    if (tabs > 0) {
        print(
            "tabs: %d of %.3f mm in the outer cut, spread evenly, the tool lifting for %.3f mm "
            "at each\n",
            tabs, tab_width_mm, tab_width_mm + tool_mm);
    }
}

void Report::isolation(double tool_mm, int passes, double overlap_pct, double margin_mm,
                       double unit_mm) {
    print(
        "isolation: %d pass%s of a %.3f mm tool around the copper, %.0f%% overlap; the first at "
        "%.3f mm from copper: the radius and %.4f mm more, so that neither rounding to %s mm "
        "nor arc chords bring a cut nearer than %.3f mm\n",
        passes, passes == 1 ? "" : "es", tool_mm, overlap_pct, tool_mm / 2 + margin_mm, margin_mm,
        unit_text(per_mm_).c_str(), tool_mm / 2 - unit_mm / 2);
}

void Report::isolation_check(const IsolationCheck& c, const Transform& t_mm) {
    print("isolation check (the job as written): %lld copper areas", ll(c.areas));
    if (c.joined_areas == 0) {
        print(", each cut apart from the others\n");
    } else {
        const Point at = t_mm.apply(c.narrowest_at);
        print(
            "\nWARNING: %lld copper areas stay joined to another: gaps narrower than the tool's "
            "path are not cut; the narrowest, %.3f mm, at X %.3f, Y %.3f mm on the table\n",
            ll(c.joined_areas), c.narrowest_joined_mm, at.x, at.y);
    }
    if (c.too_near == 0) {
        print("isolation check: no cut nearer to copper than %.3f mm\n", c.near_limit_mm);
    } else {
        const Point at = t_mm.apply(c.nearest_at);
        print(
            "WARNING: %lld stretches of cut nearer to copper than %.3f mm; the nearest %.3f mm, "
            "at X %.3f, Y %.3f mm on the table\n",
            ll(c.too_near), c.near_limit_mm, c.nearest_mm, at.x, at.y);
    }
    print("isolation check: cut length %.1f mm, axis travel between strokes %.1f mm\n", c.cut_mm,
          c.travel_mm);
}

void Report::picture(const std::string& path) {
    print("picture: %s (copper, the cuts at the tool's width, the holes; table frame)\n",
          path.c_str());
}

void Report::placement(const Box& file_box, const Transform& t, const PlaceOptions& o) {
    box("bounding box in the file", file_box);
    if (o.corner) {
        print("placement: the job's corner nearest X 0, Y 0 at %.3f, %.3f mm",
              o.margin_mm + o.offset_x, o.margin_mm + o.offset_y);
    } else {
        print("placement: the file's own coordinates");
        if (o.offset_x != 0 || o.offset_y != 0) {
            print(" shifted by %.3f, %.3f mm", o.offset_x, o.offset_y);
        }
    }
    print("%s\n", o.mirror_x ? ", mirrored about the vertical centre line" : "");
    Box placed;
    placed.add(t.apply(Point{file_box.min_x, file_box.min_y}));
    placed.add(t.apply(Point{file_box.max_x, file_box.max_y}));
    box("bounding box on the table", placed);
}

void Report::drill_output(const std::string& path, std::int64_t holes, std::int64_t travel,
                          std::optional<std::int64_t> travel_in_file_order, std::int64_t shared) {
    // The travel from where the run starts through every hole and back to X 0, Y 0.
    print("output: %s: %lld holes, axis travel there and back %lld %s", path.c_str(), ll(holes),
          ll(travel), travel_units());
    if (travel_in_file_order) {
        print(" (in file order %lld %s)", ll(*travel_in_file_order), travel_units());
    }
    print("\n");
    if (shared) {
        print("WARNING: %lld holes of %s land on the whole %s of another\n", ll(shared),
              path.c_str(), per_mm_ == 1 ? "millimetre" : "job unit");
    }
}

void Report::plot_output(const std::string& path, const PlotWritten& w) {
    print(
        "output: %s: %lld strokes, %lld PA lines; %lld points dropped that rounded onto the "
        "point before; %lld strokes reduced to one point (a plunge)\n",
        path.c_str(), ll(w.strokes), ll(w.vertices), ll(w.dropped), ll(w.single));
    print("X is written 50 %s less: the controller adds 50 %s to every X of a plot file\n", units(),
          units());
}

void Report::plot_travel(std::int64_t travel, std::int64_t in_file_order) {
    print("pen-up travel %lld %s (in file order %lld %s)\n", ll(travel), travel_units(),
          ll(in_file_order), travel_units());
}

void Report::rounding(const RoundingError& e) {
    // The error is gathered in job units.
    const double mm = 1.0 / per_mm_;
    if (per_mm_ == 1) {
        print("rounding to whole millimetres: ");
    } else {
        print("rounding to the job unit of %s mm: ", unit_text(per_mm_).c_str());
    }
    print("mean %.3f mm, worst %.3f mm (worst on one axis %.3f mm)\n",
          e.count ? e.sum / static_cast<double>(e.count) * mm : 0.0, e.worst * mm,
          e.worst_axis * mm);
}

void Report::unit(const Machine& m, const UnitChoice& c, const Box& placed) {
    const ParamValues v = derived_params(m, c.per_mm);
    print(
        "job unit: %s mm on X and Y (the machine's %d and %d steps per mm make %d and %d steps "
        "per unit); table %d x %d units\n",
        unit_text(c.per_mm).c_str(), m.steps_x(), m.steps_y(), v[3], v[4], v[6], v[7]);
    const double mm = 1.0 / c.per_mm;
    if (c.table_capped) {
        print(
            "note: a field holds at most %d units, so the controller reaches %g x %g mm of the "
            "%d x %d mm table\n",
            FIELD_MAX, v[6] * mm, v[7] * mm, m.table_x(), m.table_y());
    }
    if (!c.preview_whole) {
        print(
            "WARNING: the preview draws one pixel per unit, %d x %d: it shows only the part of "
            "the board within X %g mm and Y %g mm of the table's origin (the board reaches X "
            "%.3f, Y %.3f mm); the rest is worked but not drawn\n",
            PREVIEW_WIDTH, PREVIEW_HEIGHT, PREVIEW_WIDTH * mm, PREVIEW_HEIGHT * mm, placed.max_x,
            placed.max_y);
    }
}

void Report::machine(const MachineReport* m, const Outside& outside,
                     const std::vector<std::string>& outputs) {
    if (outside.below_zero > 0) {
        print(
            "WARNING: %lld points lie below 0 on an axis: the controller moves them to the "
            "table's edge\n",
            ll(outside.below_zero));
    }
    if (!m) return;
    print("machine: table %d x %d %s; ", m->table_x_mm, m->table_y_mm, units());
    if (outside.beyond_table + outside.below_zero == 0) {
        print("every point lies on the table\n");
    } else {
        print("WARNING: %lld points lie outside the table\n",
              ll(outside.beyond_table + outside.below_zero));
    }
    if (m->scale_in_file != 100) {
        print(
            "WARNING: the parameter file has scale %d; set scale 100 for these jobs (the "
            "durations below are for scale 100)\n",
            m->scale_in_file);
    }
    for (std::size_t i = 0; i < m->jobs.size(); ++i) {
        const MachineJob& j = m->jobs[i];
        if (j.error.empty()) {
            print("duration at 60 Hz: %s: %s s (%llu moving passes)", outputs[i].c_str(),
                  j.seconds.c_str(), static_cast<unsigned long long>(j.passes));
            if (i < m->in_file_order.size() && !m->in_file_order[i].path.empty()) {
                const MachineJob& f = m->in_file_order[i];
                if (f.error.empty()) {
                    print("; in file order %s s (%llu moving passes)", f.seconds.c_str(),
                          static_cast<unsigned long long>(f.passes));
                } else {
                    print("; in file order not known: %s", f.error.c_str());
                }
            }
            print("\n");
        } else {
            print("duration at 60 Hz: %s: not known: %s\n", outputs[i].c_str(), j.error.c_str());
        }
    }
}

void Report::closing(bool drills, bool plots, const std::string& folder) {
    if (folder.empty()) {
        print("controller: set scale 100; ");
    } else {
        print("controller: start it on the folder with: cncmirel --folder %s\n", folder.c_str());
        print("controller: ");
    }
    if (drills && plots) {
        print("open each .drl output as a drilling job and each .plt output as a milling job\n");
    } else if (drills) {
        print("open each output as a drilling job (.drl)\n");
    } else {
        print("open the output as a milling job (.plt)\n");
    }
}

}  // namespace prep
