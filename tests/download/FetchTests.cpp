// The tile fetcher against a local map server: request numbers, retries, the temporary
// file, the tile written, and every way an answer can be bad.
#include "tests/download/FetchTestSupport.h"

#include <QDir>
#include <QTest>

namespace {

using Fault = TestMapServer::Fault;

// Tile (1, 1) of the fixture's grid.
constexpr int kX1 = 585000;
constexpr int kY1 = 728000;

TEST(TileFetcherReasons, TheDefaultTimeoutIsThirtySeconds) {
    EXPECT_EQ(TileFetcher::TimeoutReason(TileFetcher::kTransferTimeoutMs),
              QStringLiteral("sin respuesta en 30 s"));
}

TEST(TestMapServerColours, NeighbouringTilesAreFarApart) {
    // Tests of joined images find tiles by colour, for every coverage the program offers.
    const auto distance = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue());
    };
    for (const auto& kindCoverages : kCoverageTable) {
        for (const Coverage& coverage : kindCoverages) {
            const int s = coverage.metres;
            for (int i = 0; i < 1200; ++i) { // 12 grids of 10 x 10 tiles
                const int e = 537000 + (i / 100) * 12731 + (i % 10) * s;
                const int n = 800000 - (i / 100) * 13337 - (i / 10 % 10) * s;
                const QColor c = TestMapServer::TileColour(e, n);
                EXPECT_GE(distance(c, TestMapServer::TileColour(e + s, n)), 90) << s;
                EXPECT_GE(distance(c, TestMapServer::TileColour(e, n - s)), 90) << s;
                EXPECT_GE(distance(c, TestMapServer::FaultColour()), 200);
            }
        }
    }
}

// How one fetch of tile (1, 1) ends when the server answers so: `faulty` answers get the
// fault (-1: all), then the tile. An empty reason means the fetch succeeds.
struct Answer {
    const char* name;
    Fault fault;
    int faulty;
    const char* reason;
    int attempts;
    bool temporaryFileStays = false; // only an answer that is no JPEG at all stays on disk
    int slowPieces = 2;              // Fault::Slow: half a tile, then silence
    int slowDelayMs = 10000;
};

void PrintTo(const Answer& a, std::ostream* os) {
    *os << a.name;
}

class FetchOutcome : public FetchFixture, public ::testing::WithParamInterface<Answer> {};

TEST_P(FetchOutcome, NumbersAttemptsCleansUpAndWritesOnlyAGoodTile) {
    const Answer& a = GetParam();
    fetcher.setTransferTimeout(200);
    fetcher.setMaxAnswerBytes(1024 * 1024);
    server.setOversizedBytes(3 * 1024 * 1024);
    server.setSlowPace(a.slowPieces, a.slowDelayMs);
    server.setFault(kX1, kY1, a.fault, a.faulty);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const QString temp = tile + "1";
    // An older tile in black: replaced on success, kept on failure.
    QByteArray older;
    QString error;
    QImage black(400, 400, QImage::Format_RGB888);
    black.fill(Qt::black);
    ASSERT_TRUE(encoder.encode(black, 70, &older, &error));
    WriteFile(tile, older);
    WriteFile(temp, "left over by an earlier run");
    QList<bool> temporaryFileAtRequest;
    QObject::connect(&server, &TestMapServer::requestArrived, &server,
                     [&] { temporaryFileAtRequest.append(QFile::exists(temp)); });

    const int base = CurrentRequestCounter();
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_EQ(r.ok, QByteArray(a.reason).isEmpty());
    EXPECT_EQ(r.reason, QString::fromUtf8(a.reason));
    EXPECT_EQ(r.signalCount, 1);
    // Qt may send a request again after a reset connection, and follows redirects within an
    // attempt: the attempts are the distinct numbers.
    QList<int> numbers = requestNumbers();
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    EXPECT_EQ(numbers, Consecutive(base + 1, a.attempts));
    EXPECT_EQ(CurrentRequestCounter(), base + a.attempts);
    EXPECT_FALSE(temporaryFileAtRequest.contains(true));
    EXPECT_EQ(QFile::exists(temp), a.temporaryFileStays);
    EXPECT_FALSE(fetcher.isBusy());
    if (r.ok) {
        const QColor colour = TestMapServer::TileColour(kX1, kY1);
        const int grey = qGray(colour.rgb());
        ExpectTileFile(tile, a.fault == Fault::GreyJpeg ? QColor(grey, grey, grey) : colour);
    } else {
        EXPECT_EQ(ReadAll(tile), older);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TileFetcher, FetchOutcome,
    ::testing::Values(
        // The failed answers carry a black JPEG: a fetcher that kept one would show it.
        Answer{"TwoFailures", Fault::Http500, 2, "", 3},
        Answer{"NineFailures", Fault::Http500, 9, "", 10},
        Answer{"HalfThenSilenceOnce", Fault::Slow, 1, "", 2},
        // Six pieces 80 ms apart outlast the 200 ms limit, which counts from the last progress.
        Answer{"SlowButSteady", Fault::Slow, -1, "", 1, false, 6, 80},
        Answer{"RedirectOnce", Fault::Redirect, 1, "", 1},
        Answer{"GreyAnswer", Fault::GreyJpeg, -1, "", 1},
        Answer{"Http500", Fault::Http500, -1, "HTTP 500", 10},
        Answer{"Http404", Fault::Http404, -1, "HTTP 404", 10},
        Answer{"Stall", Fault::Stall, -1, "sin respuesta en 200 ms", 10},
        Answer{"HalfThenSilence", Fault::Slow, -1, "sin respuesta en 200 ms", 10},
        Answer{"Reset", Fault::Reset, -1, "conexión cerrada por el servidor", 10},
        Answer{"RedirectLoop", Fault::Redirect, -1, "demasiadas redirecciones", 10},
        Answer{"Oversized", Fault::Oversized, -1, "respuesta de más de 1 MiB", 10},
        // The download itself worked, so there is no second attempt.
        Answer{"HtmlPage", Fault::HtmlPage, -1, "no es una imagen JPEG", 1, true},
        Answer{"Truncated", Fault::TruncatedJpeg, -1, "JPEG dañado", 1},
        Answer{"HugeHeader", Fault::HugeHeaderJpeg, -1, "imagen JPEG demasiado grande", 1},
        Answer{"Empty", Fault::EmptyBody, -1, "respuesta vacía", 1}),
    [](const ::testing::TestParamInfo<Answer>& info) { return info.param.name; });

using TileFetcherTest = FetchFixture;

TEST_F(TileFetcherTest, AnUnwritableTileFails) {
    const QString tile = path(QStringLiteral("A01.jpg"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("A01.jpg"))); // a folder in its place
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, QStringLiteral("no se pudo escribir el fichero"));
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_FALSE(QFile::exists(tile + "1"));
    EXPECT_TRUE(QFileInfo(tile).isDir());
}

