// Fuzz target: the decimal and integer reading on arbitrary text, against the C library in the
// "C" locale (strtod into a float, strtoll) where both define the same thing.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jobs/numbers.h"
#include "reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const float decimal = read_decimal(text);
    const float expected_decimal = reference::decimal(text);
    if (!(decimal == expected_decimal)) {
        std::fprintf(stderr, "decimal %.9g, model %.9g\n", decimal, expected_decimal);
        std::abort();
    }
    const std::int64_t integer = read_integer(text);
    const std::int64_t expected_integer = reference::integer(text);
    if (integer != expected_integer) {
        std::fprintf(stderr, "integer %lld, model %lld\n", static_cast<long long>(integer),
                     static_cast<long long>(expected_integer));
        std::abort();
    }
    const std::int32_t truncated = truncate_to_int32(decimal);
    if (truncated != reference::truncate(decimal)) std::abort();
    return 0;
}
