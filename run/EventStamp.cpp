#include "run/EventStamp.h"

QString EventStamp(const QDateTime& when) {
    const QString date = when.toString(QStringLiteral("dd/MM/yyyy"));
    const QTime t = when.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0) {
        return date;
    }
    return date + u' ' + when.toString(QStringLiteral("HH:mm:ss"));
}
