// The demonstration map: grid lines where the ground says, a colour per map type, and a
// server the fetcher can download from.
#include "tests/download/FetchTestSupport.h"
#include "tools/DemoMapServer.h"

namespace {

// The first tile of the 2000 m grid at 585000 / 4730000: 585000.3846 .. 587000.6154 east by
// 4728000 .. 4730000 north on 400 px, so the 586000 line falls at x = 999.6154 / 2000.2308 *
// 400 = 199.9 and the 585700 line at 139.9; the 4729000 line at y = 200.
const char kExampleTile[] =
    "/navegar/asp/mime.aspx?TIPO=%1&guid=1&npetic=1&Xmin=585000.3846153846"
    "&Ymin=728000&Xmax=587000.6153846154&Ymax=730000&PixAncho=400&PixAlto=400";

QImage PaintExample(int tipo) {
    return PaintDemoTile(ParseMapTileQuery(QString::fromLatin1(kExampleTile).arg(tipo).toLatin1()));
}

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

TEST(DemoMap, GridLinesAndTextInTheTypesColours) {
    EXPECT_NE(DemoStyleFor(6).background, DemoStyleFor(0).background);
    for (const int tipo : {6, 0}) {
        const DemoStyle style = DemoStyleFor(tipo);
        const QImage image = PaintExample(tipo);
        ASSERT_EQ(image.size(), QSize(400, 400));
        EXPECT_EQ(At(image, 199, 100), style.majorLine) << tipo; // 586000 E
        EXPECT_EQ(At(image, 100, 200), style.majorLine) << tipo; // 4729000 N
        EXPECT_EQ(At(image, 139, 150), style.minorLine) << tipo; // 585700 E
        EXPECT_EQ(At(image, 150, 140), style.minorLine) << tipo; // 4729300 N
        EXPECT_EQ(At(image, 150, 150), style.background) << tipo;
        EXPECT_EQ(At(image, 205, 150), style.background) << tipo;
        int dark = 0; // the rectangle written in three lines of text, bottom left
        for (int i = 0; i < 70 * 220; ++i) {
            dark += qGray(image.pixel(4 + i % 220, 330 + i / 220)) < 100 ? 1 : 0;
        }
        EXPECT_GT(dark, 200) << tipo;
    }
}

TEST(DemoMap, HundredMetreLinesAreLeftOutWhenTooDense) {
    // 10 km on 400 px: 100 m would be 4 px apart; only the kilometres are drawn, 40 px apart.
    const QImage image = PaintDemoTile(
        ParseMapTileQuery("/navegar/asp/mime.aspx?TIPO=6&Xmin=585000.3846153846&Ymin=720000"
                          "&Xmax=595000.6153846154&Ymax=730000&PixAncho=400&PixAlto=400"));
    for (int x = 41; x < 78; ++x) { // between the 586000 and 587000 lines
        EXPECT_EQ(At(image, x, 150), DemoStyleFor(6).background) << "x " << x;
    }
    EXPECT_EQ(At(image, 39, 150), DemoStyleFor(6).majorLine);
}

TEST(DemoMap, KilometreLinesAreLeftOutWhenTheyWouldFillTheMap) {
    // 128 km on 400 px, as the map window asks when far out: 1 km would be 3 px apart.
    const QImage image = PaintDemoTile(
        ParseMapTileQuery("/navegar/asp/mime.aspx?TIPO=6&Xmin=512000.3846153846&Ymin=608000"
                          "&Xmax=640000.6153846154&Ymax=736000&PixAncho=400&PixAlto=400"));
    int lineColoured = 0;
    for (int x = 0; x < 400; ++x) {
        lineColoured += At(image, x, 150) == DemoStyleFor(6).majorLine ? 1 : 0;
    }
    EXPECT_EQ(lineColoured, 0);
}

TEST(DemoMap, AbsurdRectanglesAreDrawnWithoutHanging) {
    for (const char* target :
         {"/navegar/asp/mime.aspx?TIPO=6&Xmin=100000000000000000000&Ymin=0&Xmax="
          "100000000000000016384&Ymax=1000&PixAncho=50&PixAlto=50",
          "/navegar/asp/mime.aspx?TIPO=6&Xmin=0&Ymin=0&Xmax=0&Ymax=0&PixAncho=0&PixAlto=-5",
          "/navegar/asp/mime.aspx?TIPO=9&Xmin=-5e9&Ymin=-5e9&Xmax=5e9&Ymax=5e9"}) {
        const MapTileQuery q = ParseMapTileQuery(target);
        ASSERT_TRUE(q.valid) << target;
        EXPECT_EQ(PaintDemoTile(q).size(), QSize(q.pixWidth, q.pixHeight));
    }
}

using DemoMapFetch = FetchFixture;

TEST_F(DemoMapFetch, TheFetcherDownloadsFromTheDemoServer) {
    DemoMapServer demo;
    ASSERT_TRUE(demo.listen(QHostAddress::LocalHost, 0));
    const QString tile = path(QStringLiteral("A01.jpg"));
    const QString demoBase = QStringLiteral("http://127.0.0.1:%1").arg(demo.port());
    const FetchResult r = fetch(tileUrl(1, 1).replace(server.baseUrl(), demoBase), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    QImage image;
    QString error;
    ASSERT_TRUE(DecodeJpegFile(tile, &image, &error)) << error.toStdString();
    ASSERT_EQ(image.size(), QSize(400, 400));
    // After two JPEG generations the kilometre line is still the darkest column around.
    auto darkness = [&](int x) { return 255 - qGray(image.pixel(x, 100)); };
    EXPECT_GT(darkness(199), darkness(193) + 60);
    EXPECT_GT(darkness(199), darkness(205) + 60);
}

} // namespace
