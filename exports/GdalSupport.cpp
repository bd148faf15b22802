#include "exports/GdalSupport.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

GdalArguments::GdalArguments(std::initializer_list<std::string> arguments)
    : m_arguments(arguments) {}

GdalArguments& GdalArguments::add(const std::string& argument) {
    m_arguments.push_back(argument);
    return *this;
}

GdalArguments& GdalArguments::add(const std::string& option, const std::string& value) {
    m_arguments.push_back(option);
    m_arguments.push_back(value);
    return *this;
}

std::string GdalArguments::Number(double value) {
    // Seventeen significant digits give back the same double; CPLsnprintf ignores the locale.
    std::array<char, 64> text{};
    CPLsnprintf(text.data(), text.size(), "%.17g", value);
    return text.data();
}

char** GdalArguments::list() {
    m_pointers.clear();
    for (std::string& argument : m_arguments) {
        m_pointers.push_back(argument.data());
    }
    m_pointers.push_back(nullptr);
    return m_pointers.data();
}

ExportProgress::ExportProgress(const std::atomic<bool>& stop, std::function<void(double)> observer)
    : m_stop(stop), m_observer(std::move(observer)) {}

bool ExportProgress::report(double done) const {
    if (m_stop.load()) {
        return false;
    }
    // Some of GDAL's steps start their count again: what the observer sees never goes back.
    m_done = std::clamp(done, m_done, 1.0);
    if (m_observer) {
        m_observer(m_done);
    }
    return !m_stop.load();
}

int CPL_STDCALL ExportProgress::Stage::Report(double complete, const char*, void* data) {
    return static_cast<const Stage*>(data)->report(complete) ? TRUE : FALSE;
}

ThreadGdalOption::ThreadGdalOption(const char* key, const char* value) : m_key(key) {
    const char* previous = CPLGetThreadLocalConfigOption(key, nullptr);
    m_hadPrevious = previous != nullptr;
    if (m_hadPrevious) {
        m_previous = previous;
    }
    CPLSetThreadLocalConfigOption(key, value);
}

ThreadGdalOption::~ThreadGdalOption() {
    CPLSetThreadLocalConfigOption(m_key.c_str(), m_hadPrevious ? m_previous.c_str() : nullptr);
}

GdalDataset RgbDataset(const uchar* pixels, int width, int height, int pixelBytes,
                       long long lineBytes, const std::array<int, 3>& offsets) {
    GDALDriverH memory = GDALGetDriverByName("MEM");
    if (memory == nullptr || pixels == nullptr || width <= 0 || height <= 0) {
        return nullptr;
    }
    GdalDataset dataset(GDALCreate(memory, "", width, height, 0, GDT_Byte, nullptr));
    if (!dataset) {
        return nullptr;
    }
    const GDALColorInterp colours[] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
    for (int band = 0; band < 3; ++band) {
        std::array<char, 64> pointer{};
        const int length = CPLPrintPointer(
            pointer.data(), const_cast<uchar*>(pixels + offsets[static_cast<size_t>(band)]),
            static_cast<int>(pointer.size()) - 1);
        pointer[static_cast<size_t>(length)] = '\0';
        GdalArguments options{"DATAPOINTER=" + std::string(pointer.data()),
                              "PIXELOFFSET=" + std::to_string(pixelBytes),
                              "LINEOFFSET=" + std::to_string(lineBytes)};
        if (GDALAddBand(dataset.get(), GDT_Byte, options.list()) != CE_None) {
            return nullptr;
        }
        GDALSetRasterColorInterpretation(GDALGetRasterBand(dataset.get(), band + 1), colours[band]);
    }
    return dataset;
}

SourcePixels SourcePixels::Of(const QImage& image) {
    SourcePixels s;
    switch (image.format()) {
    case QImage::Format_RGB888:
        s.pixelBytes = 3;
        s.offsets = {0, 1, 2};
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        // A native 0xAARRGGBB word: blue comes first in memory on a little-endian machine.
        s.pixelBytes = 4;
        s.offsets = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? std::array<int, 3>{2, 1, 0}
                                                    : std::array<int, 3>{1, 2, 3};
        break;
    default:
        return s;
    }
    s.bits = image.constBits();
    s.width = image.width();
    s.height = image.height();
    s.lineBytes = image.bytesPerLine();
    return s;
}

GdalDataset ImageDataset(const QImage& image, const std::array<double, 6>& geoTransform,
                         const std::string& wkt) {
    const SourcePixels s = SourcePixels::Of(image);
    if (!s.bits) {
        return nullptr;
    }
    GdalDataset dataset =
        RgbDataset(s.bits, s.width, s.height, s.pixelBytes, s.lineBytes, s.offsets);
    std::array<double, 6> transform = geoTransform;
    if (!dataset || GDALSetGeoTransform(dataset.get(), transform.data()) != CE_None ||
        GDALSetProjection(dataset.get(), wkt.c_str()) != CE_None) {
        return nullptr;
    }
    return dataset;
}

std::string EpsgWkt(int code) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    std::string wkt;
    char* text = nullptr;
    if (OSRImportFromEPSG(srs, code) == OGRERR_NONE && OSRExportToWkt(srs, &text) == OGRERR_NONE) {
        wkt = text;
    }
    CPLFree(text);
    OSRDestroySpatialReference(srs);
    return wkt;
}

int DatasetEpsg(GDALDatasetH dataset) {
    OGRSpatialReferenceH srs = GDALGetSpatialRef(dataset);
    if (srs == nullptr) {
        return 0;
    }
    const char* authority = OSRGetAuthorityName(srs, nullptr);
    const char* code = OSRGetAuthorityCode(srs, nullptr);
    if (authority == nullptr || code == nullptr || !EQUAL(authority, "EPSG")) {
        return 0;
    }
    return std::atoi(code);
}

namespace {

struct SrsDeleter {
    void operator()(OGRSpatialReferenceH srs) const { OSRDestroySpatialReference(srs); }
};
using Srs = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsDeleter>;
struct OptionsDeleter {
    void operator()(OGRCoordinateTransformationOptionsH o) const {
        OCTDestroyCoordinateTransformationOptions(o);
    }
};
using TransformOptions =
    std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationOptionsH>, OptionsDeleter>;

// x before y whatever the order of the CRS's own axes, as GDAL's rasters have them.
Srs EpsgSrs(int code) {
    Srs srs(OSRNewSpatialReference(nullptr));
    if (!srs || OSRImportFromEPSG(srs.get(), code) != OGRERR_NONE) {
        return nullptr;
    }
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

} // namespace

OgrTransform PipelineTransform(int fromEpsg, int toEpsg, const std::string& pipeline,
                               bool reverse) {
    const Srs source = EpsgSrs(fromEpsg);
    const Srs target = EpsgSrs(toEpsg);
    const TransformOptions options(OCTNewCoordinateTransformationOptions());
    if (!source || !target || !options || pipeline.empty() ||
        !OCTCoordinateTransformationOptionsSetOperation(options.get(), pipeline.c_str(),
                                                        reverse ? TRUE : FALSE)) {
        return nullptr;
    }
    return OgrTransform(
        OCTNewCoordinateTransformationEx(source.get(), target.get(), options.get()));
}
