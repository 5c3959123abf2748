// Fuzz target: decoding a Param.ini of any size and content, and reading it from disk: values
// are the little-endian words of the first sixty bytes (missing ones 0), and encoding gives
// those bytes back.
#include <cstdlib>
#include <cstring>

#include "app/param_file.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ParamValues values = decode_param_file(data, size);
    std::uint8_t padded[PARAM_FILE_SIZE] = {};
    std::memcpy(padded, data, size < PARAM_FILE_SIZE ? size : PARAM_FILE_SIZE);
    const auto bytes = encode_param_file(values);
    if (std::memcmp(bytes.data(), padded, PARAM_FILE_SIZE) != 0) std::abort();
    for (std::size_t i = 0; i < PARAM_COUNT; ++i) {
        const auto* w = padded + 4 * i;
        const auto word = static_cast<std::uint32_t>(w[0] | w[1] << 8 | w[2] << 16) |
                          static_cast<std::uint32_t>(w[3]) << 24;
        if (values[i] != static_cast<std::int32_t>(word)) std::abort();
    }

    // The same bytes as a file (the first three bytes included: make_fuzz_job strips them, so
    // write the file directly here).
    const FuzzJob job = make_fuzz_job(nullptr, 0);
    FILE* file = std::fopen(job.path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    const auto read = read_param_file(job.path);
    if (!read.has_value() || *read != values) std::abort();
    return 0;
}
