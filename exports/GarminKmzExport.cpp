#include "exports/FormatWriters.h"
#include "exports/OrderedWorkers.h"
#include "exports/OutputFile.h"
#include "exports/TileEncoding.h"
#include "job/NumberFormat.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>

#include <cpl_conv.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <cpl_vsi.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// What Garmin handhelds take: each image at most a megapixel and under 3 MB, baseline JPEG.
constexpr int kOverlayPixels = 1024;
constexpr vsi_l_offset kOverlayBytes = 3 * 1024 * 1024;
constexpr int kQuality = 85;
constexpr int kLowestQuality = 45;
// Above 50 the overlay is drawn over the device's own maps, not under them.
constexpr int kDrawOrder = 51;
// The overlays cover at least this part of the area; where the area is turned more on the
// degrees' grid (far from the zone's central meridian), smaller overlays follow its edges
// closer, down to this size.
constexpr double kCovered = 0.97;
constexpr int kSmallestOverlay = 128;
// Points along each edge of the area for its outline in degrees. The edges along the grid's
// rows bend there (by 16 m over 30 km); between these points by less than a millimetre.
constexpr int kOutlinePoints = 256;

struct XmlDeleter {
    void operator()(CPLXMLNode* n) const { CPLDestroyXMLNode(n); }
};
struct ListDeleter {
    void operator()(char** l) const { CSLDestroy(l); }
};

struct Overlay {
    PixelWindow window;
    std::string href;
    double north, south, east, west;
};

std::string Degrees(double value) {
    return QByteArray::number(value, 'f', 12).toStdString();
}

QByteArray DocKml(const QString& name, const std::vector<Overlay>& overlays) {
    const QByteArray title = name.toHtmlEscaped().toUtf8();
    QByteArray kml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>" +
                     title + "</name>\n";
    int number = 0;
    for (const Overlay& o : overlays) {
        kml += "<GroundOverlay>\n<name>" + title + ' ' + QByteArray::number(++number) +
               "</name>\n<drawOrder>" + QByteArray::number(kDrawOrder) +
               "</drawOrder>\n<Icon><href>" + QByteArray::fromStdString(o.href) +
               "</href></Icon>\n<LatLonBox><north>" + QByteArray::fromStdString(Degrees(o.north)) +
               "</north><south>" + QByteArray::fromStdString(Degrees(o.south)) + "</south><east>" +
               QByteArray::fromStdString(Degrees(o.east)) + "</east><west>" +
               QByteArray::fromStdString(Degrees(o.west)) +
               "</west></LatLonBox>\n</GroundOverlay>\n";
    }
    return kml + "</Document>\n</kml>\n";
}

// The frame of a JPEG file: its marker (0xC0 for baseline) and size; marker 0 when none.
struct JpegFrame {
    int marker = 0;
    int width = 0;
    int height = 0;
};

JpegFrame FrameOf(const std::vector<GByte>& bytes) {
    JpegFrame frame;
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return frame;
    }
    size_t at = 2;
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
        const int marker = bytes[at + 1];
        const size_t length = (static_cast<size_t>(bytes[at + 2]) << 8) | bytes[at + 3];
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && at + 9 <= bytes.size()) {
            frame.marker = marker;
            frame.height = (bytes[at + 5] << 8) | bytes[at + 6];
            frame.width = (bytes[at + 7] << 8) | bytes[at + 8];
            return frame;
        }
        if (marker == 0xDA || length < 2) {
            return frame;
        }
        at += 2 + length;
    }
    return frame;
}

// The pixels as a baseline JPEG, at the best quality that stays under the devices' limit.
bool EncodeOverlay(const RgbaPixels& pixels, QByteArray* jpeg) {
    for (int quality = kQuality; quality >= kLowestQuality; quality -= 10) {
        if (!EncodeJpeg(pixels, quality, jpeg)) {
            return false;
        }
        if (static_cast<vsi_l_offset>(jpeg->size()) < kOverlayBytes) {
            return true;
        }
    }
    return false;
}

