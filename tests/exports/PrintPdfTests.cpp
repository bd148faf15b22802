// The PDF to print: its pages as poppler's tools and GDAL read them (the paper, the scale,
// each page placed on ETRS89, the grid where PROJ puts it, the texts, the image at its own
// pixels), and the cut of an area into pages and their grids without a file.
#include "exports/PrintGrid.h"
#include "exports/PrintPagePainter.h"
#include "job/MapArea.h"
#include "tests/exports/ExportTestSupport.h"
#include "tests/geo/GeoTestTools.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <ogr_api.h>

#include <cmath>
#include <memory>

namespace {

constexpr double kA4Points[] = {595.28, 841.89};
// Pixels of a page rendered at 254 dots an inch: ten a millimetre.
constexpr int kRenderDpi = 254;
constexpr double kPixelsPerMm = kRenderDpi / 25.4;

struct OgrGeometry {
    explicit OgrGeometry(OGRGeometryH g = nullptr) : h(g) {}
    ~OgrGeometry() { OGR_G_DestroyGeometry(h); }
    OgrGeometry(const OgrGeometry&) = delete;
    OgrGeometry& operator=(const OgrGeometry&) = delete;
    OGRGeometryH h;
};

// A 5 x 5 km area (5 x 5 tiles of 1000 m) at 1:25.000 on A4, written once for the suite, on
// a pale image so that the grid's lines show.
class PrintPdf : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<QTemporaryDir>();
        ExportCase area;
        area.name = QStringLiteral("5 x 5 km");
        area.across = 5;
        area.down = 5;
        s_input = MakeExportInput(area, s_dir->path());
        s_input.image.fill(QColor(232, 236, 222));
        s_result = ExportNow(ExportFormat::PrintPdf, s_input);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override { ASSERT_TRUE(s_result.ok) << s_result.error.toStdString(); }

    static QString file() { return s_dir->filePath(QStringLiteral("Prueba.pdf")); }
    static PrintPlan plan() {
        return PlanPrintPages(JobRect(s_input.job), s_input.job.printScale, PrintPaper::A4);
    }
    // `gdalinfo -json` of one page, its pixels the page's points.
    static QJsonObject PageInfo(int page) {
        QByteArray json;
        EXPECT_TRUE(RunGdalTool(QStringLiteral("gdalinfo"),
                                {QStringLiteral("-json"), QStringLiteral("--config"),
                                 QStringLiteral("GDAL_PDF_DPI"), QStringLiteral("72"),
                                 QStringLiteral("PDF:%1:%2").arg(page).arg(file())},
                                &json));
        return QJsonDocument::fromJson(json).object();
    }
    static QString Poppler(const QString& tool, const QStringList& arguments) {
        QByteArray out;
        EXPECT_TRUE(RunProgram(tool, arguments, &out, "poppler-utils"));
        return QString::fromUtf8(out);
    }

    static std::unique_ptr<QTemporaryDir> s_dir;
    static ExportInput s_input;
    static ExportResult s_result;
};

std::unique_ptr<QTemporaryDir> PrintPdf::s_dir;
ExportInput PrintPdf::s_input;
ExportResult PrintPdf::s_result;

