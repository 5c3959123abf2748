// line_writer.h - buffered output of the simulator's lines: words separated by one space,
// integers in decimal, one item a line. A run may print many lines, so nothing is formatted
// through streams and the file is written in large blocks.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

class LineWriter {
public:
    explicit LineWriter(std::FILE* file) : file_(file) { buffer_.reserve(FLUSH_AT + 256); }
    ~LineWriter() { flush(); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // One line of words: each argument is a text or an integer.
    template <typename... Words>
    void line(const Words&... words) {
        bool first = true;
        ((put_separator(first), put(words)), ...);
        buffer_.push_back('\n');
        if (buffer_.size() >= FLUSH_AT) flush();
    }

    // Text as it stands, line ends included.
    void text(std::string_view text) { buffer_.append(text); }

    // Hands everything buffered to the file.
    void flush() {
        if (!buffer_.empty() &&
            std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            failed_ = true;
        }
        buffer_.clear();
        if (std::fflush(file_) != 0 || std::ferror(file_)) failed_ = true;
    }

    // True once a write to the file failed (a full disk, a closed pipe, /dev/full): the output
    // is then incomplete.
    bool failed() const { return failed_; }

private:
    static constexpr std::size_t FLUSH_AT = 64 * 1024;

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
    bool failed_ = false;
};

}  // namespace sim
