#include "job/PlaceText.h"

#include <QRegularExpression>

#include <cmath>
#include <vector>

namespace {

// Eastings of a UTM zone lie within these, whatever the latitude.
constexpr double kLowestEasting = 100000.0;
constexpr double kHighestEasting = 900000.0;
// The map's zone, and the latitude bands of Spain in it; N is also how some devices write
// the northern hemisphere.
constexpr int kZone = 30;
const QString kBands = QStringLiteral("STN");

enum class Tok { Number, Degrees, Minutes, Seconds, Hemisphere, Separator };

struct Token {
    Tok type;
    double value = 0.0;    // Number: its magnitude
    bool negative = false; // Number: a sign before it
    bool fraction = false; // Number: it has decimals
    // Number: one group of three digits after a point ("603.466"), which may be decimals or
    // thousands; which, the pair decides. Its value as thousands:
    bool mayBeGrouped = false;
    double groupedValue = 0.0;
    char hemisphere = 0; // 'N', 'S', 'E' or 'W'
};

// What one half of the text says: a coordinate.
struct Half {
    double value = 0.0; // signed, hemisphere not yet applied
    char hemisphere = 0;
    bool negative = false;
    bool plain = false; // one number without marks nor letter
    // A plain half's value read with its point as a thousands separator.
    bool mayBeGrouped = false;
    double groupedValue = 0.0;
};

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

std::optional<Tok> MarkOf(QChar c) {
    switch (c.unicode()) {
    case u'°':
    case u'º':
    case u'˚':
        return Tok::Degrees;
    case u'\'':
    case u'′':
    case u'’':
    case u'´':
        return Tok::Minutes;
    case u'"':
    case u'″':
    case u'”':
        return Tok::Seconds;
    default:
        return std::nullopt;
    }
}

char HemisphereOf(QChar c) {
    switch (c.toUpper().unicode()) {
    case u'N':
        return 'N';
    case u'S':
        return 'S';
    case u'E':
        return 'E';
    case u'W':
    case u'O': // oeste
        return 'W';
    default:
        return 0;
    }
}

bool Tokenize(QString text, std::vector<Token>* out, QString* error) {
    text.replace(QStringLiteral("''"), QStringLiteral("\""));
    const int n = text.size();
    int i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        const bool sign = c == u'-' || c == u'+' || c == u'−';
        if (sign || IsDigit(c) || c == u'.') {
            Token t{Tok::Number};
            t.negative = c == u'-' || c == u'−';
            int j = sign ? i + 1 : i;
            // Thousands grouped with points, as Spanish writes metres: "4.732.636".
            static const QRegularExpression kGrouped(QStringLiteral("\\d{1,3}(\\.\\d{3})+(?!\\d)"));
            const QRegularExpressionMatch grouped =
                kGrouped.match(text, j, QRegularExpression::NormalMatch,
                               QRegularExpression::AnchorAtOffsetMatchOption);
            if (grouped.hasMatch()) {
                const QString whole = grouped.captured(0);
                t.groupedValue = QString(whole).remove(u'.').toDouble();
                if (whole.count(u'.') > 1) {
                    t.value = t.groupedValue;
                    out->push_back(t);
                    i = j + static_cast<int>(whole.size());
                    continue;
                }
                t.mayBeGrouped = true;
            }
            QString digits;
            while (j < n) {
                const QChar d = text.at(j);
                if (IsDigit(d)) {
                    digits += d;
                } else if ((d == u'.' || d == u',') && !t.fraction && j + 1 < n &&
                           IsDigit(text.at(j + 1)) && (d == u'.' || !digits.isEmpty())) {
                    // A comma between digits is a decimal comma, unless the number
                    // already has its decimals: then it parts the two coordinates.
                    t.fraction = true;
                    digits += u'.';
                } else {
                    break;
                }
                ++j;
            }
            bool ok = false;
            t.value = digits.toDouble(&ok);
            if (!ok || digits.count(u'.') == digits.size()) {
                *error = QStringLiteral("número incompleto");
                return false;
            }
            out->push_back(t);
            i = j;
            continue;
        }
        if (const auto mark = MarkOf(c)) {
            out->push_back(Token{*mark});
        } else if (const char h = HemisphereOf(c)) {
            Token t{Tok::Hemisphere};
            t.hemisphere = h;
            out->push_back(t);
        } else if (c == u',' || c == u';') {
            out->push_back(Token{Tok::Separator});
        } else {
            *error = QStringLiteral("no se entiende «%1»").arg(c);
            return false;
        }
        ++i;
    }
    return true;
}

