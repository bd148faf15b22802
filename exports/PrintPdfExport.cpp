#include "exports/FormatWriters.h"
#include "exports/OutputFile.h"
#include "exports/PrintGrid.h"
#include "exports/PrintPagePainter.h"
#include "job/MapArea.h"
#include "job/NumberFormat.h"
#include "job/WriteError.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cerrno>
#include <cmath>
#include <cpl_string.h>
#include <fcntl.h>
#include <ogr_api.h>
#include <unistd.h>

namespace {

constexpr int kEtrs89Utm30 = 25830;
// How far GDAL's reading of a page may lie from what was written: the frame's corners to
// 2 cm of ground. GDAL reads a page's map as square to the page, without the few millionths
// of a turn between ED50 and ETRS89: through its numbers a corner may be off by some
// decimetres on an A3 page at 1:50.000, the size of a point by a few hundred thousandths.
constexpr double kCornerMetres = 0.02;
constexpr double kMappedCornerMetres = 1.0;
constexpr double kPointSizeShare = 1e-4;
// The part of the work that drawing the pages takes; GDAL's georeference takes the rest.
constexpr double kDrawingShare = 0.85;

QString MapKindName(MapKind kind) {
    switch (kind) {
    case MapKind::Carto:
        return QStringLiteral("Cartografía");
    case MapKind::Orto:
        return QStringLiteral("Ortofoto");
    case MapKind::MDT:
        return QStringLiteral("M.D.T.");
    }
    return {};
}

// "Ortofoto, mosaicos de 500 m (1,25 m por píxel)".
QString MapText(const DownloadJob& job) {
    const double pixel = double(job.tileSize) / kTilePixels;
    return QStringLiteral("%1, mosaicos de %2 m (%3 m por píxel)")
        .arg(MapKindName(job.kind), GroupedNumber(job.tileSize),
             ProgramLocale().toString(pixel, 'g', 4));
}

// "PDF:2:<file>": one page as GDAL opens it.
std::string PagePath(const std::string& path, int page) {
    return "PDF:" + std::to_string(page) + ':' + path;
}

std::string NeatlineWkt(const PageGrid& grid) {
    std::string wkt = "POLYGON ((";
    for (size_t i = 0; i <= grid.neatline.size(); ++i) {
        const QPointF& p = grid.neatline[i % grid.neatline.size()];
        wkt +=
            (i == 0 ? "" : ",") + GdalArguments::Number(p.x()) + ' ' + GdalArguments::Number(p.y());
    }
    return wkt + "))";
}

// A file written straight through its descriptor that keeps the cause of the first write
// that failed: Qt's own file device lets a failed write pass without an error.
class WriteCheckedFile : public QIODevice {
public:
    explicit WriteCheckedFile(const QString& path) : m_path(QFile::encodeName(path)) {}
    ~WriteCheckedFile() override { close(); }

