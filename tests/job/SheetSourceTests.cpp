// A set of sheets in words and in figures: the line naming it, what it follows, and the
// estimates of all its sheets, each a run of its own.
#include "job/MapKinds.h"
#include "job/RunEstimate.h"
#include "job/SheetSource.h"

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// 1000 m tiles: a box 23 x 4 tiles gives sheets of 10, 10 and 3 tiles across.
SheetSource Box(int overlap = 0) {
    SheetSource source;
    source.box = {600000, 4736000, 623000, 4740000};
    source.overlap = overlap;
    return source;
}

TEST(SheetSource, SaysWhatTheSheetsFollowAndNamesThem) {
    SheetSource track;
    track.kind = SheetSource::Kind::Track;
    track.trackPath = QStringLiteral("/rutas/Vuelta al valle.gpx");
    track.margin = 1500;
    track.lines = {{{605000, 4738000}, {606000, 4738500}}};
    const struct {
        SheetSource source;
        const char* text;
        const char* line;
    } table[] = {
        {Box(), "recuadro de X 600.000, Y 4.740.000 a X 623.000, Y 4.736.000",
         "Hojas: 3 (Valle_01 … Valle_03)"},
        {Box(1), "recuadro de X 600.000, Y 4.740.000 a X 623.000, Y 4.736.000, solape de 1 mosaico",
         "Hojas: 3 (Valle_01 … Valle_03)"},
        {Box(2),
         "recuadro de X 600.000, Y 4.740.000 a X 623.000, Y 4.736.000, solape de 2 "
         "mosaicos",
         "Hojas: 3 (Valle_01 … Valle_03)"},
        {track, "ruta «Vuelta al valle.gpx» con 1.500 m de margen", "Hojas: 1 (Valle_01)"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(SheetSourceText(row.source), QString::fromUtf8(row.text));
        const SheetCut cut = row.source.cut(1000, QStringLiteral("Valle"));
        ASSERT_TRUE(cut.set) << row.text;
        EXPECT_EQ(SheetSetLine(*cut.set), QString::fromUtf8(row.line));
    }
    // The corners in either order are the same box.
    SheetSource turned = Box();
    std::swap(turned.box.west, turned.box.east);
    EXPECT_EQ(SheetSourceText(turned), SheetSourceText(Box()));
    EXPECT_EQ(Box().cut(1000, {}).sheetCount, 3);
}

TEST(SheetEstimate, EverySheetIsARunOfItsOwn) {
    DownloadJob job;
    job.kind = MapKind::Orto;
    job.tileSize = 1000;
    job.saveBmp = true;
    job.requestPrefix = RequestPrefix(MapKind::Orto, QStringLiteral("http://maps.test"));
    const SheetCut cut = Box().cut(1000, QStringLiteral("Valle"));
    ASSERT_TRUE(cut.set);
    RunMeasures m;
    m.addTileBytes(MapKind::Orto, 1000, 30000);
    m.addAnswerTime(QStringLiteral("http://maps.test"), 300);
    const RunEstimate e = EstimateSheets(job, *cut.set, m, 2);
    EXPECT_EQ(e.sheets, 3);
    EXPECT_EQ(e.tiles, 92);
    EXPECT_EQ(e.tileFiles.bytes, 92 * 30000);
    EXPECT_FALSE(e.tileFiles.approximate);
    ASSERT_EQ(e.outputs.size(), 1u);
    // Two BMPs of 3200 x 1600 px and one of 2800 x 1600: 23 columns in sheets of 8, 8 and 7.
    EXPECT_EQ(e.outputs[0].bytes, 2 * BmpFileBytes(3200, 1600) + BmpFileBytes(2800, 1600));
    // 16 turns of two transfers for each of the first two sheets, 14 for the last: 46 of
    // 0.3 s; each sheet's BMP at the nominal 0.02 s a megapixel, which is not measured yet.
    ASSERT_TRUE(e.seconds);
    EXPECT_EQ(*e.seconds, 14);
    EXPECT_TRUE(e.secondsApproximate);
    ASSERT_EQ(e.plan.size(), 3u);
    EXPECT_EQ(e.plan[2].tiles, 28);
    EXPECT_NEAR(e.plan[2].tileSeconds, 14 * 0.3, 1e-9);
    ASSERT_EQ(e.plan[2].outputs.size(), 1u);
    EXPECT_NEAR(e.plan[2].outputs[0].seconds, 0.02 * 4.48, 1e-9);
    EXPECT_EQ(EstimateText(e), QStringLiteral("3 hojas, 92 mosaicos, 2,8 MB; tiempo 14 s aprox. "
                                              "con 2 conexiones; BMP 44,2 MB"));
    EXPECT_FALSE(EstimateSheets(job, *cut.set, {}, 2).seconds);

    // A set of many sheets reaches gigabytes, and thousands of tiles.
    RunEstimate large = e;
    large.sheets = 400;
    large.tiles = 40000;
    large.tileFiles.bytes = 1'234'000'000;
    large.outputs[0].bytes = 19'200'000'000;
    EXPECT_TRUE(
        EstimateText(large).startsWith(QStringLiteral("400 hojas, 40.000 mosaicos, 1,2 GB;")));
    EXPECT_TRUE(EstimateText(large).endsWith(QStringLiteral("; BMP 19,2 GB")));
    EXPECT_EQ(SizeText(999'940'000), QStringLiteral("999,9 MB"));
    EXPECT_EQ(SizeText(999'960'000), QStringLiteral("1,0 GB"));
    EXPECT_EQ(SizeText(1'234'500'000'000), QStringLiteral("1.234,5 GB"));
}

} // namespace
