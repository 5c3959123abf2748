// line_writer.h - buffered output of text lines, for the tools' outputs and reports: integers
// in decimal, texts as they stand, the file written in large blocks, nothing formatted through
// streams. A write the system refuses is remembered with its error, never lost.
#pragma once

#include <cerrno>
#include <charconv>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class LineWriter {
public:
    explicit LineWriter(std::FILE* file) : file_(file) { buffer_.reserve(FLUSH_AT + 256); }
    ~LineWriter() { flush(); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // One line of words separated by one space: each argument is a text or an integer.
    template <typename... Words>
    void line(const Words&... words) {
        bool first = true;
        ((put_separator(first), put(words)), ...);
        end_line();
    }

    // One line of its pieces put together as they stand ("X", 12, "Y", 5 gives X12Y5).
    template <typename... Pieces>
    void joined(const Pieces&... pieces) {
        (put(pieces), ...);
        end_line();
    }

    // Text as it stands, line ends included.
    void text(std::string_view text) { buffer_.append(text); }

    // Hands everything buffered to the file.
    void flush() {
        if (!buffer_.empty()) {
            if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) fail();
            handed_ += static_cast<std::int64_t>(buffer_.size());
        }
        buffer_.clear();
        if (std::fflush(file_) != 0 || std::ferror(file_)) fail();
    }

    // True once a write to the file failed (a full disk, a closed pipe, /dev/full): the output
    // is then incomplete. error() is the system's reason (0 when it gave none).
    bool failed() const { return failed_; }
    int error() const { return error_; }
    // Bytes written so far, the buffered ones included.
    std::int64_t bytes() const { return handed_ + static_cast<std::int64_t>(buffer_.size()); }

private:
    static constexpr std::size_t FLUSH_AT = 64 * 1024;

    void end_line() {
        buffer_.push_back('\n');
        if (buffer_.size() >= FLUSH_AT) flush();
    }
    void fail() {
        if (!failed_) error_ = errno;
        failed_ = true;
    }
    void put_separator(bool& first) {
        if (!first) buffer_.push_back(' ');
        first = false;
    }
    void put(std::string_view text) { buffer_.append(text); }
    void put(const char* text) { buffer_.append(text); }
    void put(const std::string& text) { buffer_.append(text); }
    void put(char c) { buffer_.push_back(c); }
    template <std::integral Integer>
    void put(Integer value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        buffer_.append(digits, end);
    }

    std::FILE* file_;
    std::string buffer_;
    std::int64_t handed_ = 0;
    bool failed_ = false;
    int error_ = 0;
};
