// plot_file.h - the two readers of milling (plot) files: the whole-file preview scan of the
// pen-down strokes and the fetch of the next point with its pen state. Neither shows a message;
// a file that cannot be opened reads as empty.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/job.h"

// Reads the whole file, hands each pen-down segment to `sink` as (point just read, previous
// point) in pixels, and returns the file length in bytes. With `record`, what it read is
// recorded there for the fetches. With `several_commands`, also tells whether some line holds
// more than one command (text after its first ";"), as a raw CAD export does: the controller
// reads one command a line.
std::int32_t scan_plot_preview(const std::string& file_name, std::int32_t scale_percent,
                               const SegmentSink& sink, FileFingerprint* record = nullptr,
                               bool* several_commands = nullptr);

// Reads from `position`, carrying `pen_state`, to the next point. With `expected`, a file that
// is no longer the one recorded (replaced, changed in size or times, or holding other bytes
// where it reads) reads as unreadable.
PlotStep fetch_plot_step(const std::string& file_name, std::int32_t scale_percent,
                         std::int32_t pen_state, std::int32_t position,
                         const FileFingerprint* expected = nullptr);
