// The estimates of a run: the measures they learn from (a measure, what is kept in the cache
// folder), what they make of them, and the pace of a run that follows them.
#include "job/MapKinds.h"
#include "job/Measure.h"
#include "job/RunEstimate.h"
#include "job/RunPace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace {

const QString kServer = QStringLiteral("http://maps.test");

// --- A measure ---------------------------------------------------------------------------

struct MeasureCase {
    const char* what;
    double memory;
    std::vector<std::pair<double, double>> samples; // value, weight
    std::optional<double> estimate;
    double weight;
};

TEST(Measure, WeighedMeanThatFadesBeyondItsMemory) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const MeasureCase cases[] = {
        {"nothing yet", 16, {}, std::nullopt, 0},
        {"one sample", 16, {{7, 1}}, 7.0, 1},
        // (10 x 1 + 40 x 2) / 3
        {"weighed mean within the memory", 16, {{10, 1}, {40, 2}}, 30.0, 3},
        // The memory full of 0: a sample of 100 takes a quarter of it.
        {"older samples fade", 4, {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {100, 1}}, 25.0, 4},
        {"a sample heavier than the memory replaces it", 4, {{10, 1}, {50, 8}}, 50.0, 4},
        {"what is no sample is left out",
         16,
         {{kNaN, 1}, {-1, 1}, {kInf, 1}, {5, 0}, {5, -1}, {5, kNaN}},
         std::nullopt,
         0},
        {"and changes nothing", 16, {{20, 1}, {kNaN, 1}, {-3, 1}, {9, 0}}, 20.0, 1},
    };
    for (const MeasureCase& c : cases) {
        Measure m(c.memory);
        for (const auto& [value, weight] : c.samples) {
            m.add(value, weight);
        }
        EXPECT_EQ(m.estimate().has_value(), c.estimate.has_value()) << c.what;
        if (c.estimate && m.estimate()) {
            EXPECT_NEAR(*m.estimate(), *c.estimate, 1e-9) << c.what;
        }
        EXPECT_DOUBLE_EQ(m.weight(), c.weight) << c.what;
    }

    // Another measure's samples count as its mean with its weight.
    Measure m(16);
    m.add(10);
    Measure later(16);
    later.add(40);
    later.add(40);
    m.add(later);
    EXPECT_DOUBLE_EQ(*m.estimate(), 30.0);
    EXPECT_DOUBLE_EQ(m.weight(), 3.0);
    // As read back from the cache: the weight at most the memory, nonsense refused.
    EXPECT_DOUBLE_EQ(Measure::Restored(16, 7, 100).weight(), 16.0);
    EXPECT_FALSE(Measure::Restored(16, -1, 3).estimate());
    EXPECT_FALSE(Measure::Restored(16, 5, 0).estimate());
}

// --- The measures kept -------------------------------------------------------------------

TEST(RunMeasures, KeptAndReadBackAsTheyWere) {
    RunMeasures m;
    m.addAnswerTime(kServer, 120, 50);
    m.addTileBytes(MapKind::Orto, 500, 30000);
    m.addTileBytes(MapKind::MDT, 2000, 12000); // the terrain model's images are the map's
    m.addOutput({QStringLiteral("GeoTIFF"), 16, 2e6, 1.6, 3e6});
    m.addOutput({OziExplorerOutputKey(), 16, 2e6, 0.2, 900});
    // More servers than are kept: the latest ones stay.
    for (int i = 0; i < RunMeasures::kServers + 4; ++i) {
        m.addAnswerTime(QStringLiteral("http://other%1.test").arg(i), 40);
    }
    m.addAnswerTime(kServer, 80);

    const RunMeasures back = RunMeasures::FromJson(m.toJson());
    EXPECT_NEAR(*back.answerMs(kServer), *m.answerMs(kServer), 1e-9);
    EXPECT_FALSE(back.answerMs(QStringLiteral("http://other0.test")));
    EXPECT_FALSE(back.answerMs(QStringLiteral("http://other4.test")));
    EXPECT_TRUE(back.answerMs(QStringLiteral("http://other5.test")));
    EXPECT_EQ(*back.tileBytes(MapKind::Orto, 500), 30000);
    EXPECT_EQ(*back.tileBytes(MapKind::Carto, 2000), 12000);
    ASSERT_TRUE(back.output(QStringLiteral("GeoTIFF")));
    EXPECT_DOUBLE_EQ(*back.output(QStringLiteral("GeoTIFF"))->seconds.estimate(), 0.1);
    EXPECT_DOUBLE_EQ(back.output(QStringLiteral("GeoTIFF"))->seconds.weight(), 16);
    EXPECT_DOUBLE_EQ(*back.output(QStringLiteral("GeoTIFF"))->bytes.estimate(), 3e6 / 16);
    // The small files take their time per file, whatever the image.
    EXPECT_DOUBLE_EQ(*back.output(OziExplorerOutputKey())->seconds.estimate(), 0.2);
    EXPECT_EQ(back.toJson(), m.toJson());
}

