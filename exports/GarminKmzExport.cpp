#include "exports/FormatWriters.h"

#include <QByteArray>
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

namespace {

// What Garmin handhelds take: each image at most a megapixel and under 3 MB, baseline JPEG.
constexpr int kOverlayPixels = 1024;
constexpr vsi_l_offset kOverlayBytes = 3 * 1024 * 1024;
constexpr int kQuality = 85;
constexpr int kLowestQuality = 45;
// Above 50 the overlay is drawn over the device's own maps, not under them.
constexpr int kDrawOrder = 51;

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
bool EncodeOverlay(const std::vector<GByte>& rgb, const PixelWindow& w, std::vector<GByte>* jpeg) {
    GDALDriverH driver = GDALGetDriverByName("JPEG");
    const GdalDataset pixels =
        RgbDataset(rgb.data(), w.width, w.height, 3, 3ll * w.width, {0, 1, 2});
    if (driver == nullptr || !pixels) {
        return false;
    }
    const std::string memoryFile =
        "/vsimem/kmz-overlay-" + std::to_string(reinterpret_cast<std::uintptr_t>(jpeg)) + ".jpg";
    for (int quality = kQuality; quality >= kLowestQuality; quality -= 10) {
        GdalArguments options{"QUALITY=" + std::to_string(quality), "PROGRESSIVE=NO"};
        GdalDataset encoded(GDALCreateCopy(driver, memoryFile.c_str(), pixels.get(), FALSE,
                                           options.list(), nullptr, nullptr));
        if (!encoded) {
            VSIUnlink(memoryFile.c_str());
            return false;
        }
        encoded.reset();
        vsi_l_offset length = 0;
        GByte* data = VSIGetMemFileBuffer(memoryFile.c_str(), &length, TRUE);
        if (data == nullptr) {
            return false;
        }
        jpeg->assign(data, data + length);
        VSIFree(data);
        if (length < kOverlayBytes) {
            return true;
        }
    }
    return false;
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
    explicit ArchiveView(const std::string& path)
        : m_file(QFile::decodeName(QByteArray::fromStdString(path))) {
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
// images in the archive; each is a baseline JPEG within the limits, and their boxes cover
// the area together, edge to edge.
bool CheckKmz(const std::string& path, const MovedArea& area, int expectedOverlays,
              QString* reason) {
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
    double west = HUGE_VAL, south = HUGE_VAL, east = -HUGE_VAL, north = -HUGE_VAL;
    double covered = 0.0;
    int overlays = 0;
    for (const CPLXMLNode* n = document->psChild; n != nullptr; n = n->psNext) {
        if (n->eType != CXT_Element || !EQUAL(n->pszValue, "GroundOverlay")) {
            continue;
        }
        ++overlays;
        const CPLXMLNode* box = CPLGetXMLNode(n, "LatLonBox");
        const char* href = CPLGetXMLValue(n, "Icon.href", nullptr);
        std::vector<GByte> image;
        const double b[] = {ChildNumber(box, "north"), ChildNumber(box, "south"),
                            ChildNumber(box, "east"), ChildNumber(box, "west")};
        if (box == nullptr || href == nullptr ||
            CPLGetXMLValue(n, "drawOrder", nullptr) == nullptr || !(b[0] > b[1] && b[2] > b[3]) ||
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
        north = std::max(north, b[0]);
        south = std::min(south, b[1]);
        east = std::max(east, b[2]);
        west = std::min(west, b[3]);
        covered += (b[0] - b[1]) * (b[2] - b[3]);
    }
    const double whole = (area.maxY - area.minY) * (area.maxX - area.minX);
    if (overlays != expectedOverlays || std::fabs(west - area.minX) > 1e-9 ||
        std::fabs(east - area.maxX) > 1e-9 || std::fabs(south - area.minY) > 1e-9 ||
        std::fabs(north - area.maxY) > 1e-9 || std::fabs(covered - whole) > whole * 1e-9) {
        *reason = QStringLiteral("las imágenes del KMZ escrito no cubren la zona");
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
    MovedArea area;
    QString reason;
    if (!MoveArea(work.area, MovedCrs::Wgs84, pipeline, &area, &reason)) {
        return Failure(reason);
    }
    const int width =
        std::max(1, static_cast<int>(std::lround((area.maxX - area.minX) / area.stepX)));
    const int height =
        std::max(1, static_cast<int>(std::lround((area.maxY - area.minY) / area.stepY)));

    const GdalDataset moved = MovedImage(work, MovedCrs::Wgs84, pipeline, area, width, height);
    if (!moved) {
        return GdalFailure(work, QStringLiteral("GDAL no puede pasar la imagen a WGS 84"));
    }

    // The boxes follow from the windows alone, so doc.kml goes first, where every reader
    // of a KMZ looks for it.
    const double stepX = (area.maxX - area.minX) / width;
    const double stepY = (area.maxY - area.minY) / height;
    const int across = (width + kOverlayPixels - 1) / kOverlayPixels;
    std::vector<Overlay> overlays;
    for (const PixelWindow& w : SplitIntoWindows(width, height, kOverlayPixels)) {
        const int index = static_cast<int>(overlays.size());
        Overlay o{w, "", 0, 0, 0, 0};
        char href[32];
        std::snprintf(href, sizeof href, "files/f%02d_%02d.jpg", index / across + 1,
                      index % across + 1);
        o.href = href;
        // The outer edges are the area's own, not sums of steps.
        o.west = w.x == 0 ? area.minX : area.minX + w.x * stepX;
        o.east = w.x + w.width == width ? area.maxX : area.minX + (w.x + w.width) * stepX;
        o.north = w.y == 0 ? area.maxY : area.maxY - w.y * stepY;
        o.south = w.y + w.height == height ? area.minY : area.maxY - (w.y + w.height) * stepY;
        overlays.push_back(o);
    }

    void* zip = CPLCreateZip(path.c_str(), nullptr);
    if (zip == nullptr) {
        return GdalFailure(work, QStringLiteral("no se puede crear el KMZ"));
    }
    bool written = true;
    const QByteArray kml = DocKml(work.input.job.bmpName, overlays);
    written = CPLCreateFileInZip(zip, "doc.kml", nullptr) == CE_None &&
              CPLWriteFileInZip(zip, kml.constData(), static_cast<int>(kml.size())) == CE_None &&
              CPLCloseFileInZip(zip) == CE_None;
    // JPEG data does not shrink when deflated: the images are stored.
    GdalArguments stored{"COMPRESSED=NO"};
    std::vector<GByte> rgb;
    std::vector<GByte> jpeg;
    for (size_t i = 0; written && i < overlays.size(); ++i) {
        const PixelWindow& w = overlays[i].window;
        rgb.resize(3ull * static_cast<size_t>(w.width) * static_cast<size_t>(w.height));
        written = GDALDatasetRasterIO(moved.get(), GF_Read, w.x, w.y, w.width, w.height, rgb.data(),
                                      w.width, w.height, GDT_Byte, 3, nullptr, 3, 3 * w.width,
                                      1) == CE_None &&
                  EncodeOverlay(rgb, w, &jpeg) &&
                  CPLCreateFileInZip(zip, overlays[i].href.c_str(), stored.list()) == CE_None &&
                  CPLWriteFileInZip(zip, jpeg.data(), static_cast<int>(jpeg.size())) == CE_None &&
                  CPLCloseFileInZip(zip) == CE_None &&
                  work.progress.report(0.95 * static_cast<double>(i + 1) / overlays.size());
    }
    written = CPLCloseZip(zip) == CE_None && written;
    if (!written) {
        return GdalFailure(work, QStringLiteral("no se ha podido escribir el KMZ"));
    }

    if (!CheckKmz(path, area, static_cast<int>(overlays.size()), &reason)) {
        return Failure(reason);
    }
    WrittenFile done;
    done.ok = true;
    const int count = static_cast<int>(overlays.size());
    done.description = QStringLiteral("KMZ de Garmin, WGS 84 con %1, %2 %3")
                           .arg(work.input.datum.name)
                           .arg(count)
                           .arg(count == 1 ? QStringLiteral("imagen") : QStringLiteral("imágenes"));
    const QString remark =
        TooManyImagesRemark(ExportFileName(ExportFormat::GarminKmz, work.input.job.bmpName), count);
    if (!remark.isEmpty()) {
        done.remarks << remark;
    }
    return done;
}
