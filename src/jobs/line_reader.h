// line_reader.h - reads a job file line by line from a byte offset, as the job-file readers
// need it: exact offsets, bounded memory whatever the line length, read-ahead buffering, and
// a file that cannot be read counting as empty instead of blocking. It reads whole aligned
// blocks, so that a scan can record a checksum of each and a fetch can check each against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_identity.h"

// A line ends at CR, LF, CR LF (one terminator of two bytes), NUL or the end of the file; the
// terminator is not part of the line. Of a longer line only its first LINE_LIMIT bytes are
// handed out; the rest is skipped. Holds no heap memory: construct it on the stack.
class LineReader {
public:
    static constexpr std::size_t BUFFER_BYTES = 64 * 1024;
    static constexpr std::size_t FIRST_READ_BYTES = 4096;  // doubled by each later read
    static constexpr std::size_t LINE_LIMIT = 4096;
    static constexpr std::size_t BLOCK_BYTES = FileFingerprint::CHECKED_BLOCK_BYTES;
    static_assert(FIRST_READ_BYTES % BLOCK_BYTES == 0 && BUFFER_BYTES % BLOCK_BYTES == 0);

    LineReader();
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Opens a regular file without ever waiting (a FIFO, device or directory is refused) and
    // takes its length; false when the file cannot be read.
    bool open(const std::string& file_name);

    // open(), and from then on a record of the file into `into`: its identity and the checksum
    // of every block read (reading it from its start to its end records them all). A file too
    // long for a job leaves `into` matching no file.
    bool open_recording(const std::string& file_name, FileFingerprint& into);

    // open(), and false as well when the file is no longer `expected`'s (when given): the check
    // and the reading use one open. Each block read is then checked against `expected`, and the
    // identity again after each read; a difference ends the reading as failed, before any of
    // its bytes are handed out. `expected` must outlive the reader.
    bool open_unchanged(const std::string& file_name, const FileFingerprint* expected);

    // The file as it was when opened (device, inode, size, modification and change times).
    const FileIdentity& identity() const { return identity_; }

    // Length of the file when it was opened; reading never goes past it.
    std::int64_t length() const { return length_; }

    // Offset of the next byte to read: after next_line(), just past the line's terminator.
    std::int64_t position() const { return position_; }

    // True at or past the end of the file (or after a read error).
    bool at_end() const { return position_ >= length_; }

    // True when a read failed, the file turned out shorter than its length at open, or (when
    // checked) it was changed.
    bool failed() const { return failed_; }

    // Moves to a byte offset (0 or more) before the next line is read.
    void seek(std::int64_t offset);

    // Reads the next line and moves past its terminator. At the end of the file the line is
    // empty. The view is valid until the next call.
    std::string_view next_line();

private:
    bool fill(std::int64_t keep_from);
    bool read_blocks(std::int64_t offset, char* to, std::size_t size);
    bool blocks_as_recorded(std::int64_t offset, const char* data, std::size_t size);
    void fail();
    void keep_head(std::int64_t start);
    std::string_view line_view(std::int64_t start, std::int64_t end, bool long_line) const;

    int fd_ = -1;
    bool failed_ = false;
    const FileFingerprint* expected_ = nullptr;  // checked against, when set
    FileFingerprint* record_ = nullptr;          // recorded into, when set
    FileIdentity identity_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    std::int64_t buffer_offset_ = 0;  // file offset of buffer_[0]
    std::size_t buffer_length_ = 0;   // bytes of buffer_ that hold file data; they end on a block
                                      // boundary or at the end of the file
    std::size_t read_bytes_ = FIRST_READ_BYTES;  // size of the next read
    char buffer_[BUFFER_BYTES];
    char head_[LINE_LIMIT];  // the examined part of a line that left buffer_
};

// When set, called with the reader's descriptor just before each read of a file; tests use it to
// change a job file between a fetch's check and its read.
extern void (*line_reader_read_hook)(int fd, std::int64_t offset);