TEST_F(TileFetcherTest, AbortStopsSilentlyAndABusyFetcherAnswersASecondCall) {
    server.setFault(kX1, kY1, Fault::Stall);
    const QString first = path(QStringLiteral("A01.jpg"));
    QSignalSpy spy(&fetcher, &TileFetcher::finished);
    fetcher.FetchTile(tileUrl(1, 1), first, encoder);
    EXPECT_TRUE(fetcher.isBusy());
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    fetcher.abort();
    EXPECT_FALSE(fetcher.isBusy());
    QTest::qWait(200);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(QFile::exists(first + "1"));
    EXPECT_EQ(server.requests().size(), 1); // no further attempt after the abort

    // The fetcher goes on, and a call while it is busy does not disturb the fetch.
    server.clearFaults();
    fetcher.FetchTile(tileUrl(1, 1), first, encoder);
    fetcher.FetchTile(tileUrl(2, 1), path(QStringLiteral("A02.jpg")), encoder);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
    QTest::qWait(50);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0), QList<QVariant>({false, QStringLiteral("ya hay una descarga en curso")}));
    EXPECT_EQ(spy.at(1), QList<QVariant>({true, QString()}));
    ExpectTileFile(first, TestMapServer::TileColour(kX1, kY1));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("A02.jpg"))));
}

TEST_F(TileFetcherTest, TheNextFetchMayStartFromTheFinishedSignal) {
    // This is how a run drives a grid: each answer starts the next tile.
    const int base = CurrentRequestCounter();
    server.setFault(kX1 + 2000, kY1, Fault::Http500, 1);
    int next = 1;
    QList<bool> outcomes;
    QObject::connect(&fetcher, &TileFetcher::finished, &fetcher, [&](bool ok, const QString&) {
        outcomes.append(ok);
        if (++next <= 3) {
            fetcher.FetchTile(tileUrl(next, 1), path(QStringLiteral("A0%1.jpg").arg(next)),
                              encoder);
        }
    });
    fetcher.FetchTile(tileUrl(1, 1), path(QStringLiteral("A01.jpg")), encoder);
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 3, 10000);
    EXPECT_EQ(outcomes, QList<bool>({true, true, true}));
    EXPECT_EQ(requestNumbers(), Consecutive(base + 1, 4));
    for (int column = 1; column <= 3; ++column) {
        ExpectTileFile(path(QStringLiteral("A0%1.jpg").arg(column)),
                       TestMapServer::TileColour(kX1 + (column - 1) * 2000, kY1));
    }
}

TEST_F(TileFetcherTest, LosingTheManagerOrTheFetcherMidAttemptIsSafe) {
    server.setFault(kX1, kY1, Fault::Stall);
    const QString tile = path(QStringLiteral("A01.jpg"));
    auto* ownManager = new QNetworkAccessManager;
    ownManager->setProxy(QNetworkProxy::NoProxy);
    TileFetcher orphan(ownManager);
    orphan.setTransferTimeout(100);
    QSignalSpy spy(&orphan, &TileFetcher::finished);
    orphan.FetchTile(tileUrl(1, 1), tile, encoder);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    delete ownManager;
    ASSERT_TRUE(spy.wait(5000)); // the fetch ends instead of waiting for ever
    EXPECT_FALSE(spy.at(0).at(0).toBool());
    EXPECT_FALSE(orphan.isBusy());

    auto* ownFetcher = new TileFetcher(&manager);
    ownFetcher->FetchTile(tileUrl(1, 1), tile, encoder);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, 5000);
    delete ownFetcher;
    QTest::qWait(100); // the reply's late signals must find nobody
    EXPECT_FALSE(QFile::exists(tile + "1"));
}

} // namespace
