// job_file_folder.h - a temporary folder for the job-file reader tests, removed with the
// object, in which a test writes its small job files.
#pragma once

#include <sys/stat.h>

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
