// numbers.h - the number reading of the job-file readers: the fetches' decimal reading (like a
// C atof into a float, but independent of the locale) and the preview scans' integer reading,
// with the saturating conversions to int32 that both need.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Reads an optional sign and 1 to 18 decimal digits at `p` (no blanks before them): the common
// form of a number, read without any overflow check. On success moves `p` past the digits;
// false (and `p` unchanged) when the text is not of that form.
inline bool read_short_integer(const char*& p, const char* end, std::int64_t& value) {
    const char* q = p;
    const bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) ++q;
    const char* const digits = q;
    const char* const stop = end - q > 18 ? q + 18 : end;
    std::int64_t magnitude = 0;
    for (; q < stop && *q >= '0' && *q <= '9'; ++q) magnitude = magnitude * 10 + (*q - '0');
    if (q == digits || (q < end && *q >= '0' && *q <= '9')) return false;
    value = negative ? -magnitude : magnitude;
    p = q;
    return true;
}

// read_short_integer for text followed by at least 16 readable bytes (a line view of
// LineReader): finds the digits eight bytes at a time, without a branch per digit.
[[gnu::always_inline]] inline bool read_short_integer_padded(const char*& p, const char* end,
                                                             std::int64_t& value) {
    const char* q = p;
    const bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) ++q;
    std::uint64_t word;
    std::memcpy(&word, q, 8);
    if constexpr (std::endian::native != std::endian::little) {
        return read_short_integer(p, end, value);
    }
    // Each byte less '0': a digit becomes 0..9; the lowest byte flagged in `other` is exactly
    // the first non-digit (a borrow or carry only ever starts at a non-digit and runs upward).
    const std::uint64_t digits = word - 0x3030303030303030u;
    const std::uint64_t other = (digits | (digits + 0x7676767676767676u)) & 0x8080808080808080u;
    const auto length =
        std::min<std::ptrdiff_t>(other == 0 ? 8 : std::countr_zero(other) >> 3, end - q);
    if (length == 8) return read_short_integer(p, end, value);  // long: the plain loop
    if (length <= 0) return false;
    // Shifts the digits to the top bytes behind leading zeros, then adds pairs, fours, eights.
    std::uint64_t v = digits << (8 * (8 - length));
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;
    const auto magnitude = static_cast<std::int64_t>(v);
    value = negative ? -magnitude : magnitude;
    p = q + length;
    return true;
}

// The two numbers of a usual coordinate line, read straight from a line view starting at the
// first number: that number, any text up to the first `separator_a` or `separator_b`, then the
// second number (0 when there is no separator). False when the line needs the general reading:
// a number missing where one is expected, or a `joiner` letter after a number (removing it
// could join the digits around it).
inline bool read_number_pair_padded(const char* p, const char* end, char joiner, char separator_a,
                                    char separator_b, std::int64_t& x, std::int64_t& y) {
    if (!read_short_integer_padded(p, end, x)) return false;
    while (p < end && *p != separator_a && *p != separator_b) {
        if (*p == joiner) return false;
        ++p;
    }
    if (p == end) {
        y = 0;
        return true;
    }
    ++p;
    if (!read_short_integer_padded(p, end, y)) return false;
    return p == end || *p != joiner;
}

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
