// output.cpp - atomic writing of the output files.
#include "output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "model.h"

namespace prep {

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

OutputSet::~OutputSet() {
    for (std::FILE* f : files_) {
        if (f) std::fclose(f);
    }
    if (!committed_) {
        for (const std::string& t : temps_) ::unlink(t.c_str());
    }
}

std::FILE* OutputSet::open(const std::string& final_path) {
    if (same_file(final_path, input_) || final_path == input_) {
        throw PrepError("the output " + final_path + " would replace the input");
    }
    for (const std::string& f : finals_) {
        if (f == final_path) throw PrepError("two outputs would both be named " + final_path);
    }
    const std::size_t slash = final_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::string temp = folder + "." + name + ".XXXXXX" + ext;
    const int fd = ::mkstemps(temp.data(), static_cast<int>(ext.size()));
    if (fd < 0) throw PrepError("cannot write " + final_path + ": " + std::strerror(errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw PrepError("cannot write " + final_path);
    }
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    finals_.push_back(final_path);
    temps_.push_back(temp);
    files_.push_back(file);
    return file;
}

void OutputSet::close_all() {
    for (std::size_t i = 0; i < files_.size(); ++i) {
        std::FILE* f = files_[i];
        if (!f) continue;
        files_[i] = nullptr;
        const bool ok = !std::ferror(f) && std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
        if (std::fclose(f) != 0 || !ok) throw PrepError("cannot write " + finals_[i]);
    }
}

void OutputSet::commit() {
    close_all();
    for (std::size_t i = 0; i < temps_.size(); ++i) {
        if (same_file(finals_[i], input_)) {
            throw PrepError("the output " + finals_[i] + " would replace the input");
        }
    }
    for (std::size_t i = 0; i < temps_.size(); ++i) {
        if (::rename(temps_[i].c_str(), finals_[i].c_str()) != 0) {
            const std::string why = std::strerror(errno);
            // Outputs already renamed stay; the rest are removed by the destructor.
            temps_.erase(temps_.begin(), temps_.begin() + static_cast<std::ptrdiff_t>(i));
            throw PrepError("cannot write " + finals_[i] + ": " + why);
        }
    }
    committed_ = true;
}

}  // namespace prep