TEST_F(PrintPdf, EveryPageIsA4AtTheScaleOnEtrs89) {
    EXPECT_EQ(s_result.logLines,
              QStringList{QStringLiteral(". Exportado Prueba.pdf (PDF para imprimir, 2 hojas A4 "
                                         "a 1:25.000, ETRS89 / UTM 30N con %1)")
                              .arg(s_input.datum.name)});
    const QString info =
        Poppler(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                            QStringLiteral("-l"), QStringLiteral("99"), file()});
    const QRegularExpression size(QStringLiteral("Page +\\d+ size: +([\\d.]+) x ([\\d.]+) pts"));
    int pages = 0;
    for (auto m = size.globalMatch(info); m.hasNext(); ++pages) {
        const auto page = m.next();
        const double w = page.captured(1).toDouble();
        const double h = page.captured(2).toDouble();
        const bool upright = std::fabs(w - kA4Points[0]) <= 2 && std::fabs(h - kA4Points[1]) <= 2;
        const bool lying = std::fabs(w - kA4Points[1]) <= 2 && std::fabs(h - kA4Points[0]) <= 2;
        EXPECT_TRUE(upright || lying) << page.captured(0).toStdString();
    }
    EXPECT_EQ(pages, 2) << info.toStdString();
    for (int page = 1; page <= pages; ++page) {
        SCOPED_TRACE(page);
        const QJsonObject report = PageInfo(page);
        const QJsonArray t = report[QStringLiteral("geoTransform")].toArray();
        ASSERT_EQ(t.size(), 6);
        // A point is 0.3528 mm of paper: 8.82 m of ground at 1:25.000.
        const double metres = 25000 * 0.3528e-3;
        EXPECT_NEAR(std::hypot(t[1].toDouble(), t[4].toDouble()), metres, metres * 0.005);
        EXPECT_NEAR(std::hypot(t[2].toDouble(), t[5].toDouble()), metres, metres * 0.005);
        const QString wkt =
            report[QStringLiteral("coordinateSystem")].toObject()[QStringLiteral("wkt")].toString();
        EXPECT_TRUE(wkt.contains(QStringLiteral("ID[\"EPSG\",25830]]"))) << wkt.toStdString();
    }
}

// The pages' frames, as GDAL reads them, leave no part of the area out, and take in no more
// than it: the area moved to ETRS89 / UTM 30N by PROJ's own choice of operation.
TEST_F(PrintPdf, TheFramesTogetherCoverTheArea) {
    OgrGeometry frames(OGR_G_CreateGeometry(wkbMultiPolygon));
    for (int page = 1; page <= 2; ++page) {
        const QByteArray wkt = PageInfo(page)[QStringLiteral("metadata")]
                                   .toObject()[QString()]
                                   .toObject()[QStringLiteral("NEATLINE")]
                                   .toString()
                                   .toUtf8();
        char* text = const_cast<char*>(wkt.constData());
        OGRGeometryH polygon = nullptr;
        ASSERT_EQ(OGR_G_CreateFromWkt(&text, nullptr, &polygon), OGRERR_NONE) << page;
        OGR_G_AddGeometryDirectly(frames.h, polygon);
    }
    const OgrGeometry together(OGR_G_UnionCascaded(frames.h));
    const Ed50Rect r = RectOf(s_input.job);
    const PlainProj proj(-2.1, 42.5, -1.8, 42.8, "EPSG:25830");
    OGREnvelope box;
    OGR_G_GetEnvelope(together.h, &box);
    constexpr int kSteps = 20;
    double west = HUGE_VAL, east = -HUGE_VAL, south = HUGE_VAL, north = -HUGE_VAL;
    for (int i = 0; i <= kSteps; ++i) {
        for (int j = 0; j <= kSteps; ++j) {
            const PJ_XY p = proj(r.west + (r.east - r.west) * i / kSteps,
                                 r.south + (r.north - r.south) * j / kSteps);
            west = std::min(west, p.x);
            east = std::max(east, p.x);
            south = std::min(south, p.y);
            north = std::max(north, p.y);
            const OgrGeometry point(OGR_G_CreateGeometry(wkbPoint));
            OGR_G_SetPoint_2D(point.h, 0, p.x, p.y);
            // Within what two of PROJ's operations for the area may differ by.
            EXPECT_LE(OGR_G_Distance(together.h, point.h), 0.5) << p.x << ' ' << p.y;
        }
    }
    EXPECT_NEAR(box.MinX, west, 0.5);
    EXPECT_NEAR(box.MaxX, east, 0.5);
    EXPECT_NEAR(box.MinY, south, 0.5);
    EXPECT_NEAR(box.MaxY, north, 0.5);
}

