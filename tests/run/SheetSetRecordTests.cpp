// The record of a set of sheets: it reads back what it wrote, sheet by sheet and tile by
// tile; a damaged one is refused rather than half believed; another set is told apart; and
// it is read as a run's own record is, never through a link nor beyond its size.
#include "job/MapKinds.h"
#include "run/SheetSetRecord.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

DownloadJob OrtoJob() {
    DownloadJob job;
    job.kind = MapKind::Orto;
    job.tileSize = 5000;
    job.requestPrefix = RequestPrefix(MapKind::Orto, QStringLiteral("http://mapas.example.org"));
    return job;
}

SheetSource Box() {
    SheetSource source;
    // 21 x 6 tiles of 5 km: with one shared, sheets of 8, 8 and 7 tiles across.
    source.box = {585000, 4700000, 690000, 4730000};
    source.overlap = 1;
    return source;
}

SheetSetRecord ThreeSheets() {
    const SheetSource source = Box();
    const SheetCut cut = source.cut(5000, QStringLiteral("Sierra"));
    EXPECT_TRUE(cut.set) << cut.message.toStdString();
    SheetSetRecord r = SheetSetRecord::ForSet(*cut.set, source, OrtoJob());
    EXPECT_EQ(r.sheets.size(), 3u);
    r.sheets[0].finished = true;
    r.sheets[0].bmp = TileStamp::Of("the sheet's BMP");
    for (int row = 1; row <= 6; ++row) {
        for (int column = 1; column <= 8; ++column) {
            r.sheets[0].record.setFetched(column, row, TileStamp::Of(QByteArray(row, 'x')));
        }
    }
    r.sheets[1].record.setFetched(2, 3, TileStamp::Of("tile"));
    r.sheets[1].record.setState(3, 3, TileState::Failed, QStringLiteral("HTTP 500\nfin"));
    return r;
}

TEST(SheetSetRecord, ReadsBackEverySheetAndTile) {
    const SheetSetRecord r = ThreeSheets();
    const QByteArray text = r.toBytes();
    EXPECT_TRUE(text.contains("[Hojas]\r\nNombre=Sierra\r\nSolape=1\r\nOrigen=recuadro\r\n"
                              "Recuadro=585000,4730000,690000,4700000\r\nHojas=3\r\n"));
    EXPECT_TRUE(text.contains("[Hoja 2]\r\nNombre=Sierra_02\r\nFila=0\r\nColumna=1\r\n"
                              "Estado=sin terminar\r\n[Descarga]\r\nServidor=http://mapas"));
    EXPECT_TRUE(text.contains("UTMSupIzqX=620000\r\nUTMSupIzqY=730000\r\nMosaicosAncho=8"));
    EXPECT_TRUE(text.contains("C03=fallido: HTTP 500 fin\r\n"));
    EXPECT_TRUE(text.contains("Estado=terminada\r\nBMP=15 " + r.sheets[0].bmp.sha256.toHex() +
                              "\r\n[Descarga]"));
    EXPECT_EQ(text.count("BMP="), 1); // only a finished sheet's
    EXPECT_EQ(text.count("# "), 1);   // one heading for the whole set

    const std::optional<SheetSetRecord> back = SheetSetRecord::parse(text);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->sameSet(r));
    EXPECT_EQ(back->toBytes(), text);
    EXPECT_EQ(back->finishedCount(), 1);
    EXPECT_EQ(back->vouchedTiles(), 1); // the finished sheet's tiles are not counted
    for (size_t i = 0; i < r.sheets.size(); ++i) {
        EXPECT_EQ(back->sheets[i].sheet, r.sheets[i].sheet) << i;
    }
    EXPECT_EQ(back->sheets[0].record.stamp(4, 5), TileStamp::Of("xxxxx"));
    EXPECT_EQ(back->sheets[0].bmp, r.sheets[0].bmp);
    EXPECT_FALSE(back->sheets[1].bmp.isValid());
    EXPECT_EQ(back->sheets[1].record.state(3, 3), TileState::Failed);
    EXPECT_EQ(back->sheets[2].record.count(TileState::Pending), 42);

    // A track as the source.
    SheetSetRecord track = r;
    track.sourceKind = SheetSource::Kind::Track;
    track.trackPath = QStringLiteral("/rutas/vuelta\n.gpx");
    track.margin = 750;
    const QByteArray trackText = track.toBytes();
    EXPECT_TRUE(trackText.contains("Origen=ruta\r\nRuta=/rutas/vuelta .gpx\r\nMargen=750\r\n"));
    const std::optional<SheetSetRecord> trackBack = SheetSetRecord::parse(trackText);
    ASSERT_TRUE(trackBack);
    EXPECT_EQ(trackBack->margin, 750);
    EXPECT_TRUE(trackBack->sameSet(r)); // where the sheets came from does not matter
}