TEST(RunMeasures, AFileThatIsNotOursOrDamagedGivesNoneOfItsBadEntries) {
    const std::pair<const char*, const char*> none[] = {
        {"empty", ""},
        {"no JSON", "{\"formato\": \"morvel-medidas\", "},
        {"a list", "[1, 2, 3]"},
        {"another program's", R"({"formato": "otro", "version": 1, "mosaicos": []})"},
        {"another version",
         R"({"formato": "morvel-medidas", "version": 2, "mosaicos": [{"tipo": 1,
             "cobertura": 500, "bytes": [9000, 1]}]})"},
        {"bad entries only",
         R"({"formato": "morvel-medidas", "version": 1,
             "servidores": [{"servidor": "", "respuesta_ms": [50, 1]}, {"respuesta_ms": [50, 1]},
                            {"servidor": "http://a", "respuesta_ms": [-50, 1]}, 7],
             "mosaicos": [{"tipo": 7, "cobertura": 500, "bytes": [1, 1]},
                          {"tipo": 1, "cobertura": -5, "bytes": [1, 1]},
                          {"tipo": 1, "cobertura": 500, "bytes": ["a", 1]},
                          {"tipo": 1, "cobertura": 500, "bytes": [9000, 0]},
                          {"tipo": 1, "cobertura": 500}],
             "salidas": [{"salida": "BMP"}, {"segundos": [1, 1]},
                         {"salida": "BMP", "segundos": [1, 1, 1]}]})"},
    };
    for (const auto& [what, json] : none) {
        EXPECT_TRUE(RunMeasures::FromJson(QByteArray(json)).isEmpty()) << what;
    }
    // The good entries of a file are kept beside the bad ones.
    const RunMeasures some = RunMeasures::FromJson(
        R"({"formato": "morvel-medidas", "version": 1,
            "mosaicos": [{"tipo": 7, "cobertura": 500, "bytes": [1, 1]},
                         {"tipo": 1, "cobertura": 250, "bytes": [9000, 2]}],
            "salidas": [{"salida": "MBTiles", "segundos": [0.3, 16], "bytes_mpx": [1, 1]}]})");
    EXPECT_EQ(some.tileBytes(MapKind::Orto, 250), 9000);
    ASSERT_TRUE(some.output(QStringLiteral("MBTiles")));
    // A size without the tiles it came from says nothing.
    EXPECT_FALSE(some.output(QStringLiteral("MBTiles"))->bytes.estimate());
}

// --- What a tile weighs ------------------------------------------------------------------

TEST(RunEstimate, TileBytesFromTheKindAndCoverageOrScalesNearIt) {
    RunMeasures m;
    m.addTileBytes(MapKind::Orto, 4000, 34000);
    m.addTileBytes(MapKind::Orto, 8000, 21000);
    m.addTileBytes(MapKind::Orto, 250, 8500);
    m.addTileBytes(MapKind::Carto, 2000, 27000);
    m.addTileBytes(MapKind::Carto, 125, 7700);
    // Images of 64 km, far out: nothing to go by for a tile of 1 km.
    m.addTileBytes(MapKind::Orto, 64000, 6300);
    struct Case {
        const char* what;
        MapKind kind;
        int32_t side;
        double bytes;
        bool approximate;
    };
    const Case cases[] = {
        {"measured", MapKind::Orto, 250, 8500, false},
        // exp(ln 34000 (1 - t) + ln 21000 t), t = log2(5000 / 4000)
        {"between two scales", MapKind::Orto, 5000, 29114.7, true},
        {"one scale within twice", MapKind::Orto, 500, 8500, true},
        {"none near: nominal", MapKind::Orto, 1000, kNominalTileBytes, true},
        {"none near below", MapKind::Orto, 100, kNominalTileBytes, true},
        {"the terrain model is the map's images", MapKind::MDT, 2000, 27000, false},
        {"the map's 125 m for its 100 m", MapKind::Carto, 100, 7700, true},
        {"another kind is no guide", MapKind::Carto, 500, kNominalTileBytes, true},
    };
    for (const Case& c : cases) {
        const TileBytesGuess g = GuessTileBytes(m, c.kind, c.side);
        EXPECT_NEAR(g.bytes, c.bytes, 0.1) << c.what;
        EXPECT_EQ(g.approximate, c.approximate) << c.what;
    }
}

