#pragma once

#include <QDateTime>
#include <QString>

// The stamp in front of each line of a run's event log: day/month/year, one blank and the
// 24-hour time; the date alone at exactly midnight. Fixed rather than taken from the
// system locale, since the rest of the interface is Spanish whatever the locale says.
QString EventStamp(const QDateTime& when);
