#include "exports/FormatWriters.h"

#include <ogr_api.h>

#include <cctype>

namespace {

constexpr int kQuality = 90;
constexpr int kGpkgTilePixels = 256;

// Every tile of the table starts as a JPEG file does, and there are tiles.
bool AllTilesJpeg(GDALDatasetH dataset, const std::string& table) {
    std::string quoted = "\"";
    for (const char c : table) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    quoted += '"';
    const std::string sql =
        "SELECT COUNT(*), SUM(substr(tile_data, 1, 3) = x'FFD8FF') FROM " + quoted;
    OGRLayerH result = GDALDatasetExecuteSQL(dataset, sql.c_str(), nullptr, nullptr);
    if (result == nullptr) {
        return false;
    }
    OGRFeatureH row = OGR_L_GetNextFeature(result);
    const bool jpeg = row != nullptr && OGR_F_GetFieldAsInteger64(row, 0) > 0 &&
                      OGR_F_GetFieldAsInteger64(row, 0) == OGR_F_GetFieldAsInteger64(row, 1);
    OGR_F_Destroy(row);
    GDALDatasetReleaseResultSet(dataset, result);
    return jpeg;
}

} // namespace

std::string GeoPackageTableName(const QString& mapName) {
    // Accents go, and anything but ASCII letters, digits and '_' becomes '_'.
    std::string table;
    for (const QChar c : mapName.normalized(QString::NormalizationForm_D)) {
        if (c.category() == QChar::Mark_NonSpacing) {
            continue;
        }
        const char ascii = c.toLatin1();
        table += (ascii >= 'a' && ascii <= 'z') || (ascii >= 'A' && ascii <= 'Z') ||
                         (ascii >= '0' && ascii <= '9')
                     ? static_cast<char>(std::tolower(static_cast<unsigned char>(ascii)))
                     : '_';
    }
    // A name must begin with a letter, and SQLite, the GeoPackage itself and its spatial
    // indexes keep these beginnings for their own tables.
    const bool reserved = table.rfind("sqlite_", 0) == 0 || table.rfind("gpkg_", 0) == 0 ||
                          table.rfind("rtree_", 0) == 0;
    if (table.empty() || !(table[0] >= 'a' && table[0] <= 'z') || reserved) {
        table = "mapa_" + table;
    }
    return table;
}

WrittenFile WriteGeoPackage(const ExportWork& work, const std::string& path) {
    // The table is named after the map, not after the temporary file; readers show the
    // identifier, the map's own name.
    const std::string name = GeoPackageTableName(work.input.job.bmpName);
    GdalArguments arguments{"-of", "GPKG"};
    arguments.creation("TILE_FORMAT=JPEG")
        .creation("QUALITY=" + std::to_string(kQuality))
        .creation("BLOCKSIZE=" + std::to_string(kGpkgTilePixels))
        .creation("RASTER_TABLE=" + name)
        .creation("RASTER_IDENTIFIER=" + work.input.job.bmpName.toStdString());
    // The overviews are made in memory from the image itself, and copied into levels made
    // empty: GDAL would make them by reading back every JPEG tile just written.
    const GridArea& a = work.area;
    std::vector<int> factors = OverviewFactors(a.width, a.height, kGpkgTilePixels);
    const ExportProgress::Stage overviews(work.progress, 0.0, 0.15);
    if (!BuildImageOverviews(work, factors, overviews)) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido hacer las vistas generales"));
    }
    const ExportProgress::Stage tiles(work.progress, 0.15, 0.75);
    GdalDataset written = TranslateImage(work, path, arguments, tiles);
    if (!written) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido escribir el GeoPackage"));
    }
    const ExportProgress::Stage copied(work.progress, 0.75, 0.95);
    if (!factors.empty() &&
        (GDALBuildOverviews(written.get(), "NONE", static_cast<int>(factors.size()), factors.data(),
                            0, nullptr, nullptr, nullptr) != CE_None ||
         !CopyImageOverviews(work, written.get(), copied))) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido hacer las vistas generales"));
    }
    written.reset();

    QString reason;
    const GdalDataset back = OpenAndCompare(
        path, {"GPKG", 23030, a.width, a.height, a.west, a.south, a.east, a.north, 1e-6}, &reason);
    if (!back) {
        return Failure(reason);
    }
    if (!AllTilesJpeg(back.get(), name)) {
        return Failure(QStringLiteral("las teselas del GeoPackage escrito no son JPEG"));
    }
    const int levels = GDALGetOverviewCount(GDALGetRasterBand(back.get(), 1));
    if (levels != static_cast<int>(factors.size())) {
        return Failure(QStringLiteral("el GeoPackage escrito tiene %1 vistas generales, no %2")
                           .arg(levels)
                           .arg(factors.size()));
    }
    WrittenFile done;
    done.ok = true;
    done.description = QStringLiteral("GeoPackage, ED50 / UTM 30N");
    return done;
}
