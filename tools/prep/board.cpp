// board.cpp - reading the inputs of one board, their common frame, and the output folder.
#include "board.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "hpgl.h"
#include "output.h"
#include "plausible.h"
#include "source.h"

namespace prep {

namespace {

std::string base_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<BoardInput> read_board(const std::vector<std::string>& paths,
                                   const std::optional<ExcellonFormat>& excellon_format,
                                   double hpgl_unit_mm) {
    std::vector<BoardInput> inputs;
    for (const std::string& path : paths) {
        for (const BoardInput& before : inputs) {
            if (before.path == path || same_file(before.path, path)) {
                throw PrepError("the input " + path + " is given twice");
            }
        }
        BoardInput in;
        in.path = path;
        in.kind = detect_kind(read_head(path, 1 << 16), path);
        if (in.kind == InputKind::excellon) {
            in.drill = read_excellon(path, excellon_format);
            if (in.drill.holes.size() > 0xffffffffu) throw PrepError("too many holes in " + path);
        } else if (in.kind == InputKind::hpgl) {
            in.plot = read_hpgl(path, hpgl_unit_mm);
        } else {
            in.gerber = read_gerber(path);
        }
        inputs.push_back(std::move(in));
    }
    return inputs;
}

void check_plausible_drills(std::vector<BoardInput>& inputs, bool force) {
    for (BoardInput& in : inputs) {
        if (in.kind != InputKind::excellon) continue;
        const std::string problem = check_plausible(in.drill).problem();
        if (problem.empty()) continue;
        if (!force) {
            throw PrepError(in.path + ": implausible holes: " + problem +
                            "; the number format may be wrong (see --excellon-format), or give "
                            "--force to convert anyway");
        }
        in.drill.notes.push_back("WARNING: implausible holes: " + problem +
                                 "; converted anyway (--force)");
    }
}

Box board_box(const std::vector<BoardInput>& inputs) {
    Box box;
    for (const BoardInput& in : inputs) in.each_point([&](const Point& p) { box.add(p); });
    return box;
}

void scale_board(std::vector<BoardInput>& inputs, std::int32_t per_mm) {
    if (per_mm == 1) return;
    const double k = per_mm;
    for (BoardInput& in : inputs) {
        for (std::size_t i = 0; i < in.drill.holes.size(); ++i) {
            Point& p = in.drill.holes.point(i);
            p = Point{p.x * k, p.y * k};
        }
        for (Point& p : in.plot.points) p = Point{p.x * k, p.y * k};
    }
}

std::string output_in_folder(const std::string& folder, const BoardInput& input) {
    std::string name = base_name(input.path);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return folder + "/" + name + (input.kind == InputKind::excellon ? ".drl" : ".plt");
}

OutputFolder::OutputFolder(std::string path) : path_(std::move(path)) {
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throw PrepError("the output " + path_ + " is not a folder");
        return;
    }
    if (::mkdir(path_.c_str(), 0777) != 0) {
        throw PrepError("cannot make the folder " + path_ + ": " + std::strerror(errno));
    }
    made_ = true;
}

OutputFolder::~OutputFolder() {
    if (made_) ::rmdir(path_.c_str());
}

void OutputFolder::check_only(const std::vector<std::string>& outputs,
                              const std::vector<std::string>& temporaries, bool force) const {
    if (force) return;
    std::vector<std::string> ours;
    for (const std::string& p : outputs) ours.push_back(base_name(p));
    for (const std::string& p : temporaries) ours.push_back(base_name(p));
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec)) {
        const std::string name = entry.path().filename();
        if (std::find(ours.begin(), ours.end(), name) == ours.end()) {
            throw PrepError("the folder " + path_ + " holds other files (" + name +
                            "): choose an empty or new folder, or give --force");
        }
    }
    if (ec) throw PrepError("cannot read the folder " + path_ + ": " + ec.message());
}

}  // namespace prep
