// Tests of the number reading of job files: the fetches' decimal reading, the preview scans'
// integer reading and the saturating conversions.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "jobs/line_reader.h"
#include "jobs/numbers.h"

namespace {

constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float FLT_TOP = std::numeric_limits<float>::max();

TEST(ReadDecimal, ReadsLikeAtofIntoAFloat) {
    struct Case {
        std::string text;
        float expected;
    };
    const std::vector<Case> cases = {
        {"12.7", 12.7f},
        {"  -3.5e2xyz", -350.0f},
        {"\t\v\f\r\n 7", 7.0f},
        {"+.5", 0.5f},
        {"5.", 5.0f},
        {"0127", 127.0f},
        {"1E-2", 0.01f},
        {"1e+3", 1000.0f},
        {"12AB", 12.0f},
        // An exponent without digits is not part of the number.
        {"1e", 1.0f},
        {"1e+", 1.0f},
        {"2E-x", 2.0f},
        // Not numbers: no digits, hexadecimal, words, a sign or point alone.
        {"", 0.0f},
        {".", 0.0f},
        {"-", 0.0f},
        {"e5", 0.0f},
        {"0x10", 0.0f},
        {"inf", 0.0f},
        {"-infinity", 0.0f},
        {"nan", 0.0f},
        {"X5", 0.0f},
        {"- 5", 0.0f},
        // Beyond the float range, and far beyond the double range.
        {"3.4028235e38", FLT_TOP},
        {"3.40282356e38", FLT_TOP},  // just below the halfway point to 2^128
        {"3.40282357e38", INF},
        {"1e39", INF},
        {"-1e39", -INF},
        {"1e400", INF},
        {"1e99999999999999999999", INF},
        {"1e-400", 0.0f},
        {"0e99999999999", 0.0f},
        {"0.000000000000000000000000000000000000000000000000000000001e99999", INF},
        {"1234567890123456789012345678901234567890", INF},
        {"0.1234567890123456789012345678901234567890", 0.12345679f},
        {"1.5e-45", 1.4e-45f},  // a float denormal
        // Rounded to double first, then to float (just above a float halfway point, but within
        // half a double unit of it: the tie then goes to even).
        {"1.0000000596046447755", 1.0f},
        {"1.0000000596046448", 1.0f},
        {"1.0000000596046449", 1.00000012f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_decimal(c.text), c.expected) << c.text;
    }
}

TEST(ReadDecimal, HugeDigitStringsAreExact) {
    const std::string ones(4000, '1');
    EXPECT_EQ(read_decimal(ones + "e-3990"), 1111111111.1111111f);
    EXPECT_EQ(read_decimal("0." + std::string(3000, '0') + "5e3001"), 5.0f);
    EXPECT_EQ(read_decimal(std::string(4000, '9')), INF);
}

// A process whose locale writes "," as the decimal point still reads "12.7" as 12.7.
TEST(ReadDecimal, IgnoresTheProcessLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const char* comma_locale = nullptr;
    for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8",
                             "fr_FR.UTF-8", "ru_RU.CP1251"}) {
        if (std::setlocale(LC_ALL, name) != nullptr &&
            std::string(std::localeconv()->decimal_point) == ",") {
            comma_locale = name;
            break;
        }
    }
    if (comma_locale == nullptr) {
        std::setlocale(LC_ALL, before.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const float value = read_decimal("12.7");
    const float comma = read_decimal("12,7");
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(value, 12.7f) << comma_locale;
    EXPECT_EQ(comma, 12.0f) << comma_locale;
}

TEST(ReadInteger, ReadsDigitsAndSaturates) {
    constexpr std::int64_t top = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t bottom = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::string text;
        std::int64_t expected;
    };
    const std::vector<Case> cases = {
        {"400", 400},
        {" \t-12.7", -12},
        {"+5x", 5},
        {"1e400", 1},
        {"", 0},
        {"-", 0},
        {"abc", 0},
        {"\v5", 0},  // only blanks and tabs are skipped
        {"9223372036854775807", top},
        {"9223372036854775808", top},
        {"-9223372036854775808", bottom},
        {"-9223372036854775809", bottom},
        {"1234567890123456789012345678901234567890", top},
        {"-1234567890123456789012345678901234567890", bottom},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_integer(c.text), c.expected) << c.text;
    }
}

TEST(Conversions, TruncateAndSaturateToInt32) {
    struct Case {
        float value;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        {12.7f, 12},
        {-0.5f, 0},
        {-12.7f, -12},
        {2147483520.0f, 2147483520},  // the largest float below 2^31
        {2147483648.0f, INT32_MAX},
        {-2147483648.0f, INT32_MIN},
        {-2147483904.0f, INT32_MIN},
        {1e30f, INT32_MAX},
        {-1e30f, INT32_MIN},
        {INF, 0},
        {-INF, 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(truncate_to_int32(c.value), c.expected) << c.value;
    }
    EXPECT_EQ(round_to_float(1e300), INF);
    EXPECT_EQ(round_to_float(-1e300), -INF);
    EXPECT_EQ(round_to_float(0x1.fffffefp127), FLT_TOP);
    EXPECT_EQ(round_to_float(0x1.ffffffp127), INF);  // halfway rounds to even
}

TEST(Conversions, ScaledPixelTruncatesTowardZeroAndSaturates) {
    constexpr std::int64_t top = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t bottom = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::int64_t value;
        std::int32_t divisor;
        std::int32_t offset;
        std::int32_t pixel;
    };
    const Case cases[] = {
        {-20, 40, 50, 50},
        {-40, 40, 50, 49},
        {199, 10, 0, 19},
        {-199, 10, 0, -19},
        {top, 1, 50, INT32_MAX},
        {bottom, 1, 50, INT32_MIN},
        {top, 100, 0, INT32_MAX},
        {INT32_MAX - 50LL, 1, 50, INT32_MAX},
        {INT32_MAX - 49LL, 1, 50, INT32_MAX},
        {INT32_MIN - 50LL, 1, 50, INT32_MIN},
        {INT32_MIN - 51LL, 1, 50, INT32_MIN},
        {INT32_MIN - 49LL, 1, 50, INT32_MIN + 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scaled_pixel(c.value, c.divisor, c.offset), c.pixel)
            << c.value << " / " << c.divisor << " + " << c.offset;
    }
}

// The multiplying divider of the scans agrees with plain division for every divisor, at the
// edges of its fast range and beyond it.
TEST(Conversions, PixelScaleAgreesWithDivision) {
    const std::int64_t edge = std::int64_t{1} << 31;
    const std::vector<std::int64_t> values = {
        0,         1,         -1,         7,     99,   100,      101,       12345,     -12345,
        edge - 1,  -edge + 1, edge - 100, -edge, edge, edge + 1, -edge - 1, 1LL << 40, -(1LL << 40),
        INT64_MAX, INT64_MIN};
    for (std::int32_t divisor = 1; divisor <= 100; ++divisor) {
        const PixelScale pixel(divisor);
        for (std::int64_t v : values) {
            for (std::int64_t near = -2; near <= 2; ++near) {
                const std::int64_t value =
                    (v > INT64_MAX - 2 || v < INT64_MIN + 2) ? v : v + near * divisor + near;
                EXPECT_EQ(pixel(value), scaled_pixel(value, divisor)) << value << " / " << divisor;
                EXPECT_EQ(pixel(value, 50), scaled_pixel(value, divisor, 50))
                    << value << " / " << divisor;
            }
        }
    }
}

}  // namespace