TEST(SheetSetRecord, ADamagedRecordIsRefused) {
    const QByteArray good = ThreeSheets().toBytes();
    const struct {
        const char* name;
        QByteArray text;
    } table[] = {
        {"empty", ""},
        {"a single run's record", good.mid(good.indexOf("[Descarga]"))},
        {"cut short", good.left(good.size() - 30)},
        {"a sheet missing", QByteArray(good).replace("Hojas=3", "Hojas=4")},
        {"sheets misnumbered", QByteArray(good).replace("[Hoja 2]", "[Hoja 5]")},
        {"unknown state", QByteArray(good).replace("Estado=sin terminar", "Estado=a medias")},
        {"a tile unreadable", QByteArray(good).replace("C03=fallido", "C03=roto")},
        {"no name", QByteArray(good).replace("Nombre=Sierra_03", "Nombre=")},
        {"box not four numbers",
         QByteArray(good).replace("Recuadro=585000,4730000,690000,4700000", "Recuadro=1,2,3")},
        {"unknown source", QByteArray(good).replace("Origen=recuadro", "Origen=mapa")},
        {"a line that is no key", QByteArray(good).replace("Fila=0", "Fila 0")},
        {"a BMP without its hash", QByteArray(good).replace("BMP=15 ", "BMP=15\r\nX=")},
        {"a BMP's hash cut short", QByteArray(good).replace("BMP=15 ", "BMP=15 0")},
        {"a BMP of no size", QByteArray(good).replace("BMP=15 ", "BMP=-15 ")},
    };
    for (const auto& row : table) {
        EXPECT_FALSE(SheetSetRecord::parse(row.text)) << row.name;
    }
}

TEST(SheetSetRecord, AnotherSetIsToldApart) {
    const SheetSetRecord base = ThreeSheets();
    const std::function<void(SheetSetRecord&)> changes[] = {
        [](SheetSetRecord& r) { r.name = QStringLiteral("Valle"); },
        [](SheetSetRecord& r) { r.overlap = 0; },
        [](SheetSetRecord& r) { r.sheets.pop_back(); },
        [](SheetSetRecord& r) { r.sheets[1].sheet.easting += 5000; },
        [](SheetSetRecord& r) { r.sheets[2].sheet.across = 2; },
        [](SheetSetRecord& r) { r.sheets[0].sheet.name = QStringLiteral("Sierra_1"); },
        [](SheetSetRecord& r) { r.sheets[1].record.kind = MapKind::Carto; },
        [](SheetSetRecord& r) {
            r.sheets[2].record.server = QStringLiteral("http://127.0.0.1:8037");
        },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        SheetSetRecord other = base;
        changes[i](other);
        EXPECT_FALSE(other.sameSet(base)) << i;
        EXPECT_FALSE(base.sameSet(other)) << i;
    }
}

TEST(SheetSetRecord, IsReadOnlyAsAPlainFileOfARecordsSize) {
    QTemporaryDir dir;
    const QString path = SheetSetRecordPath(dir.path(), QStringLiteral("Sierra"));
    EXPECT_EQ(path, QDir(dir.path()).filePath("Sierra.morvel"));
    const QByteArray text = ThreeSheets().toBytes();
    ASSERT_TRUE(SaveSheetSetRecord(path, text));
    QString refused;
    const std::optional<SheetSetRecord> read = LoadSheetSetRecord(path, &refused);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->sameSet(ThreeSheets()));
    EXPECT_TRUE(refused.isEmpty());
    // 400 sheets of 100 tiles each, every tile with its hash, fit with room to spare.
    SheetSetRecord large = ThreeSheets();
    for (int n = 4; n <= kMaxSheets; ++n) {
        SheetSetRecord::Entry e = large.sheets[0];
        e.sheet.number = n;
        large.sheets.push_back(e);
    }
    for (SheetSetRecord::Entry& e : large.sheets) {
        e.record.tilesAcross = e.record.tilesDown = 10;
        for (int row = 1; row <= 10; ++row) {
            for (int column = 1; column <= 10; ++column) {
                e.record.setFetched(column, row, TileStamp::Of("a tile of the set"));
            }
        }
    }
    EXPECT_LT(large.toBytes().size() * 3, kMaxSheetSetRecordBytes);

    // A link to it, and a file beyond the size, are not read.
    const QString link = QDir(dir.path()).filePath("Enlace.morvel");
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_FALSE(LoadSheetSetRecord(link, &refused));
    EXPECT_EQ(refused, "el fichero es un enlace");
    const QString huge = QDir(dir.path()).filePath("Grande.morvel");
    WriteAll(huge, text + QByteArray(kMaxSheetSetRecordBytes, '#'));
    EXPECT_FALSE(LoadSheetSetRecord(huge, &refused));
    EXPECT_FALSE(refused.isEmpty());
    refused.clear();
    EXPECT_FALSE(LoadSheetSetRecord(QDir(dir.path()).filePath("Falta.morvel"), &refused));
    EXPECT_TRUE(refused.isEmpty());
}

} // namespace
