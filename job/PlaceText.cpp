#include "job/PlaceText.h"

#include <cmath>
#include <vector>

namespace {

// Eastings of a UTM zone lie within these, whatever the latitude.
constexpr double kLowestEasting = 100000.0;
constexpr double kHighestEasting = 900000.0;

enum class Tok { Number, Degrees, Minutes, Seconds, Hemisphere, Separator };

struct Token {
    Tok type;
    double value = 0.0;    // Number: its magnitude
    bool negative = false; // Number: a sign before it
    bool fraction = false; // Number: it has decimals
    char hemisphere = 0;   // 'N', 'S', 'E' or 'W'
};

// What one half of the text says: a coordinate.
struct Half {
    double value = 0.0; // signed, hemisphere not yet applied
    char hemisphere = 0;
    bool negative = false;
    bool plain = false; // one number without marks nor letter
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

} // namespace

PlaceParse ParsePlace(const QString& text) {
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
    if (first.plain && second.plain && std::abs(first.value) > 180.0 &&
        std::abs(second.value) > 180.0) {
        if (first.value < kLowestEasting || first.value > kHighestEasting) {
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

QString PlaceErrorMessage(const QString& text, const QString& reason) {
    return QStringLiteral("«%1» no es un lugar: %2. Escriba X e Y UTM en metros "
                          "(612000 4735000) o latitud y longitud en grados (42.81, -1.64).")
        .arg(text.trimmed(), reason);
}