// --- The estimate of a run ---------------------------------------------------------------

DownloadJob FiveByFour(MapKind kind, int32_t tileSize) {
    DownloadJob job;
    job.kind = kind;
    job.tileSize = tileSize;
    job.tilesAcross = 5;
    job.tilesDown = 4;
    job.requestPrefix = RequestPrefix(kind, kServer);
    return job;
}

// A 5 x 4 orthophoto of 500 m with the BMP, a GeoTIFF and the OziExplorer file: 3.2
// megapixels.
DownloadJob WithFiles() {
    DownloadJob job = FiveByFour(MapKind::Orto, 500);
    job.saveBmp = true;
    job.setExport(ExportFormat::GeoTiff, true);
    job.saveOzi = true;
    return job;
}

TEST(RunEstimate, NominalFiguresSaidApproximateUntilMeasured) {
    const DownloadJob job = WithFiles();
    const RunEstimate nothing = EstimateRun(job, {}, 2);
    EXPECT_EQ(nothing.tiles, 20);
    EXPECT_FALSE(nothing.seconds);
    // 20 tiles of 40 kB; the GeoTIFF's 300 kB a megapixel for such tiles.
    EXPECT_EQ(EstimateText(nothing), "20 mosaicos, 800 KB aprox.; tiempo sin medir aún; BMP "
                                     "9,6 MB; GeoTIFF 960 KB aprox.");

    // The server measured: 10 turns of 0.2 s, and the files at their nominal speeds (0.064 s,
    // 0.096 s and 0.05 s).
    RunMeasures m;
    m.addAnswerTime(kServer, 200);
    m.addTileBytes(MapKind::Orto, 500, 30000);
    EXPECT_EQ(EstimateText(EstimateRun(job, m, 2)),
              "20 mosaicos, 600 KB; tiempo 2 s aprox. con 2 conexiones; BMP 9,6 MB; GeoTIFF 720 "
              "KB aprox.");

    // Every file measured here: 0.05 s a megapixel for the BMP; 0.1 s a megapixel for a
    // GeoTIFF of 187,5 kB a megapixel made of tiles of 125 kB a megapixel; 0.1 s for the .map.
    m.addOutput({BmpOutputKey(), 16, 2e6, 0.8, 48e6});
    m.addOutput({QStringLiteral("GeoTIFF"), 16, 2e6, 1.6, 3e6});
    m.addOutput({OziExplorerOutputKey(), 16, 2e6, 0.1, 900});
    const RunEstimate e = EstimateRun(job, m, 2);
    // 2 + 0.16 + 0.32 + 0.1 s.
    EXPECT_EQ(e.seconds, 3);
    EXPECT_FALSE(e.secondsApproximate);
    ASSERT_EQ(e.plan.size(), 1u);
    EXPECT_NEAR(e.plan[0].tileSeconds, 2.0, 1e-9);
    ASSERT_EQ(e.plan[0].outputs.size(), 3u);
    EXPECT_EQ(e.plan[0].outputs[1].key, "GeoTIFF");
    EXPECT_NEAR(e.plan[0].outputs[1].seconds, 0.32, 1e-9);
    // This run's tiles weigh 187,5 kB a megapixel: its GeoTIFF 1,5 times that one's.
    EXPECT_EQ(EstimateText(e), "20 mosaicos, 600 KB; tiempo 3 s con 2 conexiones; BMP 9,6 MB; "
                               "GeoTIFF 900 KB");
    // Tiles of a kind not measured leave the export's size approximate too.
    DownloadJob map = job;
    map.kind = MapKind::Carto;
    map.requestPrefix = RequestPrefix(MapKind::Carto, kServer);
    const RunEstimate guessed = EstimateRun(map, m, 2);
    ASSERT_EQ(guessed.outputs.size(), 2u);
    EXPECT_TRUE(guessed.outputs[1].approximate);
    EXPECT_FALSE(guessed.secondsApproximate);
}

