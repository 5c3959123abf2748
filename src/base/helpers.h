// helpers.h - the small helpers every layer shares: saturation to int32, steps back to whole
// millimetres, upper-casing a letter or a line's start, a number as label text, and opening a
// regular file without ever waiting.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Brings an int64 to the nearest int32.
constexpr std::int32_t saturate_to_int32(std::int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

// Steps as whole millimetres, truncated toward zero. The steps per mm are never below 1 (the
// fields' minimum); the division is guarded all the same.
constexpr std::int32_t per_mm(std::int32_t steps, std::int32_t steps_per_mm) {
    return steps / (steps_per_mm > 0 ? steps_per_mm : 1);
}

// An ASCII letter in capitals; every other byte as it is.
constexpr char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the line, upper-cased, begins with `prefix` (given in capitals).
constexpr bool begins_upper(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upper(line[i]) != prefix[i]) return false;
    }
    return true;
}

// A number in decimal, as a label or field shows it.
struct NumberText {
    char text[24];
    std::size_t size;
    std::string_view view() const { return {text, size}; }
};
inline NumberText number_text(std::int64_t value) {
    NumberText n{};
    n.size =
        static_cast<std::size_t>(std::to_chars(n.text, n.text + sizeof n.text, value).ptr - n.text);
    return n;
}

// Opens `path` for reading as a regular file and fills `st`: the descriptor, or -1 with nothing
// left open. O_NONBLOCK, so that a FIFO or device chosen by mistake never blocks the loop (a
// FIFO would wait for a writer); it is refused after the open like a directory.
inline int open_regular_file(const char* path, struct stat& st) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
