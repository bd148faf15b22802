#include "job/NumberFormat.h"

QLocale ProgramLocale() {
    return QLocale(QLocale::Spanish, QLocale::Spain);
}

QString GroupedNumber(int64_t value) {
    const QLocale locale = ProgramLocale();
    const QString separator = locale.groupSeparator();
    const bool negative = value < 0;
    // Through the unsigned magnitude so that the smallest value has a positive form.
    const uint64_t magnitude =
        negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    const QString digits = QString::number(magnitude);
    QString out;
    const int n = digits.size();
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) {
            out += separator;
        }
        out += digits.at(i);
    }
    return negative ? locale.negativeSign() + out : out;
}
