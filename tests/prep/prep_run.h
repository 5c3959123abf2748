// prep_run.h - cncmirel-prep run in-process from its command line for the tests, with its
// standard output and error caught, and the small file helpers the tests read its results with.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "prep.h"

namespace prep::testing_support {

inline std::string data(const std::string& name) {
    return std::string(PREP_DATA) + "/" + name;
}

inline std::string read_stream(std::FILE* f) {
    std::rewind(f);
    std::string text;
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) text.append(block, n);
    return text;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Result {
    int status = -1;
    std::string out, err;
};

inline Result run(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Result r;
    r.status = run_command_line(args, out, err);
    r.out = read_stream(out);
    r.err = read_stream(err);
    std::fclose(out);
    std::fclose(err);
    return r;
}

}  // namespace prep::testing_support