// Little-endian numbers of a zip's records.
uint32_t U16(const GByte* b) {
    return static_cast<uint32_t>(b[0] | (b[1] << 8));
}
uint32_t U32(const GByte* b) {
    return U16(b) | (U16(b + 2) << 16);
}

// GDAL's zip writer leaves every entry's date at zero, which readers show as 1980-00-00: the
// entries get the time the file is written instead, in the local time zip tools use. An
// entry's date lies in its central directory record and in its local header; neither is
// covered by its CRC. Read and written through GDAL, which wrote the file at that path.
bool StampZipEntries(VSILFILE* file, const QDateTime& when) {
    const auto at = [&](vsi_l_offset offset) { return VSIFSeekL(file, offset, SEEK_SET) == 0; };
    // The end record, without a comment: GDAL writes none.
    GByte end[22];
    if (VSIFSeekL(file, 0, SEEK_END) != 0 || VSIFTellL(file) < sizeof end ||
        !at(VSIFTellL(file) - sizeof end) || VSIFReadL(end, 1, sizeof end, file) != sizeof end ||
        U32(end) != 0x06054b50) {
        return false;
    }
    const uint32_t entries = U16(end + 10);
    const vsi_l_offset directoryAt = U32(end + 16);
    std::vector<GByte> directory(U32(end + 12));
    if (!at(directoryAt) ||
        VSIFReadL(directory.data(), 1, directory.size(), file) != directory.size()) {
        return false;
    }
    const QDate date = when.date();
    const QTime time = when.time();
    const uint32_t dosTime = (time.hour() << 11) | (time.minute() << 5) | (time.second() / 2);
    const uint32_t dosDate =
        ((std::max(date.year(), 1980) - 1980) << 9) | (date.month() << 5) | date.day();
    const GByte stamp[4] = {static_cast<GByte>(dosTime & 0xFF), static_cast<GByte>(dosTime >> 8),
                            static_cast<GByte>(dosDate & 0xFF), static_cast<GByte>(dosDate >> 8)};
    size_t record = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        GByte* r = directory.data() + record;
        if (record + 46 > directory.size() || U32(r) != 0x02014b50) {
            return false;
        }
        std::memcpy(r + 12, stamp, sizeof stamp);
        // The local header: its signature, then the date 10 bytes in.
        const vsi_l_offset local = U32(r + 42);
        GByte signature[4];
        if (!at(local) || VSIFReadL(signature, 1, 4, file) != 4 || U32(signature) != 0x04034b50 ||
            !at(local + 10) || VSIFWriteL(stamp, 1, sizeof stamp, file) != sizeof stamp) {
            return false;
        }
        record += 46 + U16(r + 28) + U16(r + 30) + U16(r + 32);
    }
    return at(directoryAt) &&
           VSIFWriteL(directory.data(), 1, directory.size(), file) == directory.size();
}

bool StampZipEntries(const std::string& path, const QDateTime& when) {
    VSILFILE* file = VSIFOpenL(path.c_str(), "r+b");
    if (file == nullptr) {
        return false;
    }
    const bool stamped = StampZipEntries(file, when);
    return VSIFCloseL(file) == 0 && stamped;
}

bool ReadWhole(const std::string& path, std::vector<GByte>* bytes) {
    VSIStatBufL stat;
    if (VSIStatL(path.c_str(), &stat) != 0) {
        return false;
    }
    VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->resize(static_cast<size_t>(stat.st_size));
    const bool read = VSIFReadL(bytes->data(), 1, bytes->size(), file) == bytes->size();
    VSIFCloseL(file);
    return read;
}

