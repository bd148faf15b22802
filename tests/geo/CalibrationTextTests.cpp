// Locale-free numbers of the calibration files.
#include "geo/CalibrationText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>

namespace {

// Expected values: Python's decimal.Decimal(float(literal)) gives the exact value of the
// double, then quantize(..., ROUND_HALF_UP).
TEST(FixedDecimals, RoundsTheExactValueHalfAwayFromZero) {
    const struct {
        double value;
        int decimals;
        const char* expected;
    } table[] = {// Exactly 1/128 and 1/512, true halves: "%.6f" rounds them to even.
                 {0.0078125, 6, "0.007813"},
                 {-0.0078125, 6, "-0.007813"},
                 {0.001953125, 8, "0.00195313"},
                 // A 5 in the seventh place, stored just below it: round(x * 1e6) says up.
                 {0.0000005, 6, "0.000000"},
                 // Stored just above it: rounding half to even of x * 1e6 says down.
                 {2.0000005, 6, "2.000001"},
                 // The carry runs through every digit, away from zero on both sides.
                 {0.9999995, 6, "1.000000"},
                 {-0.9999995, 6, "-1.000000"},
                 // Rounds to zero: written without a sign.
                 {-0.0000004, 6, "0.000000"},
                 {-0.0, 6, "0.000000"},
                 // Other widths and values that are not numbers.
                 {-585000.0, 8, "-585000.00000000"},
                 {2.5, 0, "3"},
                 {INFINITY, 6, "inf"},
                 {-INFINITY, 6, "-inf"},
                 {NAN, 6, "nan"}};
    for (const auto& c : table) {
        EXPECT_EQ(FixedDecimals(c.value, c.decimals).toStdString(), c.expected)
            << std::setprecision(17) << c.value << " to " << c.decimals << " decimals";
    }
}

// The coverages' metres per pixel are checked on the MM1B line; these are shapes no coverage
// gives. Expected values: C's printf("%.12g"), an exponent spelled out in digits.
TEST(ShortestDecimal, TwelveSignificantDigitsWithoutExponent) {
    const struct {
        double value;
        const char* expected;
    } table[] = {{2.0 / 3.0, "0.666666666667"},
                 {0.0001 / 3.0, "0.0000333333333333"},
                 {123456789012345.0, "123456789012000"},
                 {-12.5, "-12.5"},
                 {0.0, "0"},
                 {100.0, "100"},
                 {0.1, "0.1"}};
    for (const auto& c : table) {
        EXPECT_EQ(ShortestDecimal(c.value).toStdString(), c.expected)
            << std::setprecision(17) << c.value;
    }
}

} // namespace
