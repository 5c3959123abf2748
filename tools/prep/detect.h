// detect.h - tells a drill file, an HP-GL file and a Gerber file apart by their first bytes,
// and names the formats that are refused (PCL wrappers, binary data) before any reading starts.
#pragma once

#include <string>
#include <string_view>

namespace prep {

enum class InputKind { excellon, hpgl, gerber };

// Throws PrepError naming what the file is when it is none of the kinds.
InputKind detect_kind(std::string_view head, const std::string& path);

}  // namespace prep
