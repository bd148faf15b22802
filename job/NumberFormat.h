#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// The program speaks Spanish whatever the system's locale: its numbers, and Qt's own
// texts and formats, are those of Spanish of Spain.
QLocale ProgramLocale();

// The integer in groups of three digits separated by points, the Spanish way, always,
// also for four-digit numbers ("2.000") and whatever the system's locale.
QString GroupedNumber(int64_t value);
