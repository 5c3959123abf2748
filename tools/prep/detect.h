// detect.h - tells a drill file from an HP-GL file by its first bytes, and names the formats
// that are refused (Gerber, PCL wrappers, binary data) before any reading starts.
#pragma once

#include <string>
#include <string_view>

namespace prep {

enum class InputKind { excellon, hpgl };

// Throws PrepError naming what the file is when it is neither kind.
InputKind detect_kind(std::string_view head, const std::string& path);

}  // namespace prep
