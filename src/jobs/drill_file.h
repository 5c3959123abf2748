// drill_file.h - the two readers of drilling files: the whole-file preview scan and the fetch
// of the next hole from a byte offset. Neither shows a message; a file that cannot be opened
// reads as empty.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/job.h"

// Reads the whole file, hands each hole (capital "X" lines) to `sink` as a pixel position and
// returns the file length in bytes. With `record`, what it read is recorded there for the
// fetches.
std::int32_t scan_drill_preview(const std::string& file_name, std::int32_t scale_percent,
                                const HoleSink& sink, FileFingerprint* record = nullptr);

// Reads from `position` to the next hole line and returns it in whole millimetres. With
// `expected`, a file that is no longer the one recorded (replaced, changed in size or times, or
// holding other bytes where it reads) reads as unreadable.
DrillPoint fetch_drill_point(const std::string& file_name, std::int32_t scale_percent,
                             std::int32_t position, const FileFingerprint* expected = nullptr);