// What a run measured, its estimate gives again for the same area: the seconds of its
// tiles and files, and the sizes of its exports.
TEST(RunEstimate, ARunOfTheSameAreaIsEstimatedAsItWasMeasured) {
    struct Case {
        const char* what;
        int across;
        int down;
        bool exports;
        double turnMs;
        double tileBytes;
    };
    const Case cases[] = {
        {"3 x 3 with the BMP", 3, 3, false, 80, 9000},
        {"10 x 10 with the four exports", 10, 10, true, 55, 26000},
        {"1 x 1", 1, 1, true, 400, 61000},
    };
    for (const Case& c : cases) {
        DownloadJob job = FiveByFour(MapKind::Carto, 250);
        job.tilesAcross = c.across;
        job.tilesDown = c.down;
        job.saveBmp = true;
        job.saveCompe = true;
        for (const ExportFormat format : kExportFormats) {
            job.setExport(format, c.exports);
        }
        const int tiles = c.across * c.down;
        const double megapixels = tiles * 0.16;
        RunMeasures run;
        const double turns = std::ceil(tiles / 2.0);
        run.addAnswerTime(kServer, c.turnMs, turns);
        for (int i = 0; i < tiles; ++i) {
            run.addTileBytes(job.kind, job.tileSize, c.tileBytes);
        }
        double seconds = turns * c.turnMs / 1000;
        std::vector<std::pair<QString, double>> written;
        double factor = 1.0;
        for (const QString& key : OutputKeysAsked(job)) {
            factor *= 1.3;
            const double took = 0.05 * factor * megapixels;
            const double bytes = 1e5 * factor * megapixels;
            run.addOutput({key, megapixels, tiles * c.tileBytes, took, bytes});
            seconds += took;
            written.emplace_back(key, bytes);
        }
        const RunEstimate e = EstimateRun(job, run, 2);
        EXPECT_EQ(e.seconds, std::llround(seconds)) << c.what;
        EXPECT_FALSE(e.secondsApproximate) << c.what;
        EXPECT_EQ(e.tileFiles.bytes, std::llround(tiles * c.tileBytes)) << c.what;
        for (const FileEstimate& f : e.outputs) {
            EXPECT_FALSE(f.approximate) << c.what << ' ' << f.what.toStdString();
            if (f.what == BmpOutputKey()) {
                continue; // known exactly
            }
            const auto it = std::find_if(written.begin(), written.end(),
                                         [&f](const auto& w) { return w.first == f.what; });
            ASSERT_NE(it, written.end()) << f.what.toStdString();
            EXPECT_NEAR(double(f.bytes), it->second, 1.0) << c.what << ' ' << f.what.toStdString();
        }
    }
}

TEST(RunEstimate, TheBmpOnlyWhenItIsWritten) {
    DownloadJob job = FiveByFour(MapKind::Carto, 500);
    job.saveBmp = true;
    RunEstimate e = EstimateRun(job, {}, 2);
    ASSERT_EQ(e.outputs.size(), 1u);
    // 2000 x 1600 px, 6000 bytes a row, and the 54-byte header.
    EXPECT_EQ(e.outputs[0].bytes, 54 + 6000 * 1600);
    EXPECT_FALSE(e.outputs[0].approximate);
    job.saveBmp = false;
    EXPECT_TRUE(EstimateRun(job, {}, 2).outputs.empty());
    // Rows padded to four bytes: 3 px take 12 bytes.
    EXPECT_EQ(BmpFileBytes(3, 2), 54 + 12 * 2);
    // Without a BMP, no calibration file either: only the tiles take time.
    job.saveOzi = true;
    job.saveWorldFile = true;
    EXPECT_TRUE(OutputKeysAsked(job).isEmpty());
}

TEST(RunEstimate, TimeFromTheAnswerTimeAtTheConnections) {
    RunMeasures m;
    m.addAnswerTime(kServer, 600);
    DownloadJob job = FiveByFour(MapKind::Carto, 500);
    job.saveBmp = false;
    // 20 tiles: 20, 10, 7 and 4 turns of 0.6 s.
    EXPECT_EQ(EstimateRun(job, m, 1).seconds, 12);
    EXPECT_EQ(EstimateRun(job, m, 2).seconds, 6);
    EXPECT_EQ(EstimateRun(job, m, 3).seconds, 4);
    EXPECT_EQ(EstimateRun(job, m, 6).seconds, 2);
    // Another server's answers say nothing of this one.
    job.requestPrefix = RequestPrefix(MapKind::Carto, QStringLiteral("http://elsewhere.test"));
    EXPECT_FALSE(EstimateRun(job, m, 2).seconds);
    job.requestPrefix = RequestPrefix(MapKind::Carto, kServer);
    // The time comes before the files' sizes, which a narrow window cuts off first.
    EXPECT_EQ(EstimateText(EstimateRun(job, m, 2)).section("; ", 1, 1),
              "tiempo 6 s con 2 conexiones");
    EXPECT_EQ(EstimateText(EstimateRun(job, m, 1)).section("; ", 1, 1),
              "tiempo 12 s con 1 conexión");
}

