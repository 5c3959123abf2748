// output.h - the output files of one conversion, written all or none: each goes to a
// temporary file beside its final name, and only when every one is complete are they renamed
// into place. A file that is the input is never written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace prep {

class OutputSet {
public:
    explicit OutputSet(std::string input_path) : input_(std::move(input_path)) {}
    ~OutputSet();  // removes the temporary files of an unfinished set
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Opens a temporary file for `final_path` (same folder and extension); throws PrepError.
    std::FILE* open(const std::string& final_path);
    // Closes every file, flushed to the disk; throws PrepError when a write failed.
    void close_all();
    // Closes the files if need be and renames them into place; throws PrepError and leaves
    // no output when any step fails before the first rename.
    void commit();

    const std::vector<std::string>& final_paths() const { return finals_; }
    // The temporary file written for output `i` (for checks run before the commit).
    const std::string& temporary_path(std::size_t i) const { return temps_[i]; }

private:
    std::string input_;
    std::vector<std::string> finals_;
    std::vector<std::string> temps_;
    std::vector<std::FILE*> files_;
    bool committed_ = false;
};

// True when both names lead to the same existing file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace prep
