// source.h - the input file as a stream of bytes: read in large blocks, so that memory stays
// the same whatever the file's size or the length of its lines, and the byte offset of every
// byte is known for error messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace prep {

class ByteSource {
public:
    // Opens a regular file for reading; throws PrepError when it cannot.
    explicit ByteSource(const std::string& path);
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // The next byte (0..255) without consuming it, or -1 at the end of the file.
    int peek() {
        if (pos_ == len_ && !refill()) return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    int get() {
        const int c = peek();
        if (c >= 0) ++pos_;
        return c;
    }
    // Steps over a UTF-8 byte order mark at the start of the file, as some editors write one.
    void skip_byte_order_mark();
    // Offset of the next byte in the file.
    std::int64_t offset() const { return base_ + static_cast<std::int64_t>(pos_); }
    const std::string& path() const { return path_; }

private:
    bool refill();

    std::string path_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::int64_t base_ = 0;  // file offset of buffer_[0]
};

// The first bytes of a file (at most `limit`), for telling its kind.
std::string read_head(const std::string& path, std::size_t limit);

}  // namespace prep
