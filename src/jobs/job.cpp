// job.cpp - the job record and small questions about a job file.
#include "jobs/job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

JobState job_state;

FileIdentity job_file_identity(const std::string& file_name) {
    // O_NONBLOCK so that a FIFO or device chosen by mistake never blocks the loop.
    const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return ok ? identity_of(st) : FileIdentity{};
}

std::string job_file_extension(const std::string& file_name) {
    const std::size_t slash = file_name.find_last_of('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = file_name.find_last_of('.');
    if (dot == std::string::npos || dot < start) return {};
    std::string ext = file_name.substr(dot + 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}
