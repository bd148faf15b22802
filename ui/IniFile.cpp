#include "ui/IniFile.h"

#include "job/BoundedRead.h"
#include "job/WriteError.h"

#include <QSaveFile>
#include <QStringDecoder>

// Bytes only: decoding is done here, and the wide-character half needs a library we lack.
// Debian's header keeps its template bodies behind SI_IMPLEMENTATION; this is the one
// translation unit that uses it.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <array>
#include <cerrno>
#include <limits>
#include <string>

namespace {

// Windows-1252 at 0x80..0x9F; the five places the code page leaves free map to the
// C1 control of the same number, as Windows does. The rest is Latin-1.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromCp1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += QChar(b >= 0x80 && b < 0xA0 ? kCp1252High.at(b - 0x80) : char16_t{b});
    }
    return out;
}

// Line breaks and NUL cannot stand inside a value of a line-based file.
QByteArray StorableBytes(const QString& value) {
    QByteArray bytes = value.toUtf8();
    for (char& c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return bytes;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

} // namespace

struct IniFile::Data {
    // CSimpleIniA compares names without regard to case (CSimpleIniCaseA would not).
    CSimpleIniA ini;
    bool crlf = false;

    Data() {
        ini.SetUnicode(false); // bytes as they stand; decoding is ours
        ini.SetMultiKey(true);
        ini.SetMultiLine(false);
        ini.SetSpaces(false);
        ini.SetQuotes(false);
    }
};

std::optional<int64_t> ParseIniInteger(const QString& text) {
    const QString t = text.trimmed();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    if (t.size() > 2 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")))) {
        int64_t value = 0;
        for (int i = 2; i < t.size(); ++i) {
            const int digit = HexDigit(t.at(i).unicode());
            if (digit < 0) {
                return std::nullopt;
            }
            value = value > (kMax - digit) / 16 ? kMax : value * 16 + digit;
        }
        return value;
    }
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == u'-' || t.at(i) == u'+')) {
        negative = t.at(i) == u'-';
        ++i;
    }
    if (i == t.size()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t.at(i).unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const int digit = c - u'0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

QString DecodeIniValue(const QByteArray& bytes) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        text = FromCp1252(bytes);
    }
    return text;
}

IniFile::IniFile(QString path) : path_(std::move(path)), data_(std::make_unique<Data>()) {
    // Bounded and without waiting: a huge file or a pipe under the name must not hold the
    // program's start. The user's own file may be a link.
    const BoundedRead read = ReadBoundedFile(path_, kMaxFileBytes, LinkPolicy::Follow);
    if (read.refusal == ReadRefusal::TooLarge) {
        readProblem_ = QStringLiteral("ocupa más de %1 MB").arg(kMaxFileBytes / (1024 * 1024));
    } else if (read.refusal == ReadRefusal::NotRegular || read.refusal == ReadRefusal::Unreadable) {
        // Defaults saved over a file that could not be read would lose the user's settings.
        readProblem_ = read.reason();
    }
    // A missing file is an empty one, loaded the same way, so that a key written twice is
    // one key.
    loadFromBytes(read.bytes);
}

IniFile::~IniFile() = default;

void IniFile::loadFromBytes(const QByteArray& contents) {
    data_ = std::make_unique<Data>();
    QByteArray bytes = contents;
    // The parser stops at a NUL byte; a blank keeps what follows readable and saved.
    bytes.replace('\0', ' ');
    data_->crlf = bytes.contains("\r\n");
    data_->ini.LoadData(bytes.constData(), static_cast<size_t>(bytes.size()));
    // Loaded with every duplicate, so that the first is the one read; a write replaces
    // that first value in place, and saving keeps only it.
    data_->ini.SetMultiKey(false);
}

std::optional<QString> IniFile::value(const char* section, const char* key) const {
    const char* raw = data_->ini.GetValue(section, key, nullptr);
    if (raw == nullptr) {
        return std::nullopt;
    }
    QString text = DecodeIniValue(QByteArray(raw));
    if (text.size() > kMaxValueLength) {
        const bool splitsPair = text.at(kMaxValueLength - 1).isHighSurrogate();
        text.truncate(splitsPair ? kMaxValueLength - 1 : kMaxValueLength);
    }
    return text;
}

QString IniFile::readString(const char* section, const char* key, const QString& fallback) const {
    return value(section, key).value_or(fallback);
}

int64_t IniFile::readInteger(const char* section, const char* key, int64_t fallback) const {
    const auto text = value(section, key);
    if (!text) {
        return fallback;
    }
    return ParseIniInteger(*text).value_or(fallback);
}

bool IniFile::readFlag(const char* section, const char* key, bool fallback) const {
    const auto text = value(section, key);
    return text ? *text == QLatin1String("SI") : fallback;
}

void IniFile::writeString(const char* section, const char* key, const QString& value) {
    const QByteArray bytes = StorableBytes(value);
    data_->ini.SetValue(section, key, bytes.constData());
}

void IniFile::writeInteger(const char* section, const char* key, int64_t value) {
    writeString(section, key, QString::number(value));
}

void IniFile::writeFlag(const char* section, const char* key, bool on) {
    writeString(section, key, on ? QStringLiteral("SI") : QStringLiteral("NO"));
}

QByteArray IniFile::contents() const {
    std::string text;
    data_->ini.Save(text, false);
    QByteArray bytes = QByteArray::fromStdString(text);
    // One blank line between sections is enough.
    while (bytes.contains("\n\n\n")) {
        bytes.replace("\n\n\n", "\n\n");
    }
    // A file that came with CR LF line ends keeps them.
    if (data_->crlf) {
        bytes.replace("\r\n", "\n");
        bytes.replace("\n", "\r\n");
    }
    return bytes;
}

bool IniFile::save(QString* error) const {
    // Through QSaveFile, which follows a link: users keep Morvel.ini linked to a copy of
    // their own on purpose, and it is the file linked to that is to change. (The files of a
    // run replace a link instead: see ReplacingFile.)
    QSaveFile file(path_);
    const auto fail = [&file, error](int savedErrno) {
        if (error) {
            *error = DeviceWriteError(file, savedErrno).reason;
        }
        return false;
    };
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(errno);
    }
    const QByteArray bytes = contents();
    // Flushed and checked first: commit() renames the file into place even when the
    // buffered part could not be written.
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const int e = errno;
        file.cancelWriting();
        return fail(e);
    }
    errno = 0;
    return file.commit() || fail(errno);
}