// The archive as GDAL's zip reader sees it, under a name of the check's own: a path given to
// /vsizip/ is read for braces and archive extensions, and a folder may be named with any of
// them ("a}b", "{x", "mapas.kmz"). The file is mapped, not copied.
class ArchiveView {
public:
    explicit ArchiveView(const std::string& path) : m_file(OutputFile::QtPath(path)) {
        static std::atomic<unsigned> views{0};
        uchar* bytes = m_file.open(QIODevice::ReadOnly) && m_file.size() > 0
                           ? m_file.map(0, m_file.size())
                           : nullptr;
        if (bytes == nullptr) {
            return;
        }
        const std::string name = "/vsimem/morvel-kmz-check-" + std::to_string(++views) + ".kmz";
        VSILFILE* file = VSIFileFromMemBuffer(name.c_str(), bytes,
                                              static_cast<vsi_l_offset>(m_file.size()), FALSE);
        if (file != nullptr) {
            VSIFCloseL(file);
            m_name = name;
        }
    }
    ~ArchiveView() {
        if (!m_name.empty()) {
            VSIUnlink(m_name.c_str()); // before the file is unmapped
        }
    }
    ArchiveView(const ArchiveView&) = delete;
    ArchiveView& operator=(const ArchiveView&) = delete;

    // The root of the archive for GDAL's paths; empty when the file cannot be read.
    std::string root() const { return m_name.empty() ? std::string() : "/vsizip/" + m_name; }

private:
    QFile m_file;
    std::string m_name;
};

double ChildNumber(const CPLXMLNode* box, const char* name) {
    const char* text = CPLGetXMLValue(box, name, nullptr);
    return text == nullptr ? std::nan("") : CPLAtof(text);
}

// Reads the KMZ back as a device would: one doc.kml at the root, whose overlays name the
// images in the archive, in the order and with the boxes meant; each is a baseline JPEG
// within the limits whose pixels are the window's.
bool CheckKmz(const std::string& path, const std::vector<Overlay>& meant, QString* reason) {
    const ArchiveView archive(path);
    const std::string root = archive.root();
    const std::unique_ptr<char*, ListDeleter> entries(
        root.empty() ? nullptr : VSIReadDirRecursive(root.c_str()));
    int kmlFiles = 0;
    for (char** e = entries.get(); e != nullptr && *e != nullptr; ++e) {
        kmlFiles += EQUAL(CPLGetExtension(*e), "kml") ? 1 : 0;
    }
    const std::unique_ptr<CPLXMLNode, XmlDeleter> kml(
        kmlFiles == 1 ? CPLParseXMLFile((root + "/doc.kml").c_str()) : nullptr);
    const CPLXMLNode* document = kml ? CPLGetXMLNode(kml.get(), "=kml.Document") : nullptr;
    if (document == nullptr) {
        *reason = QStringLiteral("el KMZ escrito no tiene un único doc.kml que se pueda leer");
        return false;
    }
    size_t read = 0;
    for (const CPLXMLNode* n = document->psChild; n != nullptr; n = n->psNext) {
        if (n->eType != CXT_Element || !EQUAL(n->pszValue, "GroundOverlay")) {
            continue;
        }
        const CPLXMLNode* box = CPLGetXMLNode(n, "LatLonBox");
        const char* href = CPLGetXMLValue(n, "Icon.href", nullptr);
        std::vector<GByte> image;
        const double b[] = {ChildNumber(box, "north"), ChildNumber(box, "south"),
                            ChildNumber(box, "east"), ChildNumber(box, "west")};
        if (box == nullptr || href == nullptr ||
            CPLGetXMLValue(n, "drawOrder", nullptr) == nullptr ||
            !ReadWhole(root + '/' + href, &image)) {
            *reason = QStringLiteral("una imagen del KMZ escrito no se puede leer");
            return false;
        }
        const JpegFrame frame = FrameOf(image);
        if (frame.marker != 0xC0 || frame.width > kOverlayPixels || frame.height > kOverlayPixels ||
            image.size() >= kOverlayBytes) {
            *reason = QStringLiteral("una imagen del KMZ escrito no es un JPEG que lea un Garmin");
            return false;
        }
        // The boxes are written to 1e-12 degrees.
        const Overlay* o = read < meant.size() ? &meant[read] : nullptr;
        ++read;
        if (o == nullptr || o->href != href || frame.width != o->window.width ||
            frame.height != o->window.height || std::fabs(b[0] - o->north) > 1e-11 ||
            std::fabs(b[1] - o->south) > 1e-11 || std::fabs(b[2] - o->east) > 1e-11 ||
            std::fabs(b[3] - o->west) > 1e-11) {
            *reason = QStringLiteral("las imágenes del KMZ escrito no están donde la zona");
            return false;
        }
    }
    if (read != meant.size()) {
        *reason = QStringLiteral("las imágenes del KMZ escrito no cubren la zona");
        return false;
    }
    return true;
}

