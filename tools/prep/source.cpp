// source.cpp - block-buffered reading of the input file.
#include "source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/helpers.h"  // open_regular_file
#include "model.h"

namespace prep {

namespace {

constexpr std::size_t BLOCK = 1 << 16;

// The controller's own opening of a job file: never waits on a FIFO or device.
int open_regular(const std::string& path) {
    struct stat st {};
    errno = 0;
    const int fd = open_regular_file(path.c_str(), st);
    if (fd >= 0) return fd;
    if (errno != 0) throw PrepError("cannot read " + path + ": " + std::strerror(errno));
    throw PrepError("cannot read " + path + ": not a regular file");
}

}  // namespace

ByteSource::ByteSource(const std::string& path) : path_(path), buffer_(BLOCK) {
    fd_ = open_regular(path);
}

ByteSource::~ByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

bool ByteSource::refill() {
    base_ += static_cast<std::int64_t>(len_);
    pos_ = 0;
    len_ = 0;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw PrepError("cannot read " + path_ + ": " + std::strerror(errno));
        len_ = static_cast<std::size_t>(got);
        return got > 0;
    }
}

void ByteSource::skip_byte_order_mark() {
    if (offset() != 0 || peek() != 0xef) return;
    if (len_ >= 3 && buffer_[1] == '\xbb' && buffer_[2] == '\xbf') pos_ = 3;
}

std::string read_head(const std::string& path, std::size_t limit) {
    ByteSource source(path);
    std::string head;
    for (int c; head.size() < limit && (c = source.get()) >= 0;)
        head.push_back(static_cast<char>(c));
    return head;
}

}  // namespace prep