int CountOf(const std::vector<Token>& tokens, Tok type) {
    int count = 0;
    for (const Token& t : tokens) {
        count += t.type == type ? 1 : 0;
    }
    return count;
}

// Where the second coordinate begins; -1 when the text does not say.
int SplitPoint(const std::vector<Token>& tokens, int* dropped) {
    const int n = static_cast<int>(tokens.size());
    *dropped = 0;
    for (int i = 0; i < n; ++i) {
        if (tokens[i].type == Tok::Separator) {
            *dropped = 1;
            return i;
        }
    }
    if (CountOf(tokens, Tok::Hemisphere) == 2) {
        // Letters in front of the numbers ("N 42 W 1") or behind them ("42 N 1 W").
        int seen = 0;
        for (int i = 0; i < n; ++i) {
            if (tokens[i].type != Tok::Hemisphere) {
                continue;
            }
            ++seen;
            if (tokens.front().type == Tok::Hemisphere && seen == 2) {
                return i;
            }
            if (tokens.front().type != Tok::Hemisphere && seen == 1) {
                return i + 1;
            }
        }
    }
    // Degree marks: the second coordinate begins at the second number marked so.
    int marked = 0;
    for (int i = 0; i + 1 < n; ++i) {
        if (tokens[i].type == Tok::Number && tokens[i + 1].type == Tok::Degrees && ++marked == 2) {
            return i;
        }
    }
    if (marked == 0 && CountOf(tokens, Tok::Number) == 2 && n == 2) {
        return 1;
    }
    return -1;
}

bool ReadHalf(std::vector<Token> tokens, Half* half, QString* error) {
    if (!tokens.empty() && tokens.front().type == Tok::Hemisphere) {
        half->hemisphere = tokens.front().hemisphere;
        tokens.erase(tokens.begin());
    }
    if (!tokens.empty() && tokens.back().type == Tok::Hemisphere) {
        if (half->hemisphere != 0) {
            *error = QStringLiteral("dos letras de hemisferio en una coordenada");
            return false;
        }
        half->hemisphere = tokens.back().hemisphere;
        tokens.pop_back();
    }
    // Up to three numbers: degrees, minutes, seconds, each with its own mark or none.
    constexpr Tok kMarks[] = {Tok::Degrees, Tok::Minutes, Tok::Seconds};
    std::vector<Token> parts;
    bool anyMark = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.type != Tok::Number || parts.size() == 3) {
            *error = t.type == Tok::Hemisphere
                         ? QStringLiteral("letra de hemisferio fuera de su sitio")
                         : QStringLiteral("sobran números o signos");
            return false;
        }
        if (i + 1 < tokens.size() && tokens[i + 1].type != Tok::Number) {
            if (tokens[i + 1].type != kMarks[parts.size()]) {
                *error = QStringLiteral("grados, minutos y segundos desordenados");
                return false;
            }
            anyMark = true;
            ++i;
        }
        parts.push_back(t);
    }
    if (parts.empty()) {
        *error = QStringLiteral("falta una coordenada");
        return false;
    }
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k > 0 && parts[k].negative) {
            *error = QStringLiteral("signo en los minutos o segundos");
            return false;
        }
        if (k + 1 < parts.size() && parts[k].fraction) {
            *error = QStringLiteral("decimales antes de los minutos o segundos");
            return false;
        }
        if (k > 0 && parts[k].value >= 60.0) {
            *error = k == 1 ? QStringLiteral("minutos fuera de límites (0 a 59)")
                            : QStringLiteral("segundos fuera de límites (0 a 59)");
            return false;
        }
    }
    double value = parts[0].value;
    if (parts.size() > 1) {
        value += parts[1].value / 60.0;
    }
    if (parts.size() > 2) {
        value += parts[2].value / 3600.0;
    }
    half->negative = parts[0].negative;
    if (half->negative && half->hemisphere != 0) {
        *error = QStringLiteral("signo y letra de hemisferio a la vez");
        return false;
    }
    half->value = half->negative ? -value : value;
    half->plain = parts.size() == 1 && !anyMark && half->hemisphere == 0;
    half->mayBeGrouped = half->plain && parts[0].mayBeGrouped;
    const double grouped = half->mayBeGrouped ? parts[0].groupedValue : value;
    half->groupedValue = half->negative ? -grouped : grouped;
    return true;
}

