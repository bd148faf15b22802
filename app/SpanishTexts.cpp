#include "app/SpanishTexts.h"

#include "job/NumberFormat.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstring>

namespace {

struct QtText {
    const char* context;
    const char* source;
    const char* spanish;
};

// Texts of Qt that its Spanish translation leaves in English.
constexpr QtText kMissing[] = {
    {"QCommandLineParser", "Displays help on commandline options.",
     "Muestra esta ayuda sobre las opciones."},
    {"QCommandLineParser", "Displays help including Qt specific options.",
     "Muestra la ayuda con las opciones propias de Qt."},
    // The folder dialog's kind column.
    {"QAbstractFileIconProvider", "Folder", "Carpeta"},
    {"QAbstractFileIconProvider", "Drive", "Unidad"},
    {"QAbstractFileIconProvider", "File", "Fichero"},
    {"QAbstractFileIconProvider", "%1 File", "Fichero %1"},
};

class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* source, const char* /*disambiguation*/,
                      int /*n*/) const override {
        for (const QtText& text : kMissing) {
            if (std::strcmp(context, text.context) == 0 && std::strcmp(source, text.source) == 0) {
                return QString::fromUtf8(text.spanish);
            }
        }
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

void UseSpanish(QCoreApplication& app) {
    const QLocale spanish = ProgramLocale();
    QLocale::setDefault(spanish);
    auto* qt = new QTranslator(&app);
    if (qt->load(spanish, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    }
    // Asked first, as the last one installed: it answers only for its own few texts.
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
}
