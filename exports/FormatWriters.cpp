#include "exports/FormatWriters.h"

#include <gdal_utils.h>

#include <cmath>
#include <memory>

namespace {

struct TranslateOptionsDeleter {
    void operator()(GDALTranslateOptions* o) const { GDALTranslateOptionsFree(o); }
};

} // namespace

GdalDataset TranslateImage(const ExportWork& work, const std::string& path,
                           GdalArguments& arguments, const ExportProgress::Stage& stage) {
    const std::unique_ptr<GDALTranslateOptions, TranslateOptionsDeleter> options(
        GDALTranslateOptionsNew(arguments.list(), nullptr));
    if (!options) {
        return nullptr;
    }
    GDALTranslateOptionsSetProgress(options.get(), stage.function(), stage.data());
    return GdalDataset(GDALTranslate(path.c_str(), work.image, options.get(), nullptr));
}

WrittenFile Failure(const QString& reason) {
    WrittenFile written;
    written.reason = reason;
    return written;
}

WrittenFile GdalFailure(const ExportWork& work, const QString& fallback) {
    return Failure(work.errors.reason(fallback));
}

GdalDataset OpenAndCompare(const std::string& path, const ExpectedRaster& expected,
                           QString* reason) {
    const char* const drivers[] = {expected.driver, nullptr};
    GdalDataset dataset(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr));
    if (!dataset) {
        *reason = QStringLiteral("GDAL no puede leer el fichero escrito");
        return nullptr;
    }
    const int epsg = DatasetEpsg(dataset.get());
    if (epsg != expected.epsg) {
        *reason = QStringLiteral("el fichero escrito no está en EPSG:%1").arg(expected.epsg);
        return nullptr;
    }
    const int width = GDALGetRasterXSize(dataset.get());
    const int height = GDALGetRasterYSize(dataset.get());
    if (width != expected.width || height != expected.height) {
        *reason = QStringLiteral("el fichero escrito mide %1 x %2 píxeles, no %3 x %4")
                      .arg(width)
                      .arg(height)
                      .arg(expected.width)
                      .arg(expected.height);
        return nullptr;
    }
    double t[6];
    if (GDALGetGeoTransform(dataset.get(), t) != CE_None || t[2] != 0.0 || t[4] != 0.0) {
        *reason = QStringLiteral("el fichero escrito no está georreferenciado");
        return nullptr;
    }
    const double edges[][2] = {{t[0], expected.minX},
                               {t[0] + width * t[1], expected.maxX},
                               {t[3], expected.maxY},
                               {t[3] + height * t[5], expected.minY}};
    for (const auto& edge : edges) {
        if (!(std::fabs(edge[0] - edge[1]) <= expected.tolerance)) {
            *reason = QStringLiteral("el fichero escrito no cubre la zona");
            return nullptr;
        }
    }
    return dataset;
}

std::vector<int> OverviewFactors(int width, int height, int side) {
    std::vector<int> factors;
    int larger = std::max(width, height);
    for (int factor = 2; larger > side; factor *= 2) {
        factors.push_back(factor);
        larger = (std::max(width, height) + factor - 1) / factor;
    }
    return factors;
}

bool BuildImageOverviews(const ExportWork& work, const std::vector<int>& factors,
                         const ExportProgress::Stage& stage) {
    std::vector<int> levels = factors;
    return levels.empty() ||
           GDALBuildOverviews(work.image, "AVERAGE", static_cast<int>(levels.size()), levels.data(),
                              0, nullptr, stage.function(), stage.data()) == CE_None;
}

bool CopyImageOverviews(const ExportWork& work, GDALDatasetH written,
                        const ExportProgress::Stage& stage) {
    GDALRasterBandH from = GDALGetRasterBand(work.image, 1);
    GDALRasterBandH to = GDALGetRasterBand(written, 1);
    const int levels = GDALGetOverviewCount(from);
    if (GDALGetOverviewCount(to) < levels) {
        return false;
    }
    for (int i = 0; i < levels; ++i) {
        GDALDatasetH source = GDALGetBandDataset(GDALGetOverview(from, i));
        GDALDatasetH target = GDALGetBandDataset(GDALGetOverview(to, i));
        const ExportProgress::Stage part(stage.owner(), stage.at(static_cast<double>(i) / levels),
                                         stage.at(static_cast<double>(i + 1) / levels));
        if (source == nullptr || target == nullptr ||
            GDALGetRasterXSize(source) != GDALGetRasterXSize(target) ||
            GDALGetRasterYSize(source) != GDALGetRasterYSize(target) ||
            GDALDatasetCopyWholeRaster(source, target, nullptr, part.function(), part.data()) !=
                CE_None) {
            return false;
        }
    }
    return true;
}
