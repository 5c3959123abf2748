// numbers.cpp - decimal and integer reading of job-file numbers, and saturating conversions.
#include "jobs/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// White space as the "C" locale's isspace sees it.
bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the exponent digits, saturating far beyond any exponent a double can carry.
std::int64_t exponent_value(std::string_view digits, bool negative) {
    std::int64_t value = 0;
    for (const char c : digits) {
        if (value < 1'000'000'000) value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

}  // namespace

float round_to_float(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude > static_cast<double>(std::numeric_limits<float>::max())) {
        // 0x1.ffffffp127 is halfway between FLT_MAX and 2^128; the tie rounds to even, so up.
        const float big = magnitude >= 0x1.ffffffp127 ? std::numeric_limits<float>::infinity()
                                                      : std::numeric_limits<float>::max();
        return std::signbit(value) ? -big : big;
    }
    return static_cast<float>(value);  // also passes a NaN through
}

float read_decimal(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // Mantissa: digits with an optional point; at least one digit.
    const std::size_t mantissa_begin = i;
    while (i < n && is_digit(text[i])) ++i;
    const std::size_t integer_end = i;
    std::size_t fraction_begin = i;
    if (i < n && text[i] == '.') {
        fraction_begin = ++i;
        while (i < n && is_digit(text[i])) ++i;
    }
    const std::size_t fraction_digits = i - fraction_begin;
    if (integer_end == mantissa_begin && fraction_digits == 0) return 0.0f;
    const std::size_t mantissa_end = i;

    // Exponent: taken only when at least one digit follows "e", its sign included.
    std::int64_t exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool exponent_negative = false;
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            exponent_negative = text[j] == '-';
            ++j;
        }
        const std::size_t digits_begin = j;
        while (j < n && is_digit(text[j])) ++j;
        if (j > digits_begin) {
            exponent =
                exponent_value(text.substr(digits_begin, j - digits_begin), exponent_negative);
            i = j;
        }
    }

    // from_chars is exact and locale-independent; it sees only the text checked above, so it
    // never meets a sign, a hexadecimal prefix or an "inf"/"nan" word.
    double value = 0.0;
    const char* const first = text.data() + mantissa_begin;
    const char* const last = text.data() + i;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Out of the double range: overflow when the first non-zero digit stands at a positive
        // power of ten, underflow otherwise.
        std::int64_t magnitude = 0;
        bool nonzero = false;
        for (std::size_t k = mantissa_begin; k < mantissa_end && !nonzero; ++k) {
            if (text[k] == '.' || text[k] == '0') continue;
            nonzero = true;
            magnitude = k < integer_end ? static_cast<std::int64_t>(integer_end - k - 1)
                                        : -static_cast<std::int64_t>(k - fraction_begin + 1);
        }
        value = nonzero && magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc{} || end != last) {
        value = 0.0;  // not reached: the text was checked to be a decimal number
    }
    return round_to_float(negative ? -value : value);
}

std::int64_t read_integer(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulates the magnitude up to 2^63 (for INT64_MIN) or 2^63 - 1, then stays there.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t magnitude = 0;
    // Eighteen digits cannot reach 2^63: only longer numbers need the saturating loop.
    const std::size_t unchecked_end = std::min(n, i + 18);
    for (; i < unchecked_end && is_digit(text[i]); ++i) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    for (; i < n && is_digit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (!negative) return static_cast<std::int64_t>(magnitude);
    return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                              : -static_cast<std::int64_t>(magnitude);
}

std::int32_t truncate_to_int32(float value) {
    if (!std::isfinite(value)) return 0;
    // Both bounds are exact floats: 2^31 and -2^31.
    if (value >= 2147483648.0f) return INT32_MAX;
    if (value < -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

std::int32_t scaled_pixel(std::int64_t value, std::int32_t divisor, std::int32_t offset) {
    // Bringing the quotient within 2^40 first keeps the sum exact where it matters and free of
    // overflow everywhere.
    constexpr std::int64_t bound = std::int64_t{1} << 40;
    std::int64_t quotient = value / divisor;
    quotient = quotient > bound ? bound : (quotient < -bound ? -bound : quotient);
    return saturate_to_int32(quotient + offset);
}

PixelScale::PixelScale(std::int32_t divisor) : divisor_(divisor) {
    // shift = 31 + ceil(log2 divisor): then magic * divisor exceeds 2^shift by less than
    // 2^(shift - 31), which makes (n * magic) >> shift equal n / divisor for every n < 2^31,
    // and n * magic stays below 2^64.
    int log2_ceiling = 0;
    while ((std::int64_t{1} << log2_ceiling) < divisor) ++log2_ceiling;
    shift_ = 31 + log2_ceiling;
    const auto d = static_cast<std::uint64_t>(divisor);
    magic_ = ((std::uint64_t{1} << shift_) + d - 1) / d;
}
