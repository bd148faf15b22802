#include "tests/geo/DecimalCommaLocale.h"

#include <QProcess>

#include <clocale>

namespace {

constexpr const char* kCandidates[] = {"de_DE.UTF-8", "de_DE.utf8",  "es_ES.UTF-8",
                                       "es_ES.utf8",  "fr_FR.UTF-8", "German_Germany.1252"};

// Digits grouped with "." and decimals after ",", as in Spain or Germany.
class CommaPunct : public std::numpunct<char> {
protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

} // namespace

DecimalCommaLocale::DecimalCommaLocale()
    : savedQtLocale_(QLocale()), savedStdLocale_(std::locale()),
      savedCLocale_(std::setlocale(LC_ALL, nullptr)),
      hadLocPath_(qEnvironmentVariableIsSet("LOCPATH")), savedLocPath_(qgetenv("LOCPATH")) {
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    // An unnamed locale: setting it does not touch the C library's locale.
    std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    cLocaleActive_ = trySetCLocale();
    if (!cLocaleActive_) {
        compiled_ = std::make_unique<QTemporaryDir>();
        // localedef may warn about the source and still make the locale; setlocale tells.
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"),
                           compiled_->filePath(QStringLiteral("de_DE.UTF-8"))});
        qputenv("LOCPATH", compiled_->path().toLocal8Bit());
        cLocaleActive_ = trySetCLocale();
    }
}

DecimalCommaLocale::~DecimalCommaLocale() {
    std::locale::global(savedStdLocale_);
    std::setlocale(LC_ALL, savedCLocale_.c_str());
    if (hadLocPath_) {
        qputenv("LOCPATH", savedLocPath_);
    } else {
        qunsetenv("LOCPATH");
    }
    QLocale::setDefault(savedQtLocale_);
}

bool DecimalCommaLocale::trySetCLocale() {
    for (const char* name : kCandidates) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            return std::localeconv()->decimal_point[0] == ',';
        }
    }
    return false;
}
