// The job record's text: what it says, that it reads back, and that a damaged one is
// refused rather than half believed.
#include "job/MapKinds.h"
#include "run/JobRecord.h"

#include <gtest/gtest.h>

namespace {

JobRecord ThreeByTwo() {
    DownloadJob job;
    job.kind = MapKind::MDT;
    job.tileSize = 8000;
    job.easting = 585000;
    job.northingField = 730000;
    job.tilesAcross = 3;
    job.tilesDown = 2;
    job.requestPrefix = RequestPrefix(MapKind::MDT, QStringLiteral("http://mapas.example.org"));
    JobRecord r = JobRecord::ForJob(job);
    r.setState(1, 1, TileState::Fetched);
    r.setState(2, 1, TileState::Failed, QStringLiteral("HTTP 500\r\nsegunda línea"));
    r.setState(3, 2, TileState::Fetched);
    return r;
}

TEST(JobRecord, IsReadableTextThatReadsBack) {
    const JobRecord r = ThreeByTwo();
    const QByteArray text = r.toBytes();
    EXPECT_TRUE(text.contains("Servidor=http://mapas.example.org\r\n"));
    EXPECT_TRUE(text.contains("TipoMosaico=2\r\nCobertura=8000\r\nUTMSupIzqX=585000\r\n"
                              "UTMSupIzqY=730000\r\nMosaicosAncho=3\r\nMosaicosAlto=2\r\n"));
    EXPECT_TRUE(text.contains("A01=descargado\r\nA02=fallido: HTTP 500 segunda línea\r\n"
                              "A03=pendiente\r\nB01=pendiente\r\nB02=pendiente\r\n"
                              "B03=descargado\r\n"));

    const std::optional<JobRecord> back = JobRecord::parse(text);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->sameJob(r));
    EXPECT_EQ(back->toBytes(), text);
    EXPECT_EQ(back->count(TileState::Fetched), 2);
    EXPECT_EQ(back->count(TileState::Failed), 1);
    EXPECT_EQ(back->count(TileState::Pending), 3);
}

TEST(JobRecord, ADamagedRecordIsRefused) {
    const QByteArray good = ThreeByTwo().toBytes();
    const struct {
        const char* name;
        QByteArray text;
    } table[] = {
        {"empty", ""},
        {"not a record", "\x89PNG\r\n\x1a\n binary"},
        {"cut short", good.left(good.size() - 30)},
        {"unknown state", QByteArray(good).replace("A03=pendiente", "A03=quizá")},
        {"grid too wide", QByteArray(good).replace("MosaicosAncho=3", "MosaicosAncho=11")},
        {"kind unknown", QByteArray(good).replace("TipoMosaico=2", "TipoMosaico=3")},
        {"no server", QByteArray(good).replace("Servidor=http://mapas.example.org", "Servidor=")},
        {"coverage not a number", QByteArray(good).replace("Cobertura=8000", "Cobertura=8km")},
        {"line outside a section", "A01=descargado\r\n" + good},
    };
    for (const auto& row : table) {
        EXPECT_FALSE(JobRecord::parse(row.text)) << row.name;
    }
}

// Another corner, kind, coverage, grid or server is another job.
TEST(JobRecord, TheSameJobIsTheSameCornerKindCoverageGridAndServer) {
    const JobRecord base = ThreeByTwo();
    const std::function<void(JobRecord&)> changes[] = {
        [](JobRecord& r) { r.easting += 1000; },
        [](JobRecord& r) { r.northingField -= 1000; },
        [](JobRecord& r) { r.kind = MapKind::Carto; }, // the same requests, another map
        [](JobRecord& r) { r.tileSize = 6000; },
        [](JobRecord& r) { r.tilesAcross = 4; },
        [](JobRecord& r) { r.tilesDown = 1; },
        [](JobRecord& r) { r.server = QStringLiteral("http://127.0.0.1:8037"); },
    };
    for (const auto& change : changes) {
        JobRecord other = base;
        change(other);
        EXPECT_FALSE(other.sameJob(base));
    }
    JobRecord progressed = base;
    progressed.setState(1, 2, TileState::Fetched);
    EXPECT_TRUE(progressed.sameJob(base));
}

} // namespace
