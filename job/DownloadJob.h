#pragma once

#include <QString>

#include <array>
#include <cstdint>

// The kinds of map the server offers; the values are those stored in the settings file.
enum class MapKind : int32_t { Carto = 0, Orto = 1, MDT = 2 };

// The datum the GPS calibration files give their coordinates on. The tiles are cut on the
// ED50 grid; WGS 84 files carry every coordinate moved to ETRS89.
enum class CalibrationDatum { Ed50, Wgs84 };

// The files for other programs a run can write from its joined image, in the order they are
// written; the values index DownloadJob::exports.
enum class ExportFormat { GeoTiff, GeoPackage, MbTiles, GarminKmz, PrintPdf };
constexpr std::array<ExportFormat, 5> kExportFormats{
    ExportFormat::GeoTiff, ExportFormat::GeoPackage, ExportFormat::MbTiles, ExportFormat::GarminKmz,
    ExportFormat::PrintPdf};
// The format as the user knows it: "GeoTIFF", "GeoPackage", "MBTiles", "KMZ de Garmin",
// "PDF para imprimir".
QString ExportFormatName(ExportFormat format);
// The formats moved to WGS 84, and the PDF whose grid is drawn on ETRS89: they need the
// datum change the WGS 84 calibration uses.
constexpr bool ExportNeedsDatumChange(ExportFormat format) {
    return format == ExportFormat::MbTiles || format == ExportFormat::GarminKmz ||
           format == ExportFormat::PrintPdf;
}

// The sheets of paper the PDF to print is laid on.
enum class PrintPaper { A4, A3 };
// The scales a map is printed at (1:10.000 ... 1:50.000), the default first among equals.
constexpr std::array<int32_t, 3> kPrintScales{10000, 25000, 50000};
constexpr int32_t kDefaultPrintScale = 25000;

// Largest grid: ten tiles across and ten down.
constexpr int kMaxTiles = 10;
// Every tile is asked for, and stored, as an image of this many pixels on a side.
constexpr int32_t kTilePixels = 400;
// The northing typed by the user lacks these leading metres.
constexpr int32_t kNorthingOffset = 4000000;

// One cell of the 10 x 10 tile table. Its viewer controls belong to the windows.
struct TileRequest {
    bool fetched = false;
    QString url;
    QString fileName;

    void reset() {
        fetched = false;
        url.clear();
        fileName.clear();
    }
};

// The parameters of a download run, as the main window holds them.
struct DownloadJob {
    // Indexed by column first and row second, both 1..10 through tile().
    std::array<std::array<TileRequest, kMaxTiles>, kMaxTiles> tiles{};
    MapKind kind = MapKind::Orto;
    int32_t coveragePosition = 0;
    int32_t easting = 0;
    int32_t northingField = 0;
    int32_t cornerEasting = 0;
    int32_t cornerNorthingField = 0;
    int32_t tileSize = 0;
    int32_t tilesAcross = 0;
    int32_t tilesDown = 0;
    int32_t widthMetres = 0;
    int32_t heightMetres = 0;
    int32_t widthPixels = 0;
    int32_t heightPixels = 0;
    QString bmpName = QStringLiteral("Prueba");
    QString folder;
    QString requestPrefix;
    bool saveOzi = false;
    bool saveCompe = false;
    bool saveBmp = true;
    QString rowLetters = QStringLiteral("ABCDEFGHIJ");
    bool deleteTiles = false;
    CalibrationDatum datum = CalibrationDatum::Ed50;
    // A world file (.bpw) and the image's CRS beside the BMP, for GIS programs.
    bool saveWorldFile = false;
    // The exports asked for, by ExportFormat; they need the joined image, not the BMP.
    std::array<bool, kExportFormats.size()> exports{};

    // The scale and the paper of the PDF to print; the BMP's pixel density follows the scale.
    int32_t printScale = kDefaultPrintScale;
    PrintPaper printPaper = PrintPaper::A4;

    bool exportWanted(ExportFormat format) const { return exports.at(static_cast<size_t>(format)); }
    void setExport(ExportFormat format, bool on) { exports.at(static_cast<size_t>(format)) = on; }
    bool anyExport() const;
    // The run joins the tiles into one image: for the BMP or for an export.
    bool joinsTiles() const { return saveBmp || anyExport(); }

    // Pixels per metre of paper that print the image at the print scale, as the BMP's
    // header gives them to image programs; 0 when the job has no area.
    int32_t printPixelsPerMetre() const;

    TileRequest& tile(int column, int row) { return tiles.at(column - 1).at(row - 1); }
    const TileRequest& tile(int column, int row) const { return tiles.at(column - 1).at(row - 1); }
    void resetTiles();
};

// Ground rectangle of one tile: eastings and northing field values.
struct TileRect {
    int32_t xmin = 0;
    int32_t ymin = 0;
    int32_t xmax = 0;
    int32_t ymax = 0;
    bool operator==(const TileRect& o) const {
        return xmin == o.xmin && ymin == o.ymin && xmax == o.xmax && ymax == o.ymax;
    }
};

// Bounds of the tile in `column` (1 = west) and `row` (1 = north).
TileRect TileBounds(const DownloadJob& job, int column, int row);

// "A01" .. "J10": the row letter and the column in two digits.
QString TileLabel(const DownloadJob& job, int column, int row);
// The tile label followed by ".jpg".
QString TileFileName(const DownloadJob& job, int column, int row);

// The folder followed by the platform's separator, unless it already ends with one.
QString PathPrefix(const QString& folder);

// True exactly when the path names an existing folder; a missing path, a file or an
// empty path give false.
bool FolderExists(const QString& path);
