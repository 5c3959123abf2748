// output.h - the output files of one conversion, written all or none: each goes to a
// temporary file beside its final name, and only when every one is complete are they moved
// into place together; a failure part way puts back what was there. A file that is the input
// is never written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/files.h"  // same_file

namespace prep {

class OutputSet {
public:
    explicit OutputSet(std::string input_path) : input_(std::move(input_path)) {}
    ~OutputSet();  // removes the temporary files of an unfinished set
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Opens a temporary file for `final_path` (same folder and extension); throws PrepError.
    std::FILE* open(const std::string& final_path);
    // Closes every file, flushed to the disk; throws PrepError naming the file and the cause
    // when a write failed.
    void close_all();
    // close_all, and the checks that moving the files into place can be expected to pass
    // (no output would replace the input or a folder); throws PrepError.
    void prepare();
    // Prepares if need be and moves every file into place; on any failure throws PrepError
    // with every output as it was before.
    void commit();

    const std::vector<std::string>& final_paths() const { return finals_; }
    // The temporary file written for output `i` (for checks run before the commit).
    const std::string& temporary_path(std::size_t i) const { return temps_[i]; }

private:
    std::string input_;
    std::vector<std::string> finals_;
    std::vector<std::string> temps_;
    std::vector<std::FILE*> files_;
};

// "cannot write PATH: REASON" for the system error `error`.
std::string cannot_write(const std::string& path, int error);

}  // namespace prep
