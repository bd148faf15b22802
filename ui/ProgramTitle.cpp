#include "ui/ProgramTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

QString ProgramTitle() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("Morvel") : name;
}
