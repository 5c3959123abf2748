// prep.h - cncmirel-prep: turns the drill and HP-GL files that PCB CAD programs export into
// jobs in exactly the dialect the controller reads, placed on the table, and reports every
// assumption it made on the way.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "excellon.h"
#include "place.h"

namespace prep {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_USAGE = 2;  // usage error, unreadable or unsupported input

struct Options {
    std::vector<std::string> inputs;  // the files of one board, placed together
    std::string output;  // a job file for one input; a folder for several or with a machine
    bool split_tools = true;
    PlaceOptions place;
    std::optional<ExcellonFormat> excellon_format;
    double hpgl_unit_mm = 0.025;
    // The order of the holes and strokes: as in the file, nearest neighbour, or the short
    // tour in the machine's cost, which may search for up to order_seconds per conversion.
    enum class Order { file, nearest, shortest } order = Order::shortest;
    double order_seconds = 2;
    std::string machine;  // the machine's Param.ini; empty: no machine check, unit 1 mm
    std::optional<std::int32_t> unit_per_mm;  // the job unit asked for
    bool force = false;                       // write into a folder that holds other files
    bool quiet = false;
    // Milling from Gerber layers (and a drill file's routed paths): isolation passes around
    // copper, the cut around the board outline with its tabs.
    bool isolate = false;
    bool outline = false;
    double tool_mm = 0;  // the milling tool's diameter; 0 when not given
    int passes = 1;
    double overlap_pct = 50;
    int tabs = 0;
    double tab_width_mm = 3;
    std::string png;  // a picture of the board on the table; empty: none
};

const char* usage_text();

// Reads the options (the command line without the program's name); throws PrepError.
// Returns nothing for --help.
std::optional<Options> parse_options(const std::vector<std::string>& args);

// The conversion itself; the report goes to `out` unless quiet. Throws PrepError.
void convert(const Options& options, std::FILE* out);

// The whole program: returns the exit status; errors go to `err` as one line.
int run_command_line(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace prep
