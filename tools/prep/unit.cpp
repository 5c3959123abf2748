// unit.cpp - reading the machine, choosing the job unit, and the derived folder's files.
#include "unit.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "model.h"

namespace prep {

namespace {

struct Field {
    std::size_t index;
    const char* name;
};

std::string mm_text(double mm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", mm);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::int32_t capped(std::int64_t units) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(units, FIELD_MAX));
}

// The placed board in whole units of `per_mm`, as the writers round it.
struct UnitBox {
    std::int64_t min_x = 0, min_y = 0, max_x = 0, max_y = 0;
};

UnitBox in_units(const Box& placed, std::int32_t per_mm) {
    if (placed.empty()) return {};
    return UnitBox{std::llround(placed.min_x * per_mm), std::llround(placed.min_y * per_mm),
                   std::llround(placed.max_x * per_mm), std::llround(placed.max_y * per_mm)};
}

bool steps_allow(const Machine& m, std::int32_t per_mm) {
    return m.steps_x() % per_mm == 0 && m.steps_y() % per_mm == 0;
}

bool fits_table(const Machine& m, const UnitBox& b, std::int32_t per_mm) {
    return b.min_x >= 0 && b.min_y >= 0 && b.max_x <= capped(std::int64_t{m.table_x()} * per_mm) &&
           b.max_y <= capped(std::int64_t{m.table_y()} * per_mm);
}

bool fits_preview(const UnitBox& b) {
    return b.max_x < PREVIEW_WIDTH && b.max_y < PREVIEW_HEIGHT;
}

std::string too_large(const Machine& m, const Box& placed, std::int32_t per_mm) {
    const UnitBox b = in_units(placed, per_mm);
    if (b.min_x < 0 || b.min_y < 0) {
        return "the placed board reaches below 0 on an axis (X " + mm_text(placed.min_x) + ", Y " +
               mm_text(placed.min_y) + " mm): place it on the table";
    }
    std::string text = "the placed board reaches X " + mm_text(placed.max_x) + ", Y " +
                       mm_text(placed.max_y) + " mm, beyond the table of " +
                       std::to_string(m.table_x()) + " x " + std::to_string(m.table_y()) + " mm";
    if (std::int64_t{std::max(m.table_x(), m.table_y())} * per_mm > FIELD_MAX) {
        text += " (in units of " + unit_text(per_mm) + " mm a field holds at most " +
                std::to_string(FIELD_MAX) + ", " + mm_text(double{FIELD_MAX} / per_mm) + " mm)";
    }
    return text;
}

}  // namespace

Machine read_machine(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw PrepError("cannot read the machine file " + path);
    }
    if (st.st_size != static_cast<off_t>(PARAM_FILE_SIZE)) {
        throw PrepError("the machine file " + path + " is " + std::to_string(st.st_size) +
                        " bytes, not the " + std::to_string(PARAM_FILE_SIZE) +
                        " of a Param.ini the controller has written");
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() != PARAM_FILE_SIZE) throw PrepError("cannot read the machine file " + path);
    Machine m;
    m.path = path;
    m.values = decode_param_file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    for (const Field f :
         {Field{3, "X steps per mm"}, Field{4, "Y steps per mm"}, Field{5, "Z steps per mm"},
          Field{6, "X table size"}, Field{7, "Y table size"}}) {
        if (m.values[f.index] < 1 || m.values[f.index] > FIELD_MAX) {
            throw PrepError("the machine file " + path + " gives " + f.name + " " +
                            std::to_string(m.values[f.index]) + ": the controller takes 1 to " +
                            std::to_string(FIELD_MAX));
        }
    }
    return m;
}

std::optional<std::int32_t> unit_from_mm(double mm) {
    for (const std::int32_t per_mm : UNITS_PER_MM) {
        if (std::fabs(mm * per_mm - 1) < 1e-9) return per_mm;
    }
    return std::nullopt;
}

std::string unit_text(std::int32_t per_mm) {
    return mm_text(1.0 / per_mm);
}