// Where the overlays go: the moved image's pixel grid cut into windows that hold nothing
// outside the area, the largest first that cover enough of it.
struct OverlayPlan {
    MovedArea area;
    int width = 0;
    int height = 0;
    int maxSide = kOverlayPixels;
    WindowsInside inside;

    // Degrees a pixel of the moved grid.
    double stepX() const { return (area.maxX - area.minX) / width; }
    double stepY() const { return (area.maxY - area.minY) / height; }
};

bool PlanOverlays(const ExportWork& work, const std::string& pipeline, OverlayPlan* plan,
                  QString* reason) {
    MovedArea& area = plan->area;
    std::vector<GridPoint> outline;
    if (!MoveArea(work.area, MovedCrs::Wgs84, pipeline, &area, reason) ||
        !MoveOutline(work.area, MovedCrs::Wgs84, pipeline, kOutlinePoints, &outline, reason)) {
        return false;
    }
    plan->width = std::max(1, static_cast<int>(std::lround((area.maxX - area.minX) / area.stepX)));
    plan->height = std::max(1, static_cast<int>(std::lround((area.maxY - area.minY) / area.stepY)));
    for (GridPoint& p : outline) {
        p = {(p.x - area.minX) / plan->stepX(), (area.maxY - p.y) / plan->stepY()};
    }
    for (;; plan->maxSide /= 2) {
        plan->inside = WindowsInsideOutline(outline, plan->width, plan->height, plan->maxSide);
        if (plan->inside.covered >= kCovered || plan->maxSide / 2 < kSmallestOverlay) {
            break;
        }
    }
    if (plan->inside.windows.empty()) {
        *reason = QStringLiteral("la zona no tiene tamaño");
        return false;
    }
    return true;
}

} // namespace

QString TooManyImagesRemark(const QString& fileName, int images) {
    // Most devices show no more images than this.
    constexpr int kDeviceImages = 100;
    if (images <= kDeviceImages) {
        return {};
    }
    return QStringLiteral(". %1 tiene %2 imágenes: la mayoría de los GPS Garmin no muestran más "
                          "de %3")
        .arg(fileName)
        .arg(images)
        .arg(kDeviceImages);
}

