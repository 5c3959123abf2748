// line_reader.cpp - buffered line reading with exact offsets and bounded memory.
#include "jobs/line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "base/helpers.h"  // open_regular_file
#include "jobs/job.h"      // fits_byte_offsets

void (*line_reader_read_hook)(int, std::int64_t) = nullptr;

namespace {

constexpr std::uint64_t MIX_1 = 0x9E3779B185EBCA87u;
constexpr std::uint64_t MIX_2 = 0xC2B2AE3D27D4EB4Fu;
constexpr std::uint64_t MIX_3 = 0x165667B19E3779F9u;

std::uint64_t load_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

std::uint64_t mix_lane(std::uint64_t lane, std::uint64_t word) {
    return std::rotl(lane + word * MIX_2, 31) * MIX_1;
}

// The checksum of one block: four independent multiply-rotate lanes over 32-byte stripes (so
// they run side by side), then the rest word by word and byte by byte, the length, and a final
// avalanche. Any change of a few bytes changes it but for a chance of about 2^-64; it guards
// against edits, not against someone forging a block.
std::uint64_t block_sum(const char* p, std::size_t n) {
    std::uint64_t lanes[4] = {MIX_1 + MIX_2, MIX_2, 0, 0 - MIX_1};
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        for (int k = 0; k < 4; ++k) lanes[k] = mix_lane(lanes[k], load_word(p + i + 8 * k));
    }
    std::uint64_t h = std::rotl(lanes[0], 1) + std::rotl(lanes[1], 7) + std::rotl(lanes[2], 12) +
                      std::rotl(lanes[3], 18) + n;
    for (; i + 8 <= n; i += 8) h = std::rotl(h ^ mix_lane(0, load_word(p + i)), 27) * MIX_1 + MIX_3;
    for (; i < n; ++i) h = std::rotl(h ^ (static_cast<unsigned char>(p[i]) * MIX_3), 11) * MIX_1;
    h ^= h >> 33;
    h *= MIX_2;
    h ^= h >> 29;
    h *= MIX_3;
    return h ^ (h >> 32);
}

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

bool LineReader::open_recording(const std::string& file_name, FileFingerprint& into) {
    into.identity = {};
    into.block_sums.clear();
    if (!open(file_name)) return false;
    // deliberate: a file too long for a job's byte offsets is read, but not recorded, so that
    // the record stays a few megabytes; the open flow refuses such a job anyway.
    if (fits_byte_offsets(length_)) {
        into.identity = identity_;
        into.block_sums.assign(FileFingerprint::blocks_of(length_), 0);
        record_ = &into;
    }
    return true;
}

bool LineReader::open_unchanged(const std::string& file_name, const FileFingerprint* expected) {
    if (!open(file_name)) return false;
    if (expected == nullptr) return true;
    expected_ = expected;
    return identity_ == expected->identity &&
           expected->block_sums.size() == FileFingerprint::blocks_of(length_);
}

void LineReader::seek(std::int64_t offset) {
    position_ = std::max<std::int64_t>(offset, 0);
    // The next read starts at the block that holds the offset, so that it reads whole blocks.
    buffer_offset_ = position_ - position_ % static_cast<std::int64_t>(BLOCK_BYTES);
    buffer_length_ = 0;
}

// The reading ends here, as at the end of the file.
void LineReader::fail() {
    failed_ = true;
    length_ = position_;
}

// Reads `size` bytes at `offset` (a block boundary) in full; false when the file ends first or a
// read fails.
bool LineReader::read_blocks(std::int64_t offset, char* to, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        if (line_reader_read_hook != nullptr) line_reader_read_hook(fd_, offset);
        const ssize_t n = ::pread(fd_, to + got, size - got,
                                  static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// Records or checks the blocks just read at `offset`. A checked read also asks whether the file
// is still the one opened: a change that came while its bytes were read shows in the identity now.
// (A recording needs no such question: any change after its open leaves the file with another
// identity than the one recorded.)
bool LineReader::blocks_as_recorded(std::int64_t offset, const char* data, std::size_t size) {
    const auto first = static_cast<std::size_t>(offset / static_cast<std::int64_t>(BLOCK_BYTES));
    if (record_ != nullptr) {
        for (std::size_t at = 0, block = first; at < size; at += BLOCK_BYTES, ++block) {
            record_->block_sums[block] = block_sum(data + at, std::min(BLOCK_BYTES, size - at));
        }
    }
    if (expected_ == nullptr) return true;
    const std::vector<std::uint64_t>& sums = expected_->block_sums;
    for (std::size_t at = 0, block = first; at < size; at += BLOCK_BYTES, ++block) {
        if (block >= sums.size() ||
            sums[block] != block_sum(data + at, std::min(BLOCK_BYTES, size - at))) {
            return false;
        }
    }
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && identity_of(st) == identity_;
}

// Reads the next whole blocks after the buffered bytes (the buffer is used up), keeping the bytes
// from keep_from on at the front of the buffer. On a read error, a file that became shorter or,
// when checked, one that changed, the reader ends there.
bool LineReader::fill(std::int64_t keep_from) {
    const std::int64_t read_from = buffer_offset_ + static_cast<std::int64_t>(buffer_length_);
    // After a seek nothing is buffered and the read starts before keep_from, at a block boundary.
    const std::int64_t kept_from = std::min(keep_from, read_from);
    const auto kept = static_cast<std::size_t>(read_from - kept_from);
    if (kept > 0) {
        std::memmove(buffer_, buffer_ + (kept_from - buffer_offset_), kept);
    }
    buffer_offset_ = kept_from;
    buffer_length_ = kept;
    // A fetch usually needs a line or two: start small, then read ahead more and more. At most
    // a line's examined part is kept, so there is always room for a block.
    std::size_t room = std::min(BUFFER_BYTES - kept, read_bytes_);
    room -= room % BLOCK_BYTES;
    read_bytes_ = std::min(read_bytes_ * 2, BUFFER_BYTES);
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(room), length_ - read_from));
    char* const to = buffer_ + kept;
    if (wanted == 0 || !read_blocks(read_from, to, wanted) ||
        !blocks_as_recorded(read_from, to, wanted)) {
        fail();
        return false;
    }
    buffer_length_ += wanted;
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
        const std::int64_t buffered_end =
            buffer_offset_ + static_cast<std::int64_t>(buffer_length_);
        if (buffered_end <= position_) {
            if (position_ >= length_ || !make_room(position_ - start)) {
                return line_view(start, position_, long_line);  // the end of the file ends it
            }
            continue;
        }
        const auto ahead = static_cast<std::size_t>(buffered_end - position_);
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
