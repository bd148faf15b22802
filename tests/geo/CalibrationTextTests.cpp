// Locale-free numbers and the single-byte text of the calibration files.
#include "geo/CalibrationText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <ostream>

namespace {

struct FixedCase {
    double value;
    int decimals;
    const char* expected;
};

void PrintTo(const FixedCase& c, std::ostream* os) {
    *os << std::setprecision(17) << c.value << " to " << c.decimals << " decimals";
}

class FixedDecimalsCase : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedDecimalsCase, RoundsTheExactValueHalfAwayFromZero) {
    const FixedCase c = GetParam();
    EXPECT_EQ(FixedDecimals(c.value, c.decimals).toStdString(), c.expected);
}

// Expected values: Python's decimal.Decimal(float(literal)) gives the exact value of the
// double, then quantize(Decimal('0.000001'), ROUND_HALF_UP). The comment on each row says
// what the exact value is and which wrong rounding the row catches.
INSTANTIATE_TEST_SUITE_P(
    SixDecimals, FixedDecimalsCase,
    ::testing::Values(
        // Exactly 1/128, a true half: "%.6f" rounds it to even (0.007812).
        FixedCase{0.0078125, 6, "0.007813"}, FixedCase{-0.0078125, 6, "-0.007813"},
        // 5441/128, a true half with an even kept digit.
        FixedCase{42.5078125, 6, "42.507813"},
        // Written with a 5 in the seventh place but stored just below it
        // (4.99999999999999977e-7, 9.99999949999999948e0): round(x * 1e6) says up.
        FixedCase{0.0000005, 6, "0.000000"}, FixedCase{9.9999995, 6, "9.999999"},
        // Written with a 5 in the seventh place and stored just above it
        // (2.00000050000000006988...): rounding half to even of x * 1e6 says down.
        FixedCase{2.0000005, 6, "2.000001"},
        // Stored just above: the carry runs through every digit.
        FixedCase{0.9999995, 6, "1.000000"}, FixedCase{-0.9999995, 6, "-1.000000"},
        // Negative values round away from zero, like the positive ones.
        FixedCase{-1.9619655, 6, "-1.961966"}, FixedCase{-42.4887875, 6, "-42.488788"},
        // The worked corner (latitude 42.717035516..., longitude -1.961965192...).
        FixedCase{42.717035516048945, 6, "42.717036"},
        FixedCase{-1.9619651923061712, 6, "-1.961965"},
        // Rounds to zero: written without a sign.
        FixedCase{-0.0000004, 6, "0.000000"}, FixedCase{-0.0, 6, "0.000000"},
        FixedCase{0.0, 6, "0.000000"}));

INSTANTIATE_TEST_SUITE_P(EightDecimals, FixedDecimalsCase,
                         ::testing::Values(FixedCase{0.0, 8, "0.00000000"},
                                           FixedCase{4730000.0, 8, "4730000.00000000"},
                                           FixedCase{-585000.0, 8, "-585000.00000000"},
                                           FixedCase{2147483647.0, 8, "2147483647.00000000"},
                                           // 1/512 = 0.001953125, a true half in the ninth place.
                                           FixedCase{0.001953125, 8, "0.00195313"}));

INSTANTIATE_TEST_SUITE_P(WholeNumbers, FixedDecimalsCase,
                         ::testing::Values(FixedCase{2.5, 0, "3"}, FixedCase{-2.5, 0, "-3"},
                                           FixedCase{0.49999999999999994, 0, "0"}));

TEST(FixedDecimals, NonFiniteValues) {
    EXPECT_EQ(FixedDecimals(INFINITY, 6), QStringLiteral("inf"));
    EXPECT_EQ(FixedDecimals(-INFINITY, 6), QStringLiteral("-inf"));
    EXPECT_EQ(FixedDecimals(NAN, 6), QStringLiteral("nan"));
}

struct ShortestCase {
    double value;
    const char* expected;
};

void PrintTo(const ShortestCase& c, std::ostream* os) {
    *os << std::setprecision(17) << c.value;
}

