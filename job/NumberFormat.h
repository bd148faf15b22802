#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// The integer in groups of three digits with the locale's group separator, always,
// also for four-digit numbers ("2.000" under a Spanish locale).
QString GroupedNumber(int64_t value, const QLocale& locale = QLocale());