// Rendered as a printer would, the grid's lines are 1 km of ground apart, 40.0 mm of paper,
// and each lies on a whole kilometre of ETRS89 as PROJ moves the page's ground there.
TEST_F(PrintPdf, TheGridLinesOfAPageAre40MmApartOnWholeKilometres) {
    const QString prefix = s_dir->filePath(QStringLiteral("page"));
    Poppler(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(kRenderDpi), QStringLiteral("-f"),
             QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"),
             QStringLiteral("-singlefile"), QStringLiteral("-png"), file(), prefix});
    const QImage image =
        QImage(prefix + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(image.isNull());
    const PrintPage page = plan().pages.front();
    // Inside the frame, clear of the ED50 ticks at its edges.
    const QRect inner =
        QRectF(page.frame.topLeft() * kPixelsPerMm, page.frame.size() * kPixelsPerMm)
            .toRect()
            .adjusted(50, 50, -50, -50);
    const PlainProj proj(-2.1, 42.5, -1.8, 42.8, "EPSG:25830");
    for (const bool vertical : {true, false}) {
        SCOPED_TRACE(vertical ? "lines of easting" : "lines of northing");
        const int across = vertical ? inner.width() : inner.height();
        const int along = vertical ? inner.height() : inner.width();
        // A line darkens nearly the whole of its column (or row); lines the other way, a
        // few pixels.
        std::vector<double> centres;
        int runStart = -1;
        for (int i = 0; i <= across; ++i) {
            int dark = 0;
            for (int j = 0; i < across && j < along; ++j) {
                const QRgb c = vertical ? image.pixel(inner.left() + i, inner.top() + j)
                                        : image.pixel(inner.left() + j, inner.top() + i);
                dark += qGray(c) < 100 ? 1 : 0;
            }
            const bool line = i < across && dark > along * 9 / 10;
            if (line && runStart < 0) {
                runStart = i;
            } else if (!line && runStart >= 0) {
                centres.push_back((vertical ? inner.left() : inner.top()) +
                                  (runStart + i - 1) / 2.0 + 0.5);
                runStart = -1;
            }
        }
        ASSERT_GE(centres.size(), 2u);
        for (size_t k = 1; k < centres.size(); ++k) {
            EXPECT_NEAR((centres[k] - centres[k - 1]) / kPixelsPerMm, 40.0, 0.2);
        }
        for (const double c : centres) {
            const double mm = c / kPixelsPerMm;
            // The ground at the middle of the line on the page.
            const double easting = vertical ? page.ground.west + (mm - page.frame.left()) * 25.0
                                            : (page.ground.west + page.ground.east) / 2;
            const double northing = vertical ? (page.ground.south + page.ground.north) / 2
                                             : page.ground.north - (mm - page.frame.top()) * 25.0;
            const PJ_XY p = proj(easting, northing);
            const double metres = vertical ? p.x : p.y;
            // 0.2 mm of paper is 5 m of ground.
            EXPECT_NEAR(metres, std::round(metres / 1000.0) * 1000.0, 5.0) << mm;
        }
    }
}

TEST_F(PrintPdf, TheTextsAreTextInSpanish) {
    const auto text = [](int page) {
        return Poppler(QStringLiteral("pdftotext"),
                       {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                        QString::number(page), file(), QStringLiteral("-")});
    };
    for (const int page : {1, 2}) {
        SCOPED_TRACE(page);
        const QString t = text(page);
        for (const QString& expected :
             {QStringLiteral("Prueba · Hoja %1 de 2").arg(page),
              QStringLiteral("Ortofoto, mosaicos de 1.000 m (2,5 m por píxel)"),
              QStringLiteral("Escala 1:25.000"), QStringLiteral("Cuadrícula UTM huso 30, ETRS89"),
              QStringLiteral("(ED50 en el marco)"),
              QStringLiteral("Imprimir a tamaño real (100 %)"), QStringLiteral("1.000"),
              QStringLiteral("4.727")}) {
            EXPECT_TRUE(t.contains(expected))
                << expected.toStdString() << " in " << t.toStdString();
        }
    }
    // Each page names its neighbour at the edge they share.
    EXPECT_TRUE(text(1).contains(QStringLiteral("▼ Hoja 2")));
    EXPECT_TRUE(text(2).contains(QStringLiteral("▲ Hoja 1")));
}