WrittenFile WriteGarminKmz(const ExportWork& work, const std::string& path) {
    const std::string pipeline = PipelineTo(MovedCrs::Wgs84, work.input.datum.pipeline);
    OverlayPlan plan;
    QString reason;
    if (!PlanOverlays(work, pipeline, &plan, &reason)) {
        return Failure(reason);
    }
    if (!work.progress.report(0.0)) {
        return Failure({});
    }

    // The boxes follow from the windows alone, so doc.kml goes first, where every reader
    // of a KMZ looks for it. Images are named by the window they were cut from.
    const MovedArea& area = plan.area;
    const double stepX = plan.stepX();
    const double stepY = plan.stepY();
    const int across = (plan.width + plan.maxSide - 1) / plan.maxSide;
    const int down = (plan.height + plan.maxSide - 1) / plan.maxSide;
    std::vector<Overlay> overlays;
    for (const PixelWindow& w : plan.inside.windows) {
        Overlay o{w, "", 0, 0, 0, 0};
        const int row = static_cast<int>((2ll * w.y + w.height) * down / (2ll * plan.height));
        const int column = static_cast<int>((2ll * w.x + w.width) * across / (2ll * plan.width));
        o.href = QString::asprintf("files/f%02d_%02d.jpg", row + 1, column + 1).toStdString();
        // Edges on the grid's own edges are the moved area's, not sums of steps.
        o.west = w.x == 0 ? area.minX : area.minX + w.x * stepX;
        o.east = w.x + w.width == plan.width ? area.maxX : area.minX + (w.x + w.width) * stepX;
        o.north = w.y == 0 ? area.maxY : area.maxY - w.y * stepY;
        o.south = w.y + w.height == plan.height ? area.minY : area.maxY - (w.y + w.height) * stepY;
        overlays.push_back(o);
    }

    void* zip = CPLCreateZip(path.c_str(), nullptr);
    if (zip == nullptr) {
        return GdalFailure(work, QStringLiteral("no se puede crear el KMZ"));
    }
    const QByteArray kml = DocKml(work.input.job.bmpName, overlays);
    bool written =
        CPLCreateFileInZip(zip, "doc.kml", nullptr) == CE_None &&
        CPLWriteFileInZip(zip, kml.constData(), static_cast<int>(kml.size())) == CE_None &&
        CPLCloseFileInZip(zip) == CE_None;

    // Each image is moved and encoded on the workers, and stored here in order. JPEG data
    // does not shrink when deflated: the images are stored.
    const TargetGrid target{
        MovedCrs::Wgs84, {area.minX, stepX, 0.0, area.maxY, 0.0, -stepY}, plan.width, plan.height};
    const int threads = WorkerThreads();
    using Context = std::unique_ptr<WarpContext>;
    OrderedWorkers<QByteArray, Context> workers(
        static_cast<int>(overlays.size()), threads, 2 * threads,
        [&] { return std::make_unique<WarpContext>(work, target, pipeline); },
        [&](int index, Context& context) -> std::optional<QByteArray> {
            const PixelWindow& w = overlays[static_cast<size_t>(index)].window;
            std::vector<uint8_t> rgba(4u * static_cast<size_t>(w.width) * w.height);
            const RgbaPixels pixels{rgba.data(), w.width, w.height, 4u * w.width};
            QByteArray jpeg;
            if (work.progress.stopRequested() ||
                !context->warp.warp(w.x, w.y, w.width, w.height, rgba.data(), pixels.lineBytes) ||
                !EncodeOverlay(pixels, &jpeg)) {
                return std::nullopt;
            }
            return jpeg;
        });
    GdalArguments stored{"COMPRESSED=NO"};
    for (size_t i = 0; written && i < overlays.size(); ++i) {
        const std::optional<QByteArray> jpeg = workers.take(static_cast<int>(i));
        written =
            jpeg && CPLCreateFileInZip(zip, overlays[i].href.c_str(), stored.list()) == CE_None &&
            CPLWriteFileInZip(zip, jpeg->constData(), static_cast<int>(jpeg->size())) == CE_None &&
            CPLCloseFileInZip(zip) == CE_None &&
            work.progress.report(0.95 * static_cast<double>(i + 1) / overlays.size());
    }
    written = CPLCloseZip(zip) == CE_None && written;
    if (!written || !StampZipEntries(path, QDateTime::currentDateTime())) {
        return GdalFailure(work, QStringLiteral("no se ha podido escribir el KMZ"));
    }

    if (!CheckKmz(path, overlays, &reason)) {
        return Failure(reason);
    }
    WrittenFile done;
    done.ok = true;
    const int count = static_cast<int>(overlays.size());
    // What the overlays leave out at the area's edges, in metres of the image's pixels.
    const double metresPerPixel = (work.area.east - work.area.west) / work.area.width;
    const auto gap = static_cast<long long>(std::ceil(plan.inside.gap * metresPerPixel));
    done.description = QStringLiteral("KMZ de Garmin, WGS 84 con %1, %2 %3, bordes sin cubrir: "
                                      "hasta %4 m")
                           .arg(work.input.datum.name)
                           .arg(count)
                           .arg(count == 1 ? QStringLiteral("imagen") : QStringLiteral("imágenes"))
                           .arg(GroupedNumber(gap));
    const QString remark =
        TooManyImagesRemark(ExportFileName(ExportFormat::GarminKmz, work.input.job.bmpName), count);
    if (!remark.isEmpty()) {
        done.remarks << remark;
    }
    return done;
}
