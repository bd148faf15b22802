#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// An INI file read and written key by key. Section and key names match without regard to
// case. Values are read as UTF-8 when they are valid UTF-8, otherwise as Windows-1252 (files
// of earlier versions), and are written as UTF-8. Saving replaces the file atomically and
// keeps its other sections, keys and comments in their places.
class IniFile {
public:
    // Longest value taken from the file; a longer one is cut.
    static constexpr int kMaxValueLength = 2047;
    // Largest file read: settings are a few hundred bytes.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    // Reads `path` now; a missing file reads as empty, and so does one that fails to read,
    // is too large or is no regular file (see readProblem()).
    explicit IniFile(QString path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Parses `contents` as the file's text instead of reading the file.
    void loadFromBytes(const QByteArray& contents);

    const QString& path() const { return path_; }
    // Why a file that is there was not read ("ocupa más de 1 MB"); empty when it was read,
    // or is missing or unreadable.
    QString readProblem() const { return readProblem_; }

    // The value, decoded and cut, or nothing when the key is missing.
    std::optional<QString> value(const char* section, const char* key) const;
    QString readString(const char* section, const char* key, const QString& fallback) const;
    // A whole number in decimal or, after "0x", in hexadecimal; a text that is no whole
    // number gives `fallback`. Numbers beyond 64 bits saturate: they are whole numbers.
    int64_t readInteger(const char* section, const char* key, int64_t fallback) const;
    // Only the exact text "SI" is on; a missing key gives `fallback`.
    bool readFlag(const char* section, const char* key, bool fallback) const;

    void writeString(const char* section, const char* key, const QString& value);
    void writeInteger(const char* section, const char* key, int64_t value);
    void writeFlag(const char* section, const char* key, bool on);

    // The file's text as save() would write it.
    QByteArray contents() const;
    // Writes the file through a temporary file in the same folder; false, with the
    // reason in `error`, when that fails, leaving the old file as it was.
    bool save(QString* error = nullptr) const;

private:
    struct Data;
    QString path_;
    QString readProblem_;
    std::unique_ptr<Data> data_;
};

// Reads a value as an integer as the settings file expects (see readInteger); nothing
// when it is no whole number.
std::optional<int64_t> ParseIniInteger(const QString& text);

// The text of a stored value: UTF-8 when valid, otherwise Windows-1252.
QString DecodeIniValue(const QByteArray& bytes);