// The image is laid on at its own pixels (2.5 m at 1:25.000: 254 to the inch), the part each
// page shows, compressed as JPEG.
TEST_F(PrintPdf, EachPageHoldsItsPartOfTheImageAsJpegAtItsOwnPixels) {
    const QStringList lines =
        Poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), file()}).split(u'\n');
    const PrintPlan p = plan();
    int images = 0;
    for (const QString& line : lines.mid(2)) {
        const QStringList f = line.simplified().split(u' ');
        if (f.size() < 14) {
            continue;
        }
        const int page = f[0].toInt();
        ASSERT_TRUE(page >= 1 && page <= 2) << line.toStdString();
        const ImagePiece piece =
            ImagePieceOf(p.pages[page - 1], p.scale, s_input.image.size(), JobRect(s_input.job));
        EXPECT_EQ(f[3].toInt(), piece.pixels.width()) << line.toStdString();
        EXPECT_EQ(f[4].toInt(), piece.pixels.height()) << line.toStdString();
        EXPECT_EQ(f[8], QStringLiteral("jpeg")) << line.toStdString();
        EXPECT_NEAR(f[12].toDouble(), 254, 1) << line.toStdString();
        EXPECT_NEAR(f[13].toDouble(), 254, 1) << line.toStdString();
        ++images;
    }
    EXPECT_EQ(images, 2);
}

struct PlanCase {
    const char* what;
    double widthKm;
    double heightKm;
    int32_t scale;
    PrintPaper paper;
    bool landscape;
    int across;
    int down;
};

// The fewest pages, upright unless lying takes fewer; every frame alike, within the paper's
// margins and bands, at the scale; neighbours sharing 1 cm; the area covered exactly.
TEST(PrintPages, CutsTheAreaIntoTheFewestPagesOfThePaper) {
    const PlanCase cases[] = {
        {"5 x 5 km at 1:25.000 on A4: 20 cm", 5, 5, 25000, PrintPaper::A4, false, 2, 1},
        {"the same on A3", 5, 5, 25000, PrintPaper::A3, false, 1, 1},
        {"10 x 10 km at 1:50.000: the same 20 cm", 10, 10, 50000, PrintPaper::A4, false, 2, 1},
        {"a wide area, on one page lying", 6, 3.5, 25000, PrintPaper::A4, true, 1, 1},
        {"10 x 10 km at 1:25.000: six either way, upright", 10, 10, 25000, PrintPaper::A4, false, 3,
         2},
        {"a tall strip at 1:10.000", 1, 5, 10000, PrintPaper::A4, false, 1, 3},
        {"nothing at all", 0, 5, 25000, PrintPaper::A4, false, 0, 0},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.what);
        const GroundRect area{585000, 4730000 - c.heightKm * 1000, 585000 + c.widthKm * 1000,
                              4730000};
        const PrintPlan plan = PlanPrintPages(area, c.scale, c.paper);
        EXPECT_EQ(plan.across, c.across);
        EXPECT_EQ(plan.down, c.down);
        ASSERT_EQ(plan.pages.size(), size_t(c.across * c.down));
        if (plan.pages.empty()) {
            continue;
        }
        EXPECT_EQ(plan.landscape, c.landscape);
        const QSizeF paper =
            c.landscape ? PaperMillimetres(c.paper).transposed() : PaperMillimetres(c.paper);
        EXPECT_EQ(plan.paperMm, paper);
        const double mm = 1000.0 / c.scale;
        for (const PrintPage& p : plan.pages) {
            SCOPED_TRACE(p.number);
            EXPECT_EQ(p.number, p.row * plan.across + p.column + 1);
            EXPECT_EQ(p.frame, plan.pages.front().frame);
            EXPECT_NEAR(p.frame.width(), p.ground.width() * mm, 1e-9);
            EXPECT_NEAR(p.frame.height(), p.ground.height() * mm, 1e-9);
            const double side = kPrintMarginMm + kPrintLabelBandMm;
            EXPECT_GE(p.frame.left(), side);
            EXPECT_LE(p.frame.right(), paper.width() - side);
            EXPECT_GE(p.frame.top(), side + kPrintHeaderMm);
            EXPECT_LE(p.frame.bottom(), paper.height() - side - kPrintFooterMm);
            EXPECT_EQ(p.west, p.column > 0 ? p.number - 1 : 0);
            EXPECT_EQ(p.east, p.column + 1 < plan.across ? p.number + 1 : 0);
            EXPECT_EQ(p.north, p.row > 0 ? p.number - plan.across : 0);
            EXPECT_EQ(p.south, p.row + 1 < plan.down ? p.number + plan.across : 0);
            if (p.east != 0) {
                const PrintPage& next = plan.pages[size_t(p.east - 1)];
                EXPECT_NEAR((p.ground.east - next.ground.west) * mm, kPrintOverlapMm, 1e-6);
            }
            if (p.south != 0) {
                const PrintPage& below = plan.pages[size_t(p.south - 1)];
                EXPECT_NEAR((below.ground.north - p.ground.south) * mm, kPrintOverlapMm, 1e-6);
            }
        }
        EXPECT_EQ(plan.pages.front().ground.west, area.west);
        EXPECT_EQ(plan.pages.front().ground.north, area.north);
        EXPECT_EQ(plan.pages.back().ground.east, area.east);
        EXPECT_EQ(plan.pages.back().ground.south, area.south);
    }
}

