// report.h - the conversion report on standard output: what the input was, every header line
// and default the positions depend on, what was written, how far rounding moved the points,
// and with a parameter file the table check and the durations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gerber.h"
#include "machine.h"
#include "mill.h"
#include "model.h"
#include "place.h"
#include "unit.h"
#include "writers.h"

namespace prep {

// Points that the controller would not reach where they are meant to be.
struct Outside {
    std::int64_t below_zero = 0;
    std::int64_t beyond_table = 0;  // counted only against a known table

    void add(const IntPoint& p, const MachineReport* m) {
        if (p.x < 0 || p.y < 0) {
            ++below_zero;
        } else if (m && (p.x > m->table_x_mm || p.y > m->table_y_mm)) {
            ++beyond_table;
        }
    }
};

// What an outline job was made of.
struct OutlineFacts {
    std::size_t contours = 0;
    std::int64_t cutouts = 0, too_small = 0;
};

class Report {
public:
    explicit Report(std::FILE* out) : out_(out) {}  // a null file: no report

    // The job unit the positions below are in (units per millimetre; 1 by default).
    void set_unit(std::int32_t per_mm) { per_mm_ = per_mm; }
    // Travel is given in the machine's steps when it is known, else in job units.
    void set_travel_in_steps(bool steps) { travel_in_steps_ = steps; }
    void unit(const Machine& machine, const UnitChoice& choice, const Box& placed);

    void drill_input(const std::string& path, const DrillJob& job,
                     const std::map<std::int32_t, std::int64_t>& holes_per_tool);
    void plot_input(const std::string& path, const PlotJob& job);
    void gerber_input(const std::string& path, const GerberLayer& layer);
    // A profile layer given without --outline.
    void profile_placed();
    void outline(const OutlineFacts& facts, double tool_mm, int tabs, double tab_width_mm,
                 bool routed);
    void isolation(double tool_mm, int passes, double overlap_pct, double margin_mm,
                   double unit_mm);
    // The check of the isolation job as written; positions are given on the table.
    void isolation_check(const IsolationCheck& check, const Transform& t_mm);
    void picture(const std::string& path);
    void placement(const Box& file_box, const Transform& t, const PlaceOptions& options);
    void drill_output(const std::string& path, std::int64_t holes, std::int64_t travel,
                      std::optional<std::int64_t> travel_in_file_order, std::int64_t shared);
    void plot_output(const std::string& path, const PlotWritten& written);
    // Pen-up travel of the strokes as written and in the file's order.
    void plot_travel(std::int64_t travel, std::int64_t travel_in_file_order);
    void rounding(const RoundingError& error);
    void machine(const MachineReport* machine, const Outside& outside,
                 const std::vector<std::string>& outputs);
    // How to run the jobs: with a folder made for the machine, how to start the controller on it.
    void closing(bool drills, bool plots, const std::string& folder);

private:
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void box(const char* title, const Box& b);

    // "mm", or "units" of a finer job unit.
    const char* units() const { return per_mm_ == 1 ? "mm" : "units"; }

    std::FILE* out_;
    const char* travel_units() const { return travel_in_steps_ ? "steps" : units(); }

    std::int32_t per_mm_ = 1;
    bool travel_in_steps_ = false;
};

}  // namespace prep
