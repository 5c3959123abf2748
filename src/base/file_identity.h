// file_identity.h - what makes a job file the file that was opened: the same file (device and
// inode), the same size, the same modification time and the same status-change time (which no
// user can set back, so an edit whose modification time was restored still shows), and the
// bytes the scan at open read, as one checksum per block. A run compares them on every fetch,
// so a job replaced or edited under the run is noticed even at the same length.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;  // -1: no readable file
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;  // status change: set by the kernel on every write or utime

    bool operator==(const FileIdentity&) const = default;
};

inline FileIdentity identity_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

// The file as one scan read it: its identity when opened and a checksum of each aligned block
// of CHECKED_BLOCK_BYTES (the last one partial). The fetches of a run read only bytes that match.
struct FileFingerprint {
    static constexpr std::size_t CHECKED_BLOCK_BYTES = 4096;

    FileIdentity identity;                  // size -1: nothing recorded, matches no file
    std::vector<std::uint64_t> block_sums;  // 8 bytes per 4 KB: 4 MiB for a 2 GiB job

    // Blocks of a file of `size` bytes.
    static std::size_t blocks_of(std::int64_t size) {
        return size <= 0 ? 0
                         : static_cast<std::size_t>((size + CHECKED_BLOCK_BYTES - 1) /
                                                    CHECKED_BLOCK_BYTES);
    }
};