// At each scale: the ETRS89 lines PrintGridMetres() apart on the paper, labelled on every
// edge; the ED50 ticks where the map server's grid meets the frame; the page's georeference
// the frame's corners moved by PROJ.
TEST(PrintPages, EachPageHasItsGridAndItsPlaceOnEtrs89) {
    const ExportInput input = MakeExportInput(ExportCase{}, QDir::tempPath());
    QString error;
    const auto grid = Etrs89Grid::FromPipeline(input.datum.pipeline, &error);
    ASSERT_TRUE(grid) << error.toStdString();
    const PlainProj proj(-2.1, 42.5, -1.8, 42.8, "EPSG:25830");
    for (const int32_t scale : kPrintScales) {
        SCOPED_TRACE(scale);
        const GroundRect area{585000, 4722000, 593000, 4730000};
        const PrintPlan plan = PlanPrintPages(area, scale, PrintPaper::A4);
        const PrintPage& page = plan.pages.front();
        PageGrid g;
        ASSERT_TRUE(MakePageGrid(page, scale, *grid, &g, &error)) << error.toStdString();
        const double spacing = PrintGridMetres(scale) * 1000.0 / scale;
        std::vector<double> eastings;
        for (const GridLine& line : g.lines) {
            if (line.ofEasting) {
                const QPointF middle = line.points[line.points.size() / 2];
                eastings.push_back(middle.x());
            }
        }
        ASSERT_GE(eastings.size(), 2u);
        for (size_t k = 1; k < eastings.size(); ++k) {
            EXPECT_NEAR(eastings[k] - eastings[k - 1], spacing, 0.01);
        }
        for (const FrameEdge edge :
             {FrameEdge::North, FrameEdge::East, FrameEdge::South, FrameEdge::West}) {
            EXPECT_TRUE(std::any_of(g.labels.begin(), g.labels.end(),
                                    [edge](const FrameMark& m) { return m.edge == edge; }));
        }
        for (const FrameMark& tick : g.ed50Ticks) {
            const bool across = tick.edge == FrameEdge::North || tick.edge == FrameEdge::South;
            const double metres =
                across ? page.ground.west + (tick.at - page.frame.left()) / 1000.0 * scale
                       : page.ground.north - (tick.at - page.frame.top()) / 1000.0 * scale;
            EXPECT_NEAR(metres,
                        std::round(metres / PrintGridMetres(scale)) * PrintGridMetres(scale), 1e-6);
        }
        EXPECT_FALSE(g.ed50Ticks.empty());
        const QPointF corners[] = {{page.ground.west, page.ground.north},
                                   {page.ground.east, page.ground.north},
                                   {page.ground.east, page.ground.south},
                                   {page.ground.west, page.ground.south}};
        for (size_t i = 0; i < 4; ++i) {
            const PJ_XY p = proj(corners[i].x(), corners[i].y());
            EXPECT_NEAR(g.neatline[i].x(), p.x, 0.5);
            EXPECT_NEAR(g.neatline[i].y(), p.y, 0.5);
        }
        const double point = scale * 25.4 / 72.0 / 1000.0;
        EXPECT_NEAR(std::hypot(g.geoTransform[1], g.geoTransform[4]), point, point * 1e-5);
    }
}

} // namespace
