// excellon.h - the drill-file reader: Excellon as PCB CAD programs export it, read into holes
// in millimetres with their tools, slots and routed paths already turned into rows of holes.
#pragma once

#include <optional>
#include <string>

#include "model.h"

namespace prep {

// How the numbers of a drill file are written. Each part may be unknown.
struct ExcellonFormat {
    std::optional<bool> metric;   // millimetres (true) or inches (false)
    std::optional<bool> leading;  // LZ: leading zeros kept (true); TZ: trailing zeros kept
    std::optional<int> int_digits;
    std::optional<int> dec_digits;
};

// "METRIC,LZ,3:3" or "INCH,TZ,2:4"; throws PrepError naming the option when it is malformed.
ExcellonFormat parse_excellon_format(const std::string& text);

// Reads the whole file. `given` (from --excellon-format) replaces whatever the file states.
// Throws PrepError on anything it cannot read with certainty.
DrillJob read_excellon(const std::string& path, const std::optional<ExcellonFormat>& given);

}  // namespace prep
