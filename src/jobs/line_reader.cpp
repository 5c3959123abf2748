// line_reader.cpp - buffered line reading with exact offsets and bounded memory.
#include "jobs/line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "base/helpers.h"  // open_regular_file

namespace {

// Index of the first CR, LF or NUL in p[0..n), or n. Eight bytes at a time: a word is looked
// at closely only when one of its bytes is below 14, which in text is rare apart from tabs.
std::size_t find_terminator(const char* p, std::size_t n) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t ones = 0x0101010101010101u;
        constexpr std::uint64_t highs = 0x8080808080808080u;
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            // The lowest flagged byte is exactly the first byte below 14 (borrows only run
            // upward).
            const std::uint64_t below = (word - ones * 14) & ~word & highs;
            if (below == 0) {
                i += 8;
                continue;
            }
            i += static_cast<std::size_t>(std::countr_zero(below) >> 3);
            const char c = p[i];
            if (c == '\n' || c == '\r' || c == '\0') return i;
            ++i;
        }
    }
    for (; i < n; ++i) {
        const char c = p[i];
        if (c == '\n' || c == '\r' || c == '\0') return i;
    }
    return n;
}

}  // namespace

LineReader::LineReader() = default;

LineReader::~LineReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool LineReader::open(const std::string& file_name) {
    struct stat st {};
    fd_ = open_regular_file(file_name.c_str(), st);
    if (fd_ < 0) return false;
    identity_ = identity_of(st);
    length_ = identity_.size;
    seek(0);
    return true;
}

bool LineReader::open_unchanged(const std::string& file_name, const FileIdentity* expected) {
    return open(file_name) && (expected == nullptr || identity_ == *expected);
}

void LineReader::seek(std::int64_t offset) {
    position_ = std::max<std::int64_t>(offset, 0);
    buffer_offset_ = position_;
    buffer_length_ = 0;
}

// Reads more of the file at position_ (the buffer is used up), keeping the bytes from
// keep_from on at the front of the buffer. On a read error or a file that became shorter, the
// reader ends there.
bool LineReader::fill(std::int64_t keep_from) {
    const auto kept = static_cast<std::size_t>(position_ - keep_from);
    if (kept > 0) {
        std::memmove(buffer_, buffer_ + (keep_from - buffer_offset_), kept);
    }
    buffer_offset_ = keep_from;
    buffer_length_ = kept;
    // A fetch usually needs a line or two: start small, then read ahead more and more.
    const std::size_t room = std::min(BUFFER_BYTES - kept, read_bytes_);
    read_bytes_ = std::min(read_bytes_ * 2, BUFFER_BYTES);
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(room), length_ - position_));
    ssize_t got;
    do {
        got = ::pread(fd_, buffer_ + kept, wanted, static_cast<off_t>(position_));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        failed_ = true;
        length_ = position_;
        return false;
    }
    buffer_length_ += static_cast<std::size_t>(got);
    return true;
}

// Copies the examined part of a line that starts at `start` (still in the buffer) aside, before
// the buffer moves on past it.
void LineReader::keep_head(std::int64_t start) {
    std::memcpy(head_, buffer_ + (start - buffer_offset_), LINE_LIMIT);
}

std::string_view LineReader::line_view(std::int64_t start, std::int64_t end, bool long_line) const {
    if (failed_) return {};
    if (long_line) return {head_, LINE_LIMIT};
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(end - start, LINE_LIMIT));
    if (size == 0) return {};
    return {buffer_ + (start - buffer_offset_), size};
}

std::string_view LineReader::next_line() {
    const std::int64_t start = position_;
    // A line longer than LINE_LIMIT that ran past the buffer: its head is in head_, and the
    // buffer no longer keeps the line's start.
    bool long_line = false;
    const auto make_room = [&](std::int64_t line_bytes) {
        if (!long_line && line_bytes > static_cast<std::int64_t>(LINE_LIMIT)) {
            keep_head(start);
            long_line = true;
        }
        return fill(long_line ? position_ : start);
    };

    for (;;) {
        const auto ahead = static_cast<std::size_t>(buffer_offset_ + buffer_length_ - position_);
        if (ahead == 0) {
            if (position_ >= length_ || !make_room(position_ - start)) {
                return line_view(start, position_, long_line);  // the end of the file ends it
            }
            continue;
        }
        const char* const p = buffer_ + (position_ - buffer_offset_);
        const std::size_t i = find_terminator(p, ahead);
        if (i == ahead) {
            position_ += static_cast<std::int64_t>(ahead);
            continue;
        }
        const std::int64_t end = position_ + static_cast<std::int64_t>(i);
        position_ = end + 1;
        if (p[i] == '\r' && position_ < length_) {
            // A CR may be the last byte read so far: the LF that would join it is fetched first.
            if (position_ == buffer_offset_ + static_cast<std::int64_t>(buffer_length_)) {
                make_room(end - start);
            }
            if (!failed_ && buffer_[position_ - buffer_offset_] == '\n') ++position_;
        }
        return line_view(start, end, long_line);
    }
}