PlaceParse Refused(const QString& reason) {
    PlaceParse r;
    r.error = reason;
    return r;
}

bool IsLatitudeLetter(char h) {
    return h == 'N' || h == 'S';
}

bool IsGridEasting(double value) {
    return value >= kLowestEasting && value <= kHighestEasting;
}

// What may stand before the two numbers of a grid place: a datum named, then the zone and
// band as a GPS shows them ("30T", "30 T").
struct Prefix {
    int length = 0; // characters it takes
    std::optional<TypedPlace::Datum> datum;
    int zone = 0; // none
    QChar band;
};

Prefix ReadPrefix(const QString& text) {
    static const QRegularExpression kDatum(
        QStringLiteral("^\\s*(ED\\s*50|ETRS\\s*89|WGS\\s*84)(?![\\w])[\\s:]*"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kZone(
        QStringLiteral("\\s*(\\d{1,2})\\s*([A-Za-z])(?![\\w.,°º'\"])"));
    Prefix prefix;
    const QRegularExpressionMatch datum = kDatum.match(text);
    if (datum.hasMatch()) {
        prefix.length = static_cast<int>(datum.capturedLength(0));
        // WGS 84 as a GPS gives it is ETRS89 to within a metre here.
        prefix.datum = datum.captured(1).startsWith(QStringLiteral("ED"), Qt::CaseInsensitive)
                           ? TypedPlace::Datum::Ed50
                           : TypedPlace::Datum::Etrs89;
    }
    const QRegularExpressionMatch zone =
        kZone.match(text, prefix.length, QRegularExpression::NormalMatch,
                    QRegularExpression::AnchorAtOffsetMatchOption);
    if (zone.hasMatch()) {
        prefix.length += static_cast<int>(zone.capturedLength(0));
        prefix.zone = zone.captured(1).toInt();
        prefix.band = zone.captured(2).at(0).toUpper();
    }
    return prefix;
}

PlaceParse ParseBare(const QString& text);

} // namespace

PlaceParse ParsePlace(const QString& text) {
    const Prefix prefix = ReadPrefix(text);
    if (prefix.length == 0) {
        return ParseBare(text);
    }
    PlaceParse rest = ParseBare(text.mid(prefix.length));
    if (rest.place && rest.place->kind == TypedPlace::Kind::Grid) {
        if (prefix.zone != 0 && prefix.zone != kZone) {
            return Refused(
                QStringLiteral("huso %1: el mapa está en el huso %2").arg(prefix.zone).arg(kZone));
        }
        if (prefix.zone != 0 && !kBands.contains(prefix.band)) {
            return Refused(QStringLiteral("banda %1: en el huso %2 España está en las bandas S y T")
                               .arg(prefix.band)
                               .arg(kZone));
        }
        // A zone as devices write it is on their datum, unless ED50 is named.
        rest.place->datum = prefix.datum.value_or(prefix.zone != 0 ? TypedPlace::Datum::Etrs89
                                                                   : TypedPlace::Datum::Ed50);
        return rest;
    }
    if (prefix.zone == 0) {
        // A datum named before degrees, or before something that is no place.
        if (rest.place && prefix.datum == TypedPlace::Datum::Ed50) {
            return Refused(QStringLiteral("los grados se leen en WGS 84, no en ED50"));
        }
        return rest;
    }
    // What looked like a zone may be degrees with their letters ("42 N 1 W").
    return ParseBare(text);
}

namespace {

PlaceParse ParseBare(const QString& text) {
    std::vector<Token> tokens;
    QString error;
    if (text.trimmed().isEmpty()) {
        return Refused(QStringLiteral("no hay nada escrito"));
    }
    if (!Tokenize(text, &tokens, &error)) {
        return Refused(error);
    }
    if (CountOf(tokens, Tok::Separator) > 1 || CountOf(tokens, Tok::Hemisphere) > 2) {
        return Refused(QStringLiteral("se esperan dos coordenadas"));
    }
    int dropped = 0;
    const int split = SplitPoint(tokens, &dropped);
    if (split < 0) {
        return Refused(QStringLiteral("se esperan dos coordenadas"));
    }
    Half first;
    Half second;
    if (!ReadHalf({tokens.begin(), tokens.begin() + split}, &first, &error) ||
        !ReadHalf({tokens.begin() + split + dropped, tokens.end()}, &second, &error)) {
        return Refused(error);
    }

    TypedPlace place;
    // "603.466 4.732.636": points that group thousands when read so the pair is metres.
    if (first.plain && second.plain && (first.mayBeGrouped || second.mayBeGrouped) &&
        IsGridEasting(first.groupedValue) && std::abs(second.groupedValue) > 180.0) {
        first.value = first.groupedValue;
        second.value = second.groupedValue;
    }
    if (first.plain && second.plain && std::abs(first.value) > 180.0 &&
        std::abs(second.value) > 180.0) {
        if (!IsGridEasting(first.value)) {
            return Refused(QStringLiteral("X UTM fuera de límites (100.000 a 900.000 m)"));
        }
        double northing = second.value;
        if (northing > 0.0 && northing < 1000000.0) {
            northing += kNorthingOffset;
        }
        if (northing <= 0.0 || northing >= 10000000.0) {
            return Refused(QStringLiteral("Y UTM fuera de límites"));
        }
        place.kind = TypedPlace::Kind::Grid;
        place.grid = {first.value, northing};
        return PlaceParse{place, {}};
    }
    if ((first.plain && std::abs(first.value) >= 1000.0) ||
        (second.plain && std::abs(second.value) >= 1000.0)) {
        return Refused(QStringLiteral("mezcla de metros y grados"));
    }

    // Which is the latitude: the letters say, else the first.
    bool firstIsLatitude = true;
    if (first.hemisphere != 0 && second.hemisphere != 0 &&
        IsLatitudeLetter(first.hemisphere) == IsLatitudeLetter(second.hemisphere)) {
        return Refused(QStringLiteral("las dos coordenadas son del mismo eje"));
    }
    if (first.hemisphere != 0) {
        firstIsLatitude = IsLatitudeLetter(first.hemisphere);
    } else if (second.hemisphere != 0) {
        firstIsLatitude = !IsLatitudeLetter(second.hemisphere);
    }
    for (Half* h : {&first, &second}) {
        if (h->hemisphere == 'S' || h->hemisphere == 'W') {
            h->value = -h->value;
        }
    }
    place.kind = TypedPlace::Kind::Geographic;
    place.latitude = firstIsLatitude ? first.value : second.value;
    place.longitude = firstIsLatitude ? second.value : first.value;
    if (std::abs(place.latitude) > 90.0) {
        return Refused(QStringLiteral("latitud fuera de límites (−90 a 90)"));
    }
    if (std::abs(place.longitude) > 180.0) {
        return Refused(QStringLiteral("longitud fuera de límites (−180 a 180)"));
    }
    return PlaceParse{place, {}};
}

} // namespace

QString PlaceErrorMessage(const QString& text, const QString& reason) {
    return QStringLiteral("«%1» no es un lugar: %2. Escriba X e Y UTM en metros (612000 "
                          "4735000 en ED50; 30T 612000 4735000 en ETRS89, como un GPS) o latitud "
                          "y longitud en grados (42.81, -1.64).")
        .arg(text.trimmed(), reason);
}
