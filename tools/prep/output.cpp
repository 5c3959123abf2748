// output.cpp - atomic writing of the output files.
#include "output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "base/files.h"
#include "model.h"

namespace prep {

namespace {

std::string name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Swaps two names in one step; false (errno EINVAL or ENOSYS) where the file system cannot.
bool exchange(const std::string& a, const std::string& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

}  // namespace

std::string cannot_write(const std::string& path, int error) {
    return "cannot write " + path + ": " + std::strerror(error);
}

OutputSet::~OutputSet() {
    for (std::FILE* f : files_) {
        if (f) std::fclose(f);
    }
    for (const std::string& t : temps_) ::unlink(t.c_str());
}

std::FILE* OutputSet::open(const std::string& final_path) {
    if (same_file(final_path, input_) || final_path == input_) {
        throw PrepError("the output " + final_path + " would replace the input");
    }
    for (const std::string& f : finals_) {
        if (f == final_path) throw PrepError("two outputs would both be named " + final_path);
    }
    // Refused here rather than by the last rename, after all the writing.
    const std::string name = name_of(final_path);
    if (name.size() > NAME_MAX || final_path.size() >= PATH_MAX) {
        throw PrepError(cannot_write(final_path, ENAMETOOLONG));
    }
    // A short temporary name of its own, so that the longest name the system takes still has
    // a temporary; the extension stays, as the machine check reads the kind of job from it.
    const std::size_t dot = name.rfind('.');
    const std::string ext =
        dot == std::string::npos || name.size() - dot > 8 ? "" : name.substr(dot);
    std::string temp = folder_of(final_path) + "/.prep-XXXXXX" + ext;
    const int fd = ::mkstemps(temp.data(), static_cast<int>(ext.size()));
    if (fd < 0) throw PrepError(cannot_write(final_path, errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        throw PrepError(cannot_write(final_path, error));
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
        int error = 0;
        if (std::ferror(f)) {
            error = EIO;  // a write that failed earlier and was not seen
        } else if (std::fflush(f) != 0 || flush_to_disk(::fileno(f)) != 0) {
            error = errno;
        }
        if (std::fclose(f) != 0 && error == 0) error = errno;
        if (error != 0) throw PrepError(cannot_write(finals_[i], error));
    }
}

void OutputSet::prepare() {
    close_all();
    for (const std::string& final_path : finals_) {
        if (same_file(final_path, input_)) {
            throw PrepError("the output " + final_path + " would replace the input");
        }
        struct stat st {};
        if (::lstat(final_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            throw PrepError(cannot_write(final_path, EISDIR));
        }
    }
}

void OutputSet::commit() {
    prepare();
    // Each output takes its place by swapping names with the file it replaces, so that a
    // failure part way can swap every earlier one back; the old files then leave with the
    // temporaries. Where the file system cannot swap, the old file is simply replaced.
    enum class Step { created, exchanged, replaced };
    std::vector<Step> done;
    for (std::size_t i = 0; i < temps_.size(); ++i) {
        const char* temp = temps_[i].c_str();
        const char* final_path = finals_[i].c_str();
        struct stat st {};
        bool ok = false;
        Step step = Step::created;
        if (::lstat(final_path, &st) != 0) {
            ok = ::renameat2(AT_FDCWD, temp, AT_FDCWD, final_path, RENAME_NOREPLACE) == 0;
            if (!ok && (errno == EINVAL || errno == ENOSYS)) ok = ::rename(temp, final_path) == 0;
        } else if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;  // a folder put there since prepare(): never swap with one
        } else {
            step = Step::exchanged;
            ok = exchange(temps_[i], finals_[i]);
            if (!ok && (errno == EINVAL || errno == ENOSYS)) {
                step = Step::replaced;
                ok = ::rename(temp, final_path) == 0;
            }
        }
        if (!ok) {
            const int error = errno;
            for (std::size_t k = done.size(); k-- > 0;) {
                if (done[k] == Step::exchanged) {
                    exchange(temps_[k], finals_[k]);
                } else if (done[k] == Step::created) {
                    ::unlink(finals_[k].c_str());
                }
            }
            throw PrepError(cannot_write(finals_[i], error));
        }
        done.push_back(step);
    }
    // The swapped temporaries now hold the replaced files; the others' names are outputs now.
    for (std::size_t i = 0; i < temps_.size(); ++i) {
        if (done[i] == Step::exchanged) ::unlink(temps_[i].c_str());
    }
    temps_.clear();
    std::set<std::string> folders;
    for (const std::string& f : finals_) folders.insert(folder_of(f));
    // Makes the renames survive a power cut; a folder that cannot be flushed leaves the outputs
    // in place all the same.
    for (const std::string& folder : folders) flush_folder(folder);
}

}  // namespace prep
