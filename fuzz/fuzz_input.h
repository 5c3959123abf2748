// fuzz_input.h - turns a fuzzer's bytes into a job file on disk and the readers' arguments.
// Layout: byte 0 picks the scale, byte 1 an offset or pen state, byte 2 optional padding that
// pushes the rest across the end of the first read; the remaining bytes are the file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "jobs/line_reader.h"

struct FuzzJob {
    std::int32_t scale = 100;
    std::uint8_t choice = 0;
    std::string bytes;  // the file's content
    std::string path;   // where it was written
};

inline FuzzJob make_fuzz_job(const std::uint8_t* data, std::size_t size) {
    FuzzJob job;
    if (size >= 1) job.scale = 1 + data[0] % 100;
    if (size >= 2) job.choice = data[1];
    if (size >= 3 && data[2] >= 0xc0) {
        // Filler of empty lines or one long line, ending 0..31 bytes before the first read's end.
        const std::size_t fill = LineReader::FIRST_READ_BYTES - (data[2] & 0x1f);
        job.bytes.assign(fill, (data[2] & 0x20) != 0 ? '\n' : 'Z');
    }
    if (size > 3) job.bytes.append(reinterpret_cast<const char*>(data) + 3, size - 3);

    // Memory-backed /dev/shm when there is one: rewriting a file on disk costs far more than
    // reading it. Never destroyed, so that the removal at exit can still name it.
    static const std::string& path = *[] {
        const char* dir = std::getenv("TMPDIR");
        if (dir == nullptr) dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        auto* name =
            new std::string(std::string(dir) + "/cnc-fuzz-" + std::to_string(::getpid()) + ".job");
        std::atexit([] { ::unlink(path.c_str()); });
        return name;
    }();
    job.path = path;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < job.bytes.size()) {
        const ssize_t n = ::write(fd, job.bytes.data() + done, job.bytes.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return job;
}
