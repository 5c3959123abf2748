// files.h - what every writer of files shares: whether two names lead to one file, the folder
// a file lies in, and flushing files and folders so that a rename survives a power cut.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

// True when both names lead to the same existing file, or, where one does not exist yet, when
// both resolve to the same path (an output named twice, or after its input, before either is
// made).
inline bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    std::error_code ea;
    std::error_code eb;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ea);
    const std::filesystem::path cb = std::filesystem::weakly_canonical(b, eb);
    if (ea || eb) return a == b;
    return ca == cb;
}

// The folder of `path` as a path of its own: "." for a bare name, "/" at the root.
inline std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Every flush of a written file or its folder to the disk goes through this (fsync), so that a
// test may watch which descriptors are flushed and when.
inline int (*flush_to_disk)(int fd) = ::fsync;

// Flushes the folder `folder` to the disk: 0, or the errno of the open or the flush that failed.
inline int flush_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno != 0 ? errno : EIO;
    const int error = flush_to_disk(fd) == 0 ? 0 : (errno != 0 ? errno : EIO);
    ::close(fd);
    return error;
}
