// numbers.h - the number reading of the job-file readers: the fetches' decimal reading (like a
// C atof into a float, but independent of the locale) and the preview scans' integer reading,
// with the saturating conversions to int32 that both need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/helpers.h"  // saturate_to_int32

// Reads the decimal number at the start of `text` the way atof does in the "C" locale:
// optional white space (space, \t, \n, \v, \f, \r), an optional sign, digits with an optional
// point, an optional exponent (e or E, optional sign, at least one digit). Reading stops at the
// first other character; a text that does not start with a number gives 0. No hexadecimal and
// no "inf"/"nan" words. The value is rounded to double, then to float; a value too large for
// a float gives an infinity.
float read_decimal(std::string_view text);

// Rounds a double to float as a C conversion does, but defined for every value: beyond the
// float range it gives FLT_MAX or an infinity as round-to-nearest says.
float round_to_float(double value);

// Reads the integer at the start of `text`: optional blanks or tabs, an optional sign, then
// decimal digits up to the first other character; no digits give 0. Saturates at the int64
// bounds.
std::int64_t read_integer(std::string_view text);

// Truncates toward zero to int32: not finite gives 0, beyond the int32 range saturates.
std::int32_t truncate_to_int32(float value);

// The preview's pixel for a file number: value / divisor truncating toward zero, plus offset,
// saturated to int32. The divisor is 1..100.
std::int32_t scaled_pixel(std::int64_t value, std::int32_t divisor, std::int32_t offset = 0);

// scaled_pixel for one divisor, many values: the scans' hot path divides by a multiplication.
class PixelScale {
public:
    explicit PixelScale(std::int32_t divisor);
    std::int32_t operator()(std::int64_t value, std::int32_t offset = 0) const {
        constexpr std::int64_t fast_limit = std::int64_t{1} << 31;
        if (value <= -fast_limit || value >= fast_limit)
            return scaled_pixel(value, divisor_, offset);
        const auto magnitude = static_cast<std::uint64_t>(value < 0 ? -value : value);
        const auto quotient = static_cast<std::int64_t>((magnitude * magic_) >> shift_);
        return saturate_to_int32((value < 0 ? -quotient : quotient) + offset);
    }

private:
    std::int32_t divisor_;
    std::uint64_t magic_;  // ceil(2^shift / divisor): exact for magnitudes below 2^31
    int shift_;
};
