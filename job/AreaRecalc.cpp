#include "job/AreaRecalc.h"

#include "job/MapKinds.h"

#include <limits>
#include <utility>

QString AreaMessageText(AreaMessage message) {
    switch (message) {
    case AreaMessage::EnterCoordinates:
        return QStringLiteral("Introduzca coordenadas UTM");
    case AreaMessage::InvalidCoordinates:
        return QStringLiteral("Introduzca coordenadas UTM válidas");
    case AreaMessage::XOutOfRange:
        return QStringLiteral("Coordenadas UTM X fuera de límites");
    case AreaMessage::YOutOfRange:
        return QStringLiteral("Coordenadas UTM Y fuera de límites");
    case AreaMessage::None:
        break;
    }
    return {};
}

QString CornerFieldValue(const QString& stored) {
    constexpr int kPlaces = 6;
    constexpr int kPointIndex = 3;
    QString places;
    for (int i = 0; i < stored.size() && places.size() < kPlaces; ++i) {
        if (i == kPointIndex && stored.at(i) == u'.' && stored.size() > kPlaces) {
            continue;
        }
        places += stored.at(i);
    }
    QString value;
    for (const QChar c : std::as_const(places)) {
        if (c >= u'0' && c <= u'9') {
            value += c;
        } else if (!value.isEmpty()) {
            value += u' ';
        }
    }
    // Places the text did not reach are empty too.
    if (!value.isEmpty()) {
        value += QString(kPlaces - places.size(), u' ');
    }
    return value;
}

std::optional<QString> GridProblem(const DownloadJob& job) {
    if (job.tilesAcross < 1 || job.tilesAcross > kMaxTiles || job.tilesDown < 1 ||
        job.tilesDown > kMaxTiles) {
        return QStringLiteral("Seleccione el número de mosaicos");
    }
    return std::nullopt;
}

std::optional<int32_t> ParseFieldInteger(const QString& text) {
    int i = 0;
    const int n = text.size();
    while (i < n && text.at(i) == u' ') {
        ++i;
    }
    bool negative = false;
    if (i < n && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == n) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - u'0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

namespace {

// Products that leave 32 bits are an error of the recompute, as a text that is no
// number is.
std::optional<int32_t> Checked(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

} // namespace

AreaResult RecalcArea(const DownloadJob& job, const AreaInputs& in) {
    AreaResult r{job, AreaMessage::None};
    DownloadJob& j = r.job;

    LookupCoverage(j, in.coveragePosition, in.serverBase);
    j.tilesDown = in.downPosition + 1;
    j.tilesAcross = in.acrossPosition + 1;

    if (in.eastingText.trimmed().isEmpty() || in.northingText.trimmed().isEmpty()) {
        r.message = AreaMessage::EnterCoordinates;
        return r;
    }

    const auto easting = ParseFieldInteger(in.eastingText);
    if (!easting) {
        r.message = AreaMessage::InvalidCoordinates;
        return r;
    }
    j.easting = *easting;
    const auto northing = ParseFieldInteger(in.northingText);
    if (!northing) {
        r.message = AreaMessage::InvalidCoordinates;
        return r;
    }
    j.northingField = *northing;

    const auto cornerEasting = Checked(int64_t{j.tileSize} * j.tilesAcross + j.easting);
    const auto cornerNorthing =
        Checked(int64_t{j.northingField} - int64_t{j.tileSize} * j.tilesDown);
    if (!cornerEasting || !cornerNorthing) {
        r.message = AreaMessage::InvalidCoordinates;
        return r;
    }
    j.cornerEasting = *cornerEasting;
    j.cornerNorthingField = *cornerNorthing;

    if (j.easting < kMinEasting || j.easting > kMaxEasting) {
        r.message = AreaMessage::XOutOfRange;
        return r;
    }
    const int64_t northingFull = int64_t{j.northingField} + kNorthingOffset;
    if (northingFull < kMinNorthing || northingFull > kMaxNorthing) {
        r.message = AreaMessage::YOutOfRange;
        return r;
    }

    j.widthMetres = j.tilesAcross * j.tileSize;
    j.heightMetres = j.tilesDown * j.tileSize;
    j.widthPixels = j.tilesAcross * kTilePixels;
    j.heightPixels = j.tilesDown * kTilePixels;
    return r;
}
