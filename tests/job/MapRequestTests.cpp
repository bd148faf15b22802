// Map kinds, coverage lists and the request URL of a tile.
#include "job/AreaRecalc.h"
#include "job/MapKinds.h"

#include <gtest/gtest.h>

namespace {

const QString kServer = QStringLiteral("http://maps.test");

DownloadJob JobFor(MapKind kind, int coverage, const char* x, const char* y, int across = 4,
                   int down = 4) {
    DownloadJob job;
    job.kind = kind;
    AreaInputs in;
    in.eastingText = QString::fromLatin1(x);
    in.northingText = QString::fromLatin1(y);
    in.acrossPosition = across;
    in.downPosition = down;
    in.coveragePosition = coverage;
    in.serverBase = kServer;
    return RecalcArea(job, in).job;
}

QString PathOf(const QString& url) {
    EXPECT_TRUE(url.startsWith(kServer));
    return url.mid(kServer.size());
}

TEST(BuildTileUrl, FirstCartographyTile) {
    const DownloadJob job = JobFor(MapKind::Carto, 0, "585000", "730000");
    EXPECT_EQ(PathOf(BuildTileUrl(job, 1, 1)),
              "/navegar/asp/mime.aspx?TIPO=6&Xmin=585000.3846153846&Ymin=728000&Xmax=587000."
              "6153846154&Ymax=730000&PixAncho=400&PixAlto=400");
}

TEST(BuildTileUrl, ColumnTwoRowThreeAt1000Metres) {
    const DownloadJob job = JobFor(MapKind::Orto, 1, "600000", "700000");
    EXPECT_EQ(PathOf(BuildTileUrl(job, 2, 3)),
              "/navegar/asp/mime.aspx?TIPO=0&Xmin=601000.3846153846&Ymin=697000&Xmax=602000."
              "6153846154&Ymax=698000&PixAncho=400&PixAlto=400");
}

TEST(BuildTileUrl, TerrainModelAt2000EqualsCartographyAt2000) {
    const DownloadJob mdt = JobFor(MapKind::MDT, 4, "585000", "730000");
    const DownloadJob carto = JobFor(MapKind::Carto, 0, "585000", "730000");
    for (int row = 1; row <= 5; ++row) {
        for (int col = 1; col <= 5; ++col) {
            EXPECT_EQ(BuildTileUrl(mdt, col, row), BuildTileUrl(carto, col, row));
        }
    }
}

TEST(BuildTileUrl, OrthophotoDiffersFromCartographyOnlyInTipo) {
    const DownloadJob orto = JobFor(MapKind::Orto, 1, "585000", "730000");
    const DownloadJob carto = JobFor(MapKind::Carto, 1, "585000", "730000");
    for (int row = 1; row <= 5; ++row) {
        for (int col = 1; col <= 5; ++col) {
            QString o = BuildTileUrl(orto, col, row);
            const QString c = BuildTileUrl(carto, col, row);
            ASSERT_NE(o, c);
            EXPECT_EQ(o.replace(QStringLiteral("TIPO=0&"), QStringLiteral("TIPO=6&")), c);
        }
    }
}

TEST(BuildTileUrl, NorthingFieldZeroGivesNegativeYmin) {
    // Left in place by "Coordenadas UTM Y fuera de límites".
    const DownloadJob job = JobFor(MapKind::Carto, 0, "585000", "000000");
    for (int col = 1; col <= 5; ++col) {
        EXPECT_TRUE(BuildTileUrl(job, col, 1).contains(QStringLiteral("&Ymin=-2000&Xmax=")));
        EXPECT_TRUE(BuildTileUrl(job, col, 1).contains(QStringLiteral("&Ymax=0&")));
    }
}

TEST(Coverage, TableOfEveryKind) {
    EXPECT_EQ(CoverageItems(MapKind::Carto),
              (QStringList{"2000x2000", "1000x1000", "500x500", "250x250", "100x100"}));
    EXPECT_EQ(CoverageItems(MapKind::Orto),
              (QStringList{"5000x5000", "1000x1000", "500x500", "250x250", "100x100"}));
    EXPECT_EQ(CoverageItems(MapKind::MDT),
              (QStringList{"10000x10000", "8000x8000", "6000x6000", "4000x4000", "2000x2000"}));
    // The item text names the metres of its position.
    for (MapKind kind : {MapKind::Carto, MapKind::Orto, MapKind::MDT}) {
        const QStringList items = CoverageItems(kind);
        for (int p = 0; p < kCoverageCount; ++p) {
            EXPECT_EQ(items.at(p).section(u'x', 0, 0).toInt(), CoverageMetres(kind, p));
        }
    }
    EXPECT_EQ(CoverageMetres(MapKind::Carto, -1), -1);
    EXPECT_EQ(CoverageMetres(MapKind::Carto, 5), -1);
}

TEST(SelectMapKind, SelectsRememberedPositionWhateverWasChosen) {
    DownloadJob job;
    job.coveragePosition = 3;
    job.kind = MapKind::Carto;
    LookupCoverage(job, 1, kServer); // the user picked 1000x1000
    ASSERT_EQ(job.tileSize, 1000);
    EXPECT_EQ(SelectMapKind(job, MapKind::MDT, kServer), 3);
    EXPECT_EQ(job.kind, MapKind::MDT);
    EXPECT_EQ(job.tileSize, 4000);
    EXPECT_EQ(job.requestPrefix, kServer + "/navegar/asp/mime.aspx?TIPO=6&Xmin=");
    EXPECT_EQ(job.coveragePosition, 3);
}

TEST(LookupCoverage, FollowsStoredKindAndKeepsSizeWithoutSelection) {
    DownloadJob job;
    job.kind = MapKind::Orto;
    LookupCoverage(job, 0, kServer);
    EXPECT_EQ(job.tileSize, 5000);
    EXPECT_EQ(job.requestPrefix, kServer + "/navegar/asp/mime.aspx?TIPO=0&Xmin=");
    LookupCoverage(job, -1, kServer);
    EXPECT_EQ(job.tileSize, 5000);
}

TEST(MapServerBase, IsTheConfiguredConstantWithoutTrailingSlash) {
    EXPECT_FALSE(MapServerBase().isEmpty());
    EXPECT_FALSE(MapServerBase().endsWith(u'/'));
    EXPECT_TRUE(MapServerBase().startsWith(QStringLiteral("http")));
}

} // namespace
