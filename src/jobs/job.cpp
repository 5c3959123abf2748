// job.cpp - the job record and small questions about a job file.
#include "jobs/job.h"

#include <unistd.h>

#include "base/helpers.h"  // open_regular_file

JobState job_state;

FileIdentity job_file_identity(const std::string& file_name) {
    struct stat st {};
    const int fd = open_regular_file(file_name.c_str(), st);
    if (fd < 0) return {};
    ::close(fd);
    return identity_of(st);
}
