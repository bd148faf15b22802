#pragma once

#include "job/DownloadJob.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Scheme and host of the map server the build was configured for, without a
// trailing slash. The settings file may name another one.
QString MapServerBase();

// The server a run talks to: the "Servidor" setting without blanks around it or slashes
// at its end, or MapServerBase() when there is no such setting or nothing is left of it.
QString ChosenServerBase(const std::optional<QString>& server);

constexpr int kCoverageCount = 5;

struct Coverage {
    const char* item;
    int32_t metres;
};

// The coverage list of each map kind, by position in the list.
constexpr std::array<std::array<Coverage, kCoverageCount>, 3> kCoverageTable{{
    {{{"2000x2000", 2000},
      {"1000x1000", 1000},
      {"500x500", 500},
      {"250x250", 250},
      {"100x100", 100}}},
    {{{"5000x5000", 5000},
      {"1000x1000", 1000},
      {"500x500", 500},
      {"250x250", 250},
      {"100x100", 100}}},
    {{{"10000x10000", 10000},
      {"8000x8000", 8000},
      {"6000x6000", 6000},
      {"4000x4000", 4000},
      {"2000x2000", 2000}}},
}};

// Texts fixed between the numbers of a request.
inline constexpr char kAfterXmin[] = ".3846153846&Ymin=";
inline constexpr char kBeforeXmax[] = "&Xmax=";
inline constexpr char kAfterXmax[] = ".6153846154&Ymax=";
inline constexpr char kRequestTail[] = "&PixAncho=400&PixAlto=400";

// The five item texts of a kind's coverage list, in list order.
QStringList CoverageItems(MapKind kind);

// Metres of one tile at `position` of the kind's list; -1 when the position is not 0..4.
int32_t CoverageMetres(MapKind kind, int position);

// The request up to and including "&Xmin=" for the kind on `serverBase`.
QString RequestPrefix(MapKind kind, const QString& serverBase);
// The scheme and host a request prefix was made for.
QString ServerBaseOf(const QString& requestPrefix);

// Tile size and request prefix follow the kind and the selected list position;
// a position that selects no item leaves the tile size as it was.
void LookupCoverage(DownloadJob& job, int selectedPosition, const QString& serverBase);

// The kind chosen by the radio buttons; selects the remembered coverage position.
// Returns the position to select in the refilled list. The caller refills the list
// and then recomputes the area.
int SelectMapKind(DownloadJob& job, MapKind kind, const QString& serverBase);

// The request URL of one tile, before the fetcher inserts its request number.
QString BuildTileUrl(const DownloadJob& job, int column, int row);