class ShortestDecimalCase : public ::testing::TestWithParam<ShortestCase> {};

TEST_P(ShortestDecimalCase, TwelveSignificantDigitsWithoutExponent) {
    const ShortestCase c = GetParam();
    EXPECT_EQ(ShortestDecimal(c.value).toStdString(), c.expected);
}

// The metres per pixel of every tile coverage (100 to 10000 m over 400 pixels), written
// as the plain quotient.
INSTANTIATE_TEST_SUITE_P(
    Coverages, ShortestDecimalCase,
    ::testing::Values(ShortestCase{100 / 400.0, "0.25"}, ShortestCase{250 / 400.0, "0.625"},
                      ShortestCase{500 / 400.0, "1.25"}, ShortestCase{1000 / 400.0, "2.5"},
                      ShortestCase{2000 / 400.0, "5"}, ShortestCase{4000 / 400.0, "10"},
                      ShortestCase{5000 / 400.0, "12.5"}, ShortestCase{6000 / 400.0, "15"},
                      ShortestCase{8000 / 400.0, "20"}, ShortestCase{10000 / 400.0, "25"}));

// Expected values: C's printf("%.12g"), with an exponent spelled out as plain digits.
INSTANTIATE_TEST_SUITE_P(Others, ShortestDecimalCase,
                         ::testing::Values(ShortestCase{2.0 / 3.0, "0.666666666667"},
                                           ShortestCase{1000.0 / 3.0, "333.333333333"},
                                           ShortestCase{25000.0 / 7.0, "3571.42857143"},
                                           // "%.12g" gives 3.33333333333e-05 and 1.23456789012e+14.
                                           ShortestCase{0.0001 / 3.0, "0.0000333333333333"},
                                           ShortestCase{123456789012345.0, "123456789012000"},
                                           ShortestCase{-12.5, "-12.5"}, ShortestCase{0.0, "0"},
                                           ShortestCase{100.0, "100"}, ShortestCase{0.1, "0.1"}));

TEST(RightAligned, FillsOnTheLeftAndNeverCuts) {
    EXPECT_EQ(RightAligned(0, 5), QStringLiteral("    0"));
    EXPECT_EQ(RightAligned(2000, 5), QStringLiteral(" 2000"));
    EXPECT_EQ(RightAligned(-5, 5), QStringLiteral("   -5"));
    EXPECT_EQ(RightAligned(4730000, 11), QStringLiteral("    4730000"));
    EXPECT_EQ(RightAligned(123456, 5), QStringLiteral("123456"));
    EXPECT_EQ(RightAligned(-2147483648LL, 11), QStringLiteral("-2147483648"));
    EXPECT_EQ(DecimalInteger(-42), QStringLiteral("-42"));
}

TEST(ToWindows1252, KeepsWhatTheCodePageHoldsAndMarksTheRest) {
    // Windows-1252: ASCII and U+00A0..U+00FF as themselves, the euro sign at 0x80, curly
    // quotes at 0x93/0x94, the S caron at 0x8A; Greek and an emoji (one "?" for its two
    // UTF-16 units) are not in the code page.
    const QString text = QStringLiteral("Año ñ é € “x” Š Ω 😀 ~");
    const QByteArray expected("A\xF1o \xF1 \xE9 \x80 \x93x\x94 \x8A ? ? ~");
    EXPECT_EQ(ToWindows1252(text), expected);
}

TEST(ToWindows1252, ControlCodesWithoutACharacterAreNotPassedThrough) {
    // U+0080..U+009F are not characters of the code page; bytes 0x80..0x9F mean others.
    EXPECT_EQ(ToWindows1252(QString(QChar(0x0080))), QByteArray("?"));
    EXPECT_EQ(ToWindows1252(QString(QChar(0x009F))), QByteArray("?"));
    EXPECT_EQ(ToWindows1252(QStringLiteral("a\r\n")), QByteArray("a\r\n"));
}

} // namespace
