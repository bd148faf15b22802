#pragma once

// Text pieces of the calibration files. Everything here is independent of the
// program's locale: "." is always the decimal separator and digits are never grouped.

#include "job/Windows1252.h" // the files' code page

#include <QByteArray>
#include <QString>

#include <cstdint>

// The integer in plain digits, with a leading "-" when negative.
QString DecimalInteger(int64_t value);

// The integer filled on the left with spaces to `width` characters; a longer number is
// written whole.
QString RightAligned(int64_t value, int width);

// Fixed-point with exactly `decimals` decimals (0 to 1000), rounded half away from zero
// on the exact decimal value of the double. Every finite double is a finite decimal
// fraction, and that value is the one rounded: 1/128 = 0.0078125 is a true half and
// gives 0.007813, while the double nearest to 1.0000005 lies just below it
// (1.00000049999999996961...) and gives 1.000000. A value that rounds to zero is
// written without a sign. Infinities and NaN give "inf", "-inf" and "nan".
QString FixedDecimals(double value, int decimals);

// The shortest plain decimal with at most `significantDigits` (1 to 17) significant
// digits, as "%.*g" rounds it but never with an exponent: no trailing zeros and no
// decimal point for whole values ("12.5", "5", "0.666666666667").
QString ShortestDecimal(double value, int significantDigits = 12);
