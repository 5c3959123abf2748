// job_kind.h - the kind of a job file, decided by its extension alone: "drl" drilling, "plt"
// milling, in any case. The open-file flow, the Start button and the simulator all ask here.
#pragma once

#include <string>
#include <string_view>

enum class JobKind { drilling, milling, other };

// Lower-case extension of the final path component (text after its last "."), "" when none.
inline std::string job_file_extension(std::string_view file_name) {
    const std::size_t slash = file_name.find_last_of('/');
    const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = file_name.find_last_of('.');
    if (dot == std::string_view::npos || dot < start) return {};
    std::string ext(file_name.substr(dot + 1));
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

inline JobKind job_kind_of(std::string_view file_name) {
    const std::string ext = job_file_extension(file_name);
    if (ext == "drl") return JobKind::drilling;
    if (ext == "plt") return JobKind::milling;
    return JobKind::other;
}
