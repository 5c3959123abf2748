// unit.h - the job unit: the controller multiplies every job coordinate by the axis's steps
// per mm field, so a Param.ini whose X and Y fields hold the steps of a finer length makes
// whole job coordinates mean that length. Here the machine's own Param.ini is read, the unit
// chosen for a placed board, and the folder's Param.ini and README.txt derived from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/param_file.h"
#include "place.h"

namespace prep {

// Job units in use, as units per millimetre: 1, 0.5, 0.25, 0.2, 0.1, 0.05 and 0.025 mm.
inline constexpr std::int32_t UNITS_PER_MM[] = {1, 2, 4, 5, 10, 20, 40};
// The coarsest unit the preview may be given a finer one up for: 0.2 mm.
inline constexpr std::int32_t PREVIEW_COARSEST_PER_MM = 5;
// The preview draws one pixel per job unit, from 0 on each axis.
inline constexpr std::int32_t PREVIEW_WIDTH = 735;
inline constexpr std::int32_t PREVIEW_HEIGHT = 715;
// Every field of the panel holds at most this.
inline constexpr std::int32_t FIELD_MAX = 9999;

// The operator's Param.ini, as the machine really is (millimetres).
struct Machine {
    std::string path;
    ParamValues values{};
    std::int32_t steps_x() const { return values[3]; }
    std::int32_t steps_y() const { return values[4]; }
    std::int32_t table_x() const { return values[6]; }
    std::int32_t table_y() const { return values[7]; }
};

// Reads and checks a machine file: exactly sixty bytes, steps per mm and table sizes from 1
// to 9999. Throws PrepError.
Machine read_machine(const std::string& path);

// "--unit MM": the units per millimetre of one of the units in use; nothing for another length.
std::optional<std::int32_t> unit_from_mm(double mm);

// Text of a unit, "0.1" for 10 per mm.
std::string unit_text(std::int32_t per_mm);

struct UnitChoice {
    std::int32_t per_mm = 1;
    bool preview_whole = true;  // the whole placed board lies within the preview
    bool table_capped = false;  // the table in units is more than a field holds
};

// The job unit for a board placed in millimetres at `placed`: the one asked for, or the
// finest the X and Y steps allow whose table the board fits, preferring, among those no
// coarser than 0.2 mm, the finest that shows the whole board in the preview. Throws PrepError
// with what would make a finer unit possible.
UnitChoice choose_unit(const Machine& machine, const Box& placed,
                       std::optional<std::int32_t> asked);

// The folder's Param.ini: X and Y steps per unit, table and go-to X and Y in units (a field
// holds at most 9999), scale 100, everything else as the machine has it.
ParamValues derived_params(const Machine& machine, std::int32_t per_mm);

// The folder's README.txt: what the derived fields mean and how to start on the folder.
std::string folder_readme(const Machine& machine, std::int32_t per_mm, const std::string& folder,
                          const std::vector<std::string>& jobs);

}  // namespace prep
