#include "exports/FormatWriters.h"

#include <cstring>

namespace {

constexpr int kQuality = 90;
// The driver's tiles; overviews are made until the smallest fits one.
constexpr int kBlockPixels = 512;

} // namespace

WrittenFile WriteGeoTiff(const ExportWork& work, const std::string& path) {
    const GridArea& a = work.area;
    // The overviews are made in memory: the COG writer would otherwise make them in a
    // compressed file of its own first, which costs more than all the rest.
    const ExportProgress::Stage levels(work.progress, 0.0, 0.2);
    if (!BuildImageOverviews(work, OverviewFactors(a.width, a.height, kBlockPixels - 1), levels)) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido hacer las vistas generales"));
    }
    // The cloud-optimised layout is the plain GeoTIFF readers want: tiled, with its overviews
    // inside, and written in one pass over the image, its tiles compressed on two threads.
    GdalArguments arguments{"-of", "COG"};
    arguments.creation("COMPRESS=JPEG")
        .creation("QUALITY=" + std::to_string(kQuality))
        .creation("BLOCKSIZE=" + std::to_string(kBlockPixels))
        .creation("OVERVIEWS=FORCE_USE_EXISTING")
        .creation("NUM_THREADS=2");
    const ExportProgress::Stage stage(work.progress, 0.2, 0.95);
    GdalDataset written = TranslateImage(work, path, arguments, stage);
    if (!written) {
        return GdalFailure(work, QStringLiteral("GDAL no ha podido escribir el GeoTIFF"));
    }
    written.reset();

    QString reason;
    const GdalDataset back = OpenAndCompare(
        path, {"GTiff", 23030, a.width, a.height, a.west, a.south, a.east, a.north, 1e-6}, &reason);
    if (!back) {
        return Failure(reason);
    }
    const char* compression = GDALGetMetadataItem(back.get(), "COMPRESSION", "IMAGE_STRUCTURE");
    if (compression == nullptr || std::strcmp(compression, "YCbCr JPEG") != 0) {
        return Failure(QStringLiteral("el GeoTIFF escrito no está comprimido en JPEG YCbCr"));
    }
    GDALRasterBandH band = GDALGetRasterBand(back.get(), 1);
    const int overviews = GDALGetOverviewCount(band);
    const int expected =
        static_cast<int>(OverviewFactors(a.width, a.height, kBlockPixels - 1).size());
    if (overviews != expected) {
        return Failure(QStringLiteral("el GeoTIFF escrito tiene %1 vistas generales, no %2")
                           .arg(overviews)
                           .arg(expected));
    }
    WrittenFile done;
    done.ok = true;
    done.description = QStringLiteral("GeoTIFF, ED50 / UTM 30N");
    return done;
}