TEST(RunEstimate, SizesAndTimesInWords) {
    const std::pair<qint64, const char*> sizes[] = {
        {1, "1 KB"},           {849'400, "849 KB"},     {999'999, "1000 KB"},
        {1'000'000, "1,0 MB"}, {14'400'054, "14,4 MB"}, {48'000'054, "48,0 MB"}};
    for (const auto& [bytes, text] : sizes) {
        EXPECT_EQ(SizeText(bytes), QString::fromUtf8(text)) << bytes;
    }
    const std::pair<qint64, const char*> times[] = {{0, "menos de 1 s"},  {13, "13 s"},
                                                    {60, "1 min 00 s"},   {200, "3 min 20 s"},
                                                    {3600, "1 h 00 min"}, {3929, "1 h 05 min"}};
    for (const auto& [seconds, text] : times) {
        EXPECT_EQ(RunTimeText(seconds), QString::fromUtf8(text)) << seconds;
    }
}

// --- The pace of a run -------------------------------------------------------------------

// What the window is told, in order, and the bar and the time left after each.
struct PaceStep {
    const char* what;
    qint64 atMs;
    int tiles = -1;       // tiles reported, or
    const char* key = ""; // an output's step, or
    double part = 0;
    int sheet = -1; // a sheet begun
    int value;
    qint64 secondsLeft;
};

void Walk(RunPace& pace, const std::vector<PaceStep>& steps) {
    for (const PaceStep& s : steps) {
        if (s.tiles >= 0) {
            pace.tilesReported(s.tiles);
        } else if (s.sheet >= 0) {
            pace.sheetStarted(s.sheet, s.atMs);
        } else {
            pace.outputStep(QString::fromUtf8(s.key), s.part, s.atMs);
        }
        EXPECT_EQ(pace.value(), s.value) << s.what;
        EXPECT_EQ(pace.secondsLeft(s.atMs), s.secondsLeft) << s.what;
    }
}

TEST(RunPace, TheBarAndTheTimeLeftMoveWithTheTilesAndTheFiles) {
    // 10 tiles in 5 s, then a BMP of 1 s and a GeoTIFF of 4 s: two tiles a second, so the
    // BMP counts 2 and the GeoTIFF 8 of the bar's 20.
    RunPace pace({{10, 5.0, {{BmpOutputKey(), 1.0}, {QStringLiteral("GeoTIFF"), 4.0}}}}, 0);
    EXPECT_EQ(pace.maximum(), 20);
    EXPECT_EQ(pace.value(), 0);
    EXPECT_EQ(pace.secondsLeft(0), 10);
    Walk(pace, {
                   // As estimated: 2.5 s of tiles left, then the files.
                   {"half the tiles", 2500, 5, "", 0, -1, 5, 8},
                   {"every tile", 4000, 10, "", 0, -1, 10, 5},
                   {"the BMP begins", 4000, -1, "BMP", 0.0, -1, 10, 5},
                   {"the BMP is written", 5000, -1, "BMP", 1.0, -1, 12, 4},
                   {"the GeoTIFF begins", 5000, -1, "GeoTIFF", 0.0, -1, 12, 4},
                   // Twice as slow as estimated: its own pace counts.
                   {"half the GeoTIFF in 4 s", 9000, -1, "GeoTIFF", 0.5, -1, 16, 4},
                   {"an output not asked for", 9000, -1, "PDF", 0.5, -1, 16, 4},
                   {"the GeoTIFF is written", 13000, -1, "GeoTIFF", 1.0, -1, 20, 0},
               });
}

TEST(RunPace, ASetCountsTheFilesOfTheSheetsBefore) {
    // Two sheets of 4 tiles in 2 s and a BMP of 1 s each: 2 tiles a second.
    const RunPlan sheet{4, 2.0, {{BmpOutputKey(), 1.0}}};
    RunPace pace({sheet, sheet}, 0);
    EXPECT_EQ(pace.maximum(), 12);
    EXPECT_EQ(pace.secondsLeft(0), 6);
    Walk(pace, {
                   {"the first sheet's tiles", 2000, 4, "", 0, -1, 4, 4},
                   {"its BMP", 3000, -1, "BMP", 1.0, -1, 6, 3},
                   {"the second sheet", 3000, -1, "", 0, 1, 6, 3},
                   {"its first tile", 3500, 5, "", 0, -1, 7, 3},
               });
    // A set gone on with: the first sheet was finished before, its tiles counted at once.
    RunPace resumed({sheet, sheet}, 0);
    Walk(resumed, {
                      {"the finished sheet's tiles", 0, 4, "", 0, -1, 4, 4},
                      {"the second sheet begins", 0, -1, "", 0, 1, 6, 3},
                  });
}

} // namespace
