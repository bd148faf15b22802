#include "geo/CalibrationText.h"

#include <QList>

#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace {

// The most fractional digits the exact decimal value of a double can have (the
// smallest subnormal is 2^-1074), and room for the integer part of the largest one.
constexpr int kExactFractionDigits = 1074;
constexpr int kExactBufferSize = 310 + 1 + kExactFractionDigits + 8;

QString NonFinite(double value) {
    if (std::isnan(value)) {
        return QStringLiteral("nan");
    }
    return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
}

// Adds one unit in the last place to a string of decimal digits.
void IncrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

QString DecimalInteger(int64_t value) {
    std::array<char, 24> buf{};
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    return QString::fromLatin1(buf.data(), static_cast<int>(result.ptr - buf.data()));
}

QString RightAligned(int64_t value, int width) {
    const QString digits = DecimalInteger(value);
    if (digits.size() >= width) {
        return digits;
    }
    return QString(width - digits.size(), u' ') + digits;
}

QString FixedDecimals(double value, int decimals) {
    if (!std::isfinite(value)) {
        return NonFinite(value);
    }
    // With every fractional digit of the exact value written no rounding takes place,
    // so the digits below are the true ones.
    std::array<char, kExactBufferSize> buf{};
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                      std::chars_format::fixed, kExactFractionDigits);
    const std::string exact(buf.data(), result.ptr);
    const std::size_t point = exact.find('.');

    std::string digits = exact.substr(0, point) + exact.substr(point + 1, decimals);
    const char next = exact.at(point + 1 + decimals);
    // Half away from zero: the magnitude goes up when the dropped part is at least half a
    // unit of the last kept decimal, which the first dropped digit alone decides.
    if (next >= '5') {
        IncrementDigits(digits);
    }
    const std::size_t integerDigits = digits.size() - static_cast<std::size_t>(decimals);
    std::string text = digits.substr(0, integerDigits);
    if (decimals > 0) {
        text += '.';
        text += digits.substr(integerDigits);
    }
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    if (value < 0 && !zero) {
        text.insert(text.begin(), '-');
    }
    return QString::fromLatin1(text.data(), static_cast<int>(text.size()));
}

QString ShortestDecimal(double value, int significantDigits) {
    if (!std::isfinite(value)) {
        return NonFinite(value);
    }
    // Scientific form first: it rounds to the wanted number of significant digits
    // whatever the magnitude; the exponent then places the decimal point.
    std::array<char, 64> buf{};
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                      std::chars_format::scientific, significantDigits - 1);
    const std::string sci(buf.data(), result.ptr);
    const std::size_t e = sci.find('e');
    std::string digits;
    for (std::size_t i = 0; i < e; ++i) {
        if (sci[i] != '.') {
            digits += sci[i];
        }
    }
    int exponent = 0;
    std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                    exponent);

    const std::size_t last = digits.find_last_not_of('0');
    if (last == std::string::npos) {
        return QStringLiteral("0");
    }
    digits.erase(last + 1);

    // Digits before the decimal point.
    const int before = exponent + 1;
    const int count = static_cast<int>(digits.size());
    std::string text;
    if (before <= 0) {
        text = "0." + std::string(static_cast<std::size_t>(-before), '0') + digits;
    } else if (before >= count) {
        text = digits + std::string(static_cast<std::size_t>(before - count), '0');
    } else {
        text = digits.substr(0, before) + '.' + digits.substr(before);
    }
    if (value < 0) {
        text.insert(text.begin(), '-');
    }
    return QString::fromLatin1(text.data(), static_cast<int>(text.size()));
}
