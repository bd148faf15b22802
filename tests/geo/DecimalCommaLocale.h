#pragma once

#include <QLocale>
#include <QTemporaryDir>

#include <locale>
#include <memory>
#include <string>

// Puts the whole process under a locale that writes decimals with a comma: Qt's default
// locale, the C++ global locale and the C library's locale. When the system has no such
// C locale compiled, one is compiled into a temporary folder with localedef. Everything is
// put back as it was when the object goes.
class DecimalCommaLocale {
public:
    DecimalCommaLocale();
    ~DecimalCommaLocale();
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    // False when the C library could not be switched (no locale and no way to make one).
    bool cLocaleActive() const { return cLocaleActive_; }

private:
    bool trySetCLocale();

    QLocale savedQtLocale_;
    std::locale savedStdLocale_;
    std::string savedCLocale_;
    bool hadLocPath_ = false;
    QByteArray savedLocPath_;
    std::unique_ptr<QTemporaryDir> compiled_;
    bool cLocaleActive_ = false;
};