UnitChoice choose_unit(const Machine& m, const Box& placed, std::optional<std::int32_t> asked) {
    UnitChoice choice;
    if (asked) {
        if (!steps_allow(m, *asked)) {
            throw PrepError("a job unit of " + unit_text(*asked) + " mm needs a whole number of " +
                            "steps per unit, but the machine has " + std::to_string(m.steps_x()) +
                            " and " + std::to_string(m.steps_y()) +
                            " steps per mm in X and Y: take a coarser --unit");
        }
        if (!fits_table(m, in_units(placed, *asked), *asked)) {
            throw PrepError(too_large(m, placed, *asked));
        }
        choice.per_mm = *asked;
    } else {
        std::int32_t finest = 0, finest_shown = 0;
        bool steps_finer = false;
        for (const std::int32_t per_mm : UNITS_PER_MM) {
            if (per_mm == 1 || !steps_allow(m, per_mm)) continue;
            steps_finer = true;
            const UnitBox b = in_units(placed, per_mm);
            if (!fits_table(m, b, per_mm)) continue;
            finest = per_mm;
            if (per_mm >= PREVIEW_COARSEST_PER_MM && fits_preview(b)) finest_shown = per_mm;
        }
        if (!steps_finer) {
            throw PrepError(
                "no job unit finer than 1 mm: the machine has " + std::to_string(m.steps_x()) +
                " and " + std::to_string(m.steps_y()) +
                " steps per mm in X and Y, and a unit needs a whole number of steps on both: "
                "steps per mm that are even allow 0.5 mm, a multiple of 5 0.2 mm, of 10 0.1 mm "
                "(a lead screw of another pitch, or gearing, changes them); "
                "--unit 1 writes whole millimetres");
        }
        if (finest == 0) {
            // Even the coarsest unit the steps allow is too fine for the table.
            for (const std::int32_t per_mm : UNITS_PER_MM) {
                if (per_mm > 1 && steps_allow(m, per_mm)) {
                    throw PrepError(too_large(m, placed, per_mm));
                }
            }
        }
        // Accuracy first: for the whole board in the preview the unit may go no coarser than
        // 0.2 mm.
        choice.per_mm = finest_shown != 0 ? finest_shown : finest;
    }
    choice.preview_whole = fits_preview(in_units(placed, choice.per_mm));
    choice.table_capped = std::int64_t{m.table_x()} * choice.per_mm > FIELD_MAX ||
                          std::int64_t{m.table_y()} * choice.per_mm > FIELD_MAX;
    return choice;
}

ParamValues derived_params(const Machine& m, std::int32_t per_mm) {
    ParamValues v = m.values;
    v[3] = m.steps_x() / per_mm;
    v[4] = m.steps_y() / per_mm;
    v[6] = capped(std::int64_t{m.table_x()} * per_mm);
    v[7] = capped(std::int64_t{m.table_y()} * per_mm);
    v[11] = 100;
    v[12] = capped(std::int64_t{std::max(m.values[12], 0)} * per_mm);
    v[13] = capped(std::int64_t{std::max(m.values[13], 0)} * per_mm);
    return v;
}

std::string folder_readme(const Machine& m, std::int32_t per_mm, const std::string& folder,
                          const std::vector<std::string>& jobs) {
    const ParamValues v = derived_params(m, per_mm);
    const std::string unit = unit_text(per_mm) + " mm";
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(m.path, ec);
    const std::string machine_path = ec ? m.path : absolute.lexically_normal().string();
    std::string t;
    t += "Jobs for the controller in a job unit of " + unit + " on X and Y.\n\n";
    t += "Start the controller on this folder:\n    cncmirel --folder " + folder + "\n\n";
    t += "Param.ini here is derived from " + machine_path + ", which is left as it was:\n";
    t += "  steps per mm X, Y: " + std::to_string(v[3]) + ", " + std::to_string(v[4]) +
         " steps per unit (the machine's " + std::to_string(m.steps_x()) + ", " +
         std::to_string(m.steps_y()) + " steps per mm)\n";
    t += "  table X, Y: " + std::to_string(v[6]) + " x " + std::to_string(v[7]) + " units\n";
    t += "  go-to X, Y: " + std::to_string(v[12]) + ", " + std::to_string(v[13]) + " units\n";
    t += "  scale: 100\n";
    t += "  Z (steps, table, depth, travel height), step time and backlash: as the machine has "
         "them, Z in millimetres\n\n";
    t += "In the panel every X and Y field called millimetres now holds units of " + unit +
         ", and so do the job files; the preview draws one pixel per unit (" +
         std::to_string(PREVIEW_WIDTH) + " x " + std::to_string(PREVIEW_HEIGHT) +
         " units from the table's origin).\n";
    t += "Run these jobs only with this Param.ini, and other jobs only with the machine's own.\n\n";
    t += "Jobs:\n";
    for (const std::string& j : jobs) t += "  " + j + "\n";
    return t;
}

}  // namespace prep
