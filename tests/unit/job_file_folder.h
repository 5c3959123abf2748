// job_file_folder.h - a temporary folder for the job-file reader tests, removed with the
// object, in which a test writes its small job files.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class JobFileFolder {
public:
    JobFileFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "cnc-jobs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~JobFileFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    JobFileFolder(const JobFileFolder&) = delete;
    JobFileFolder& operator=(const JobFileFolder&) = delete;

    // Full path of a name inside the folder; the file need not exist.
    std::string path(const std::string& name) const { return (path_ / name).string(); }

    // Writes `bytes` exactly (NUL bytes included) and returns the file's path.
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string file = path(name);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    // Makes a FIFO and returns its path: reading it must never wait for a writer.
    std::string fifo(const std::string& name) const {
        const std::string file = path(name);
        if (::mkfifo(file.c_str(), 0600) != 0) std::abort();
        return file;
    }

private:
    std::filesystem::path path_;
};

// Overwrites bytes of a file in place and puts its access and modification times back, as
// `touch -r` or `rsync --inplace -t` would. The status-change time cannot be put back: the
// times are set again until the kernel's clock has moved past the file's old one, so the edit
// shows there. False when any step failed.
inline bool edit_keeping_times(const std::string& file, std::int64_t offset,
                               const std::string& bytes) {
    struct stat before {};
    if (::stat(file.c_str(), &before) != 0) return false;
    const int fd = ::open(file.c_str(), O_WRONLY);
    if (fd < 0) return false;
    const bool written =
        ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    struct stat after {};
    for (int tries = 0; tries < 10'000'000; ++tries) {
        if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0 ||
            ::stat(file.c_str(), &after) != 0) {
            return false;
        }
        if (after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
            after.st_ctim.tv_nsec != before.st_ctim.tv_nsec) {
            break;
        }
    }
    return written && after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           after.st_mtim.tv_nsec == before.st_mtim.tv_nsec && after.st_size == before.st_size &&
           (after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
            after.st_ctim.tv_nsec != before.st_ctim.tv_nsec);
}
