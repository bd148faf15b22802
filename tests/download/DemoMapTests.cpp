// The demonstration map: grid lines where the ground says, a colour per map type, and a
// server the fetcher can download from.
#include "tools/DemoMapServer.h"

#include "download/JpegCodec.h"
#include "download/UGatorade.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The first tile of the 2000 m cartography grid at 585000 / 4730000. Its real rectangle is
// 585000.3846 .. 587000.6154 east by 4728000 .. 4730000 north on 400 px, so the 586000 line
// falls at x = 999.6154 / 2000.2308 * 400 = 199.9 and the 585700 line at 139.9; the 4729000
// line at y = 200.
MapTileQuery ExampleTile(int tipo) {
    return ParseMapTileQuery(
        QByteArray("/navegar/asp/mime.aspx?TIPO=") + QByteArray::number(tipo) +
        "&guid=1&npetic=1&Xmin=585000.3846153846&Ymin=728000&Xmax=587000.6153846154&Ymax=730000"
        "&PixAncho=400&PixAlto=400");
}

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

TEST(DemoMap, QueryIsReadAsSent) {
    const MapTileQuery q = ExampleTile(6);
    ASSERT_TRUE(q.valid);
    EXPECT_EQ(q.tipo, 6);
    EXPECT_EQ(q.guid, 1);
    EXPECT_EQ(q.xminKey, 585000);
    EXPECT_EQ(q.yminKey, 728000);
    EXPECT_DOUBLE_EQ(q.xmax, 587000.6153846154);
    EXPECT_EQ(q.pixWidth, 400);
    // Negative northing fields and missing sizes are still a request.
    const MapTileQuery odd =
        ParseMapTileQuery("/navegar/asp/mime.aspx?TIPO=0&Xmin=1.5&Ymin=-2000&Xmax=3&Ymax=0");
    ASSERT_TRUE(odd.valid);
    EXPECT_EQ(odd.yminKey, -2000);
    EXPECT_EQ(odd.pixHeight, 400);
    EXPECT_FALSE(ParseMapTileQuery("/navegar/asp/mime.aspx?TIPO=6&Xmin=1").valid);
    EXPECT_FALSE(ParseMapTileQuery("/otra/ruta?TIPO=6&Xmin=1&Ymin=1&Xmax=2&Ymax=2").valid);
}

TEST(DemoMap, GridLinesFallOnTheirEastingsAndNorthings) {
    const DemoStyle style = DemoStyleFor(6);
    const QImage image = PaintDemoTile(ExampleTile(6));
    ASSERT_EQ(image.size(), QSize(400, 400));
    EXPECT_EQ(At(image, 199, 100), style.majorLine); // 586000 E
    EXPECT_EQ(At(image, 100, 200), style.majorLine); // 4729000 N
    EXPECT_EQ(At(image, 139, 150), style.minorLine); // 585700 E
    EXPECT_EQ(At(image, 150, 140), style.minorLine); // 4729300 N
    EXPECT_EQ(At(image, 150, 150), style.background);
    EXPECT_EQ(At(image, 205, 150), style.background);
}

TEST(DemoMap, MapTypesHaveTheirOwnColours) {
    const QImage carto = PaintDemoTile(ExampleTile(6));
    const QImage orto = PaintDemoTile(ExampleTile(0));
    EXPECT_EQ(At(carto, 150, 150), DemoStyleFor(6).background);
    EXPECT_EQ(At(orto, 150, 150), DemoStyleFor(0).background);
    EXPECT_NE(DemoStyleFor(6).background, DemoStyleFor(0).background);
    EXPECT_EQ(At(orto, 199, 100), DemoStyleFor(0).majorLine);
}

TEST(DemoMap, HundredMetreLinesAreLeftOutWhenTooDense) {
    // 10 km on 400 px: 100 m would be 4 px apart; only the kilometres are drawn, 40 px apart.
    const MapTileQuery q =
        ParseMapTileQuery("/navegar/asp/mime.aspx?TIPO=6&Xmin=585000.3846153846&Ymin=720000"
                          "&Xmax=595000.6153846154&Ymax=730000&PixAncho=400&PixAlto=400");
    const QImage image = PaintDemoTile(q);
    const DemoStyle style = DemoStyleFor(6);
    for (int x = 41; x < 78; ++x) { // between the 586000 and 587000 lines
        EXPECT_EQ(At(image, x, 150), style.background) << "x " << x;
    }
    EXPECT_EQ(At(image, 39, 150), style.majorLine);
}

TEST(DemoMap, TheRectangleIsWrittenOnTheTile) {
    const QImage image = PaintDemoTile(ExampleTile(6));
    int dark = 0;
    for (int y = 330; y < 400; ++y) {
        for (int x = 4; x < 224; ++x) {
            dark += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 200); // three lines of text
}

TEST(DemoMap, AbsurdRectanglesAreDrawnWithoutHanging) {
    const QByteArray targets[] = {
        "/navegar/asp/mime.aspx?TIPO=6&Xmin=100000000000000000000&Ymin=0&Xmax="
        "100000000000000016384&Ymax=1000&PixAncho=50&PixAlto=50",
        "/navegar/asp/mime.aspx?TIPO=6&Xmin=0&Ymin=0&Xmax=0&Ymax=0&PixAncho=0&PixAlto=-5",
        "/navegar/asp/mime.aspx?TIPO=9&Xmin=-5e9&Ymin=-5e9&Xmax=5e9&Ymax=5e9",
    };
    for (const QByteArray& target : targets) {
        const MapTileQuery q = ParseMapTileQuery(target);
        ASSERT_TRUE(q.valid) << target.constData();
        const QImage image = PaintDemoTile(q);
        EXPECT_EQ(image.size(), QSize(q.pixWidth, q.pixHeight));
    }
}

TEST(DemoMap, TheFetcherDownloadsFromTheDemoServer) {
    DemoMapServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    TileFetcher fetcher(&manager);
    JpegEncoder encoder;
    QTemporaryDir dir;
    const QString tile = dir.filePath(QStringLiteral("A01.jpg"));
    QSignalSpy spy(&fetcher, &TileFetcher::finished);
    fetcher.FetchTile(QStringLiteral("http://127.0.0.1:%1/navegar/asp/mime.aspx?TIPO=6&Xmin="
                                     "585000.3846153846&Ymin=728000&Xmax=587000.6153846154&"
                                     "Ymax=730000&PixAncho=400&PixAlto=400")
                          .arg(server.port()),
                      tile, encoder);
    ASSERT_TRUE(spy.wait(10000));
    ASSERT_TRUE(spy.at(0).at(0).toBool()) << spy.at(0).at(1).toString().toStdString();
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