    bool open(OpenMode mode) override {
        m_fd = ::open(m_path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            m_failure = errno;
            return false;
        }
        return QIODevice::open(mode | QIODevice::Unbuffered);
    }
    void close() override {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        QIODevice::close();
    }
    bool isSequential() const override { return true; }
    // errno of the first write that failed, 0 while none has.
    int failure() const { return m_failure; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override {
        qint64 done = 0;
        while (done < length && m_failure == 0) {
            const ssize_t n = ::write(m_fd, data + done, size_t(length - done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                m_failure = n < 0 ? errno : EIO;
                return -1;
            }
            done += n;
        }
        return m_failure == 0 ? done : -1;
    }

private:
    QByteArray m_path;
    int m_fd = -1;
    int m_failure = 0;
};

// Draws every page; the reason when the file cannot be written.
QString DrawPages(const ExportWork& work, const std::string& path, const PrintPlan& plan,
                  const std::vector<PageGrid>& grids) {
    const DownloadJob& job = work.input.job;
    // The file opened here rather than by the writer, which never says that a write failed
    // (a full disk, a file-size limit).
    WriteCheckedFile file(OutputFile::QtPath(path));
    if (!file.open(QIODevice::WriteOnly)) {
        return LocalWriteErrorFor(file.failure()).reason;
    }
    QPdfWriter writer(&file);
    // One device unit a point, as the PDF itself counts.
    writer.setResolution(72);
    writer.setPageSize(QPageSize(plan.paper == PrintPaper::A3 ? QPageSize::A3 : QPageSize::A4));
    writer.setPageOrientation(plan.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    writer.setTitle(QStringLiteral("%1 a 1:%2").arg(job.bmpName, GroupedNumber(plan.scale)));
    writer.setCreator(QStringLiteral("Morvel"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        return QStringLiteral("no se puede escribir el PDF");
    }
    const PageTexts texts{
        job.bmpName, MapText(job),
        ProgramLocale().toString(QDate::currentDate(), QStringLiteral("d 'de' MMMM 'de' yyyy"))};
    const GroundRect imageGround = JobRect(job);
    for (size_t i = 0; i < plan.pages.size(); ++i) {
        if (!work.progress.report(kDrawingShare * double(i) / double(plan.pages.size()))) {
            painter.end();
            return QStringLiteral("detenido");
        }
        if (i > 0 && !writer.newPage()) {
            painter.end();
            return QStringLiteral("no se puede escribir el PDF");
        }
        painter.resetTransform();
        painter.scale(kPointsPerMm, kPointsPerMm);
        PaintPrintPage(painter, plan, plan.pages[i], grids[i], work.input.image, imageGround,
                       texts);
    }
    if (!painter.end()) {
        return QStringLiteral("no se puede escribir el PDF");
    }
    return file.failure() != 0 ? LocalWriteErrorFor(file.failure()).reason : QString();
}

// What GDAL reads of one page against what was meant; the first difference, if any.
QString PageDifference(GDALDatasetH dataset, const PrintPlan& plan, const PrintPage& page,
                       const PageGrid& grid) {
    const int number = page.number;
    if (DatasetEpsg(dataset) != kEtrs89Utm30) {
        return QStringLiteral("la hoja %1 del PDF escrito no está en EPSG:%2")
            .arg(number)
            .arg(kEtrs89Utm30);
    }
    // At 72 dots an inch, a pixel is a point of the paper.
    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    if (std::abs(width - plan.paperMm.width() * kPointsPerMm) > 1.5 ||
        std::abs(height - plan.paperMm.height() * kPointsPerMm) > 1.5) {
        return QStringLiteral("la hoja %1 del PDF escrito no es %2")
            .arg(number)
            .arg(PaperName(plan.paper));
    }
    double t[6];
    const std::array<double, 6>& meant = grid.geoTransform;
    const double pointMetres = std::hypot(meant[1], meant[4]);
    if (GDALGetGeoTransform(dataset, t) != CE_None ||
        std::fabs(std::hypot(t[1], t[4]) - pointMetres) > pointMetres * kPointSizeShare) {
        return QStringLiteral("la hoja %1 del PDF escrito no está a escala 1:%2")
            .arg(number)
            .arg(GroupedNumber(plan.scale));
    }
    const char* text = GDALGetMetadataItem(dataset, "NEATLINE", nullptr);
    OGRGeometryH neatline = nullptr;
    char* wkt = const_cast<char*>(text);
    if (text == nullptr || OGR_G_CreateFromWkt(&wkt, nullptr, &neatline) != OGRERR_NONE) {
        return QStringLiteral("la hoja %1 del PDF escrito no tiene marco").arg(number);
    }
    // Every corner of the frame, and nothing else, is a corner of the frame read back.
    bool same = false;
    if (OGRGeometryH ring = OGR_G_GetGeometryRef(neatline, 0)) {
        const int count = OGR_G_GetPointCount(ring);
        same = count == 5;
        for (const QPointF& corner : grid.neatline) {
            bool found = false;
            for (int i = 0; i < count; ++i) {
                found = found || std::hypot(OGR_G_GetX(ring, i) - corner.x(),
                                            OGR_G_GetY(ring, i) - corner.y()) <= kCornerMetres;
            }
            same = same && found;
        }
    }
    OGR_G_DestroyGeometry(neatline);
    if (!same) {
        return QStringLiteral("el marco de la hoja %1 del PDF escrito no es el de la zona")
            .arg(number);
    }
    // The frame's corners where GDAL's numbers put them.
    const QRectF& f = page.frame;
    const QPointF corners[] = {f.topLeft(), f.topRight(), f.bottomRight(), f.bottomLeft()};
    for (size_t i = 0; i < grid.neatline.size(); ++i) {
        const double x = corners[i].x() * kPointsPerMm;
        const double y = corners[i].y() * kPointsPerMm;
        if (std::hypot(t[0] + t[1] * x + t[2] * y - grid.neatline[i].x(),
                       t[3] + t[4] * x + t[5] * y - grid.neatline[i].y()) > kMappedCornerMetres) {
            return QStringLiteral("la hoja %1 del PDF escrito no está en su sitio").arg(number);
        }
    }
    return {};
}

} // namespace

WrittenFile WritePrintPdf(const ExportWork& work, const std::string& path) {
    const DownloadJob& job = work.input.job;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return Failure(QStringLiteral("no hay tipos de letra para el PDF"));
    }
    if (!IsPrintScale(job.printScale)) {
        return Failure(QStringLiteral("la escala 1:%1 no es de las del PDF")
                           .arg(GroupedNumber(job.printScale)));
    }
    QString reason;
    const std::unique_ptr<Etrs89Grid> etrs89 =
        Etrs89Grid::FromPipeline(work.input.datum.pipeline, &reason);
    if (!etrs89) {
        return Failure(reason);
    }
    const PrintPlan plan = PlanPrintPages(JobRect(job), job.printScale, job.printPaper);
    if (plan.pages.empty()) {
        return Failure(QStringLiteral("la zona no tiene tamaño"));
    }
    std::vector<PageGrid> grids(plan.pages.size());
    for (size_t i = 0; i < plan.pages.size(); ++i) {
        if (!MakePageGrid(plan.pages[i], plan.scale, *etrs89, &grids[i], &reason)) {
            return Failure(reason);
        }
    }
    reason = DrawPages(work, path, plan, grids);
    if (!reason.isEmpty()) {
        return Failure(reason);
    }

    // GDAL writes each page's georeference into the file as an update of it, the page's
    // points as its pixels.
    const ThreadGdalOption pointPixels("GDAL_PDF_DPI", "72");
    const ThreadGdalOption encoding("GDAL_PDF_GEO_ENCODING", "ISO32000");
    const char* const drivers[] = {"PDF", nullptr};
    const std::string wkt = EpsgWkt(kEtrs89Utm30);
    const int pages = static_cast<int>(plan.pages.size());
    for (int n = 1; n <= pages; ++n) {
        if (!work.progress.report(kDrawingShare + (1.0 - kDrawingShare) * (n - 1) / pages)) {
            return Failure(QStringLiteral("detenido"));
        }
        const PageGrid& grid = grids[static_cast<size_t>(n - 1)];
        GdalDataset page(GDALOpenEx(PagePath(path, n).c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE,
                                    drivers, nullptr, nullptr));
        std::array<double, 6> transform = grid.geoTransform;
        if (!page || GDALSetProjection(page.get(), wkt.c_str()) != CE_None ||
            GDALSetGeoTransform(page.get(), transform.data()) != CE_None ||
            GDALSetMetadataItem(page.get(), "NEATLINE", NeatlineWkt(grid).c_str(), nullptr) !=
                CE_None) {
            return GdalFailure(
                work, QStringLiteral("GDAL no ha podido georreferenciar la hoja %1").arg(n));
        }
        page.reset();
        if (work.errors.failed()) {
            return GdalFailure(work, {});
        }
    }

    // Read back as another program would: every page on the paper, at the scale, framed.
    GdalDataset whole(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr));
    if (!whole) {
        return Failure(QStringLiteral("GDAL no puede leer el PDF escrito"));
    }
    const int found = pages == 1 ? 1 : CSLCount(GDALGetMetadata(whole.get(), "SUBDATASETS")) / 2;
    whole.reset();
    if (found != pages) {
        return Failure(
            QStringLiteral("el PDF escrito tiene %1 hojas, no %2").arg(found).arg(pages));
    }
    for (int n = 1; n <= pages; ++n) {
        const GdalDataset page(GDALOpenEx(PagePath(path, n).c_str(),
                                          GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr,
                                          nullptr));
        if (!page) {
            return Failure(QStringLiteral("GDAL no puede leer la hoja %1 del PDF escrito").arg(n));
        }
        const auto i = static_cast<size_t>(n - 1);
        reason = PageDifference(page.get(), plan, plan.pages[i], grids[i]);
        if (!reason.isEmpty()) {
            return Failure(reason);
        }
    }
    WrittenFile done;
    done.ok = true;
    done.description =
        QStringLiteral("PDF para imprimir, %1 a 1:%2, ETRS89 / UTM 30N con %3")
            .arg(pages == 1 ? QStringLiteral("1 hoja %1").arg(PaperName(plan.paper))
                            : QStringLiteral("%1 hojas %2").arg(pages).arg(PaperName(plan.paper)),
                 GroupedNumber(plan.scale), work.input.datum.name);
    return done;
}
