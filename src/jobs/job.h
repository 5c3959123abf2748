// job.h - the loaded job and the results of the job-file readers.
// Owns job_state; the readers themselves live in drill_file and plot_file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/file_identity.h"

// Two lengths on purpose: job_length is where the run ends, as the preview scan returned it (the
// completion test compares the fetch position with it; a completed run sets it to 0), while
// file_fingerprint.identity.size is the file as opened, which every fetch compares to notice a
// replaced or edited file and from which a Start after a completed run takes the length anew.
struct JobState {
    std::string job_file_name;      // empty: no job loaded
    std::int32_t job_length = 0;    // bytes, as the preview scan returned it
    std::int32_t job_position = 0;  // byte offset of the next fetch
    std::int32_t pen_state = 0;     // milling: 0 none yet, 6 pen up, 7 pen down
    // The file as the scan at open read it (identity and block checksums; filled at open, never
    // in a pass): a run stops when a fetch finds another file or other bytes.
    FileFingerprint file_fingerprint;
};
extern JobState job_state;

// One drilling fetch: the next hole in whole millimetres.
struct DrillPoint {
    std::int32_t x_mm = 0;
    std::int32_t y_mm = 0;
    std::int32_t next_position = 0;
    bool found = false;    // a hole line was read
    bool readable = true;  // the file could be opened
};

// One milling fetch: the next point in whole millimetres (X already shifted) and its pen state.
struct PlotStep {
    std::int32_t x_mm = 0;
    std::int32_t y_mm = 0;
    std::int32_t pen_state = 0;
    std::int32_t next_position = 0;
    bool found = false;    // a coordinate line was taken as the point
    bool readable = true;  // the file could be opened
};

inline constexpr std::int32_t PEN_NONE = 0;
inline constexpr std::int32_t PEN_UP = 6;
inline constexpr std::int32_t PEN_DOWN = 7;

// Every X read from a milling file is shifted by this many millimetres (pixels in the preview).
inline constexpr std::int32_t PLOT_X_OFFSET_MM = 50;

// File units per millimetre for a scale of 1..100 percent (out-of-range scales are brought
// to the nearest bound first, so the divisor is always 1..100).
constexpr std::int32_t scale_divisor(std::int32_t scale_percent) {
    const std::int32_t s = scale_percent < 1 ? 1 : (scale_percent > 100 ? 100 : scale_percent);
    return 101 - s;
}

// Receivers of what the preview scans report, in pixels.
using HoleSink = std::function<void(std::int32_t x_px, std::int32_t y_px)>;
using SegmentSink = std::function<void(std::int32_t x1_px, std::int32_t y1_px, std::int32_t x2_px,
                                       std::int32_t y2_px)>;

// The file's identity now; its size is -1 when it cannot be opened for reading as a job (missing,
// unreadable, or not a regular file).
FileIdentity job_file_identity(const std::string& file_name);

// Whether a job file of this size fits the run's 32-bit byte offsets; a longer one is refused at
// open.
constexpr bool fits_byte_offsets(std::int64_t size) {
    return size <= INT32_MAX;
}
