#pragma once

// What the exports add to GDAL's shared floor: arguments for GDAL's utilities, a stop flag
// and progress handed to GDAL, thread-local options and datasets over the joined image.

#include "gdalbase/GdalBase.h"

#include <QImage>
#include <QString>

#include <gdal.h>
#include <ogr_srs_api.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// Arguments of one of GDAL's utilities as its command line spells them.
class GdalArguments {
public:
    GdalArguments(std::initializer_list<std::string> arguments);
    GdalArguments& add(const std::string& argument);
    GdalArguments& add(const std::string& option, const std::string& value);
    // Creation option: "-co NAME=VALUE".
    GdalArguments& creation(const std::string& nameValue) { return add("-co", nameValue); }
    // Numbers as GDAL reads them back exactly, "." whatever the locale.
    static std::string Number(double value);

    // Null-terminated, alive as long as this object is not changed.
    char** list();

private:
    std::vector<std::string> m_arguments;
    std::vector<char*> m_pointers;
};

// The stop flag and the observer of the part done, handed to GDAL as a progress function.
// GDAL abandons a step whose progress function returns false.
class ExportProgress {
public:
    ExportProgress(const std::atomic<bool>& stop, std::function<void(double)> observer);

    bool stopRequested() const { return m_stop.load(); }
    // Reports the part done so far (0 to 1 of the whole export); false once a stop is asked.
    // Called from the exporting thread only.
    bool report(double done) const;

    // The stretch [from, to] of the whole export that one GDAL call covers.
    class Stage {
    public:
        Stage(const ExportProgress& owner, double from, double to)
            : m_owner(owner), m_from(from), m_to(to) {}
        GDALProgressFunc function() const { return &Stage::Report; }
        void* data() const { return const_cast<Stage*>(this); }
        const ExportProgress& owner() const { return m_owner; }
        // The part of the whole export at `complete` of this stage.
        double at(double complete) const { return m_from + (m_to - m_from) * complete; }
        bool report(double complete) const { return m_owner.report(at(complete)); }

    private:
        static int CPL_STDCALL Report(double complete, const char* message, void* data);
        const ExportProgress& m_owner;
        double m_from;
        double m_to;
    };

private:
    const std::atomic<bool>& m_stop;
    std::function<void(double)> m_observer;
    mutable double m_done = 0.0;
};

// A configuration option of GDAL set for this thread only while the object lives.
class ThreadGdalOption {
public:
    ThreadGdalOption(const char* key, const char* value);
    ~ThreadGdalOption();
    ThreadGdalOption(const ThreadGdalOption&) = delete;
    ThreadGdalOption& operator=(const ThreadGdalOption&) = delete;

private:
    std::string m_key;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// The pixels of a 24-bit (RGB888) or 32-bit (RGB32, ARGB32) image, read in place.
struct SourcePixels {
    const uchar* bits = nullptr;
    int width = 0;
    int height = 0;
    int pixelBytes = 0;
    qsizetype lineBytes = 0;
    // Where red, green and blue lie in a pixel.
    std::array<int, 3> offsets{};

    // Empty (null bits) for another format.
    static SourcePixels Of(const QImage& image);
};

// A dataset in memory over pixels someone else owns, without a copy: red, green and blue
// bands, each byte `offsets` into a pixel of `pixelBytes`. GDAL only reads them. Null when
// GDAL fails; the pixels must outlive the dataset.
GdalDataset RgbDataset(const uchar* pixels, int width, int height, int pixelBytes,
                       long long lineBytes, const std::array<int, 3>& offsets);

// The same over a 24-bit (RGB888) or 32-bit (RGB32, ARGB32) image, placed by the six numbers
// of a geotransform in the CRS of `wkt`. Null for another pixel format or when GDAL fails.
GdalDataset ImageDataset(const QImage& image, const std::array<double, 6>& geoTransform,
                         const std::string& wkt);

// The WKT of an EPSG CRS, with its codes, for datasets and comparisons.
std::string EpsgWkt(int code);

// The EPSG code a dataset's CRS is known by, 0 when it has none.
int DatasetEpsg(GDALDatasetH dataset);

struct OgrTransformDeleter {
    void operator()(OGRCoordinateTransformationH t) const { OCTDestroyCoordinateTransformation(t); }
};
using OgrTransform =
    std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationH>, OgrTransformDeleter>;

// The change from one EPSG CRS to another through exactly the PROJ pipeline given (run
// backwards when `reverse`), x before y whatever the order of the CRSs' own axes; null when
// it cannot be made.
OgrTransform PipelineTransform(int fromEpsg, int toEpsg, const std::string& pipeline,
                               bool reverse = false);
