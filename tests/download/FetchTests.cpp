// The tile fetcher against a local map server: request numbers, retries, the temporary
// file, the tile written, and every way an answer can be bad.
#include "tests/download/FetchTestSupport.h"

#include <QDir>
#include <QTcpServer>
#include <QTest>

namespace {

using Fault = TestMapServer::Fault;

// Tile (1, 1) of the fixture's grid and its neighbour to the east.
constexpr int kX1 = 585000;
constexpr int kX2 = 587000;
constexpr int kY1 = 728000;

const char kFirstTileQuery[] =
    "/navegar/asp/mime.aspx?TIPO=6&guid=%1&npetic=%1&Xmin=585000.3846153846&Ymin=728000"
    "&Xmax=587000.6153846154&Ymax=730000&PixAncho=400&PixAlto=400";

TEST(NumberedRequestUrl, InsertsTheNumberAfterTheFirstAmpersand) {
    struct Case {
        const char* url;
        int number;
        const char* expected;
    };
    const Case cases[] = {
        // The example tile of the map request, as the first request of a run.
        {"http://h/navegar/asp/mime.aspx?TIPO=6&Xmin=585000.3846153846&Ymin=728000", 1,
         "http://h/navegar/asp/mime.aspx?TIPO=6&guid=1&npetic=1&Xmin=585000.3846153846"
         "&Ymin=728000"},
        {"http://h/navegar/asp/mime.aspx?TIPO=0&Xmin=1", 7,
         "http://h/navegar/asp/mime.aspx?TIPO=0&guid=7&npetic=7&Xmin=1"},
        // Only the first "&" counts.
        {"a&b&c", 12345, "a&guid=12345&npetic=12345&b&c"},
        // Without any "&" the number goes in front.
        {"abc", 3, "guid=3&npetic=3&abc"},
        {"abc&", 2, "abc&guid=2&npetic=2&"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumberedRequestUrl(QString::fromLatin1(c.url), c.number),
                  QString::fromLatin1(c.expected))
            << c.url;
    }
}

TEST(TileFetcherReasons, TimeoutNamesTheWaitingTime) {
    // The default limit is what the user sees for a silent server.
    EXPECT_EQ(TileFetcher::TimeoutReason(TileFetcher::kTransferTimeoutMs),
              QStringLiteral("sin respuesta en 30 s"));
    EXPECT_EQ(TileFetcher::TimeoutReason(150), QStringLiteral("sin respuesta en 150 ms"));
}

int ColourDistance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

TEST(TestMapServerColours, NeighbouringTilesAreFarApart) {
    // Other tests find tiles in joined images by colour: every pair of neighbours of every
    // coverage the program offers must differ clearly, and no tile may look like the black
    // of an error answer.
    for (const auto& kindCoverages : kCoverageTable) {
        for (const Coverage& coverage : kindCoverages) {
            const int s = coverage.metres;
            for (int corner = 0; corner < 12; ++corner) {
                const int e0 = 537000 + corner * 12731;
                const int n0 = 800000 - corner * 13337;
                for (int i = 0; i < 10; ++i) {
                    for (int j = 0; j < 10; ++j) {
                        const QColor c = TestMapServer::TileColour(e0 + j * s, n0 - i * s);
                        EXPECT_GE(ColourDistance(
                                      c, TestMapServer::TileColour(e0 + (j + 1) * s, n0 - i * s)),
                                  90)
                            << "coverage " << s << " east of " << e0 + j * s;
                        EXPECT_GE(ColourDistance(
                                      c, TestMapServer::TileColour(e0 + j * s, n0 - (i + 1) * s)),
                                  90)
                            << "coverage " << s << " south of " << n0 - i * s;
                        EXPECT_GE(ColourDistance(c, TestMapServer::FaultColour()), 200);
                    }
                }
            }
        }
    }
}

using TileFetcherTest = FetchFixture;

TEST_F(TileFetcherTest, NumbersContinueAcrossTilesAndTheQueryIsExact) {
    const int base = CurrentRequestCounter();
    const QString first = path(QStringLiteral("A01.jpg"));
    const QString second = path(QStringLiteral("A02.jpg"));

    const FetchResult a = fetch(tileUrl(1, 1), first);
    ASSERT_TRUE(a.ok) << a.reason.toStdString();
    EXPECT_TRUE(a.reason.isEmpty());
    EXPECT_EQ(a.signalCount, 1);
    const FetchResult b = fetch(tileUrl(2, 1), second);
    ASSERT_TRUE(b.ok) << b.reason.toStdString();

    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests().at(0), QString::fromLatin1(kFirstTileQuery).arg(base + 1));
    EXPECT_EQ(requestNumbers(), Consecutive(base + 1, 2));
    EXPECT_EQ(CurrentRequestCounter(), base + 2);
    ExpectTileFile(first, TestMapServer::TileColour(kX1, kY1));
    ExpectTileFile(second, TestMapServer::TileColour(kX2, kY1));
    EXPECT_FALSE(QFile::exists(first + "1"));
    EXPECT_FALSE(QFile::exists(second + "1"));
}

TEST_F(TileFetcherTest, TwoFailuresThenSuccessUseThreeNumbersAndKeepTheThirdAnswer) {
    // The failed answers carry a black JPEG: a fetcher that kept one would show it.
    server.setFault(kX1, kY1, Fault::Http500, 2);
    const int base = CurrentRequestCounter();
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    EXPECT_EQ(requestNumbers(), Consecutive(base + 1, 3));
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
    EXPECT_FALSE(QFile::exists(tile + "1"));
}

TEST_F(TileFetcherTest, SuccessAtTheTenthAttemptWritesTheTile) {
    server.setFault(kX1, kY1, Fault::Http500, 9);
    const int base = CurrentRequestCounter();
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    EXPECT_EQ(requestNumbers(), Consecutive(base + 1, 10));
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
}

struct FailingServer {
    const char* name;
    Fault fault;
    const char* reason;
};

void PrintTo(const FailingServer& s, std::ostream* os) {
    *os << s.name;
}

class TenFailures : public FetchFixture, public ::testing::WithParamInterface<FailingServer> {};

TEST_P(TenFailures, LeaveNoTemporaryFileAndKeepTheOlderTile) {
    const FailingServer& s = GetParam();
    fetcher.setTransferTimeout(150);
    server.setSlowPace(2, 10000); // Fault::Slow: half a tile, then silence
    server.setFault(kX1, kY1, s.fault);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const QByteArray older = "a tile from an earlier run";
    WriteFile(tile, older);
    WriteFile(tile + "1", "left over by an earlier run");

    const int base = CurrentRequestCounter();
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, QString::fromUtf8(s.reason));
    EXPECT_EQ(r.signalCount, 1);
    // Qt may send a request again on its own after a reset connection, and follows
    // redirects within an attempt: the attempts are the distinct numbers.
    QList<int> numbers = requestNumbers();
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    EXPECT_EQ(numbers, Consecutive(base + 1, 10));
    EXPECT_EQ(CurrentRequestCounter(), base + 10);
    EXPECT_FALSE(QFile::exists(tile + "1"));
    EXPECT_EQ(ReadAll(tile), older);
    EXPECT_FALSE(fetcher.isBusy());
}

INSTANTIATE_TEST_SUITE_P(
    TileFetcher, TenFailures,
    ::testing::Values(FailingServer{"Http500", Fault::Http500, "HTTP 500"},
                      FailingServer{"Http404", Fault::Http404, "HTTP 404"},
                      FailingServer{"Stall", Fault::Stall, "sin respuesta en 150 ms"},
                      FailingServer{"HalfThenSilence", Fault::Slow, "sin respuesta en 150 ms"},
                      FailingServer{"Reset", Fault::Reset, "conexión cerrada por el servidor"},
                      FailingServer{"RedirectLoop", Fault::Redirect, "demasiadas redirecciones"}),
    [](const ::testing::TestParamInfo<FailingServer>& info) { return info.param.name; });

struct BadAnswer {
    const char* name;
    Fault fault;
    const char* reason;
    bool temporaryFileStays; // only an answer that is no JPEG at all stays on disk
};

void PrintTo(const BadAnswer& a, std::ostream* os) {
    *os << a.name;
}

class BadAnswers : public FetchFixture, public ::testing::WithParamInterface<BadAnswer> {};

TEST_P(BadAnswers, FailWithoutRetryingAndWriteNoTile) {
    const BadAnswer& a = GetParam();
    server.setFault(kX1, kY1, a.fault);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const QByteArray older = "a tile from an earlier run";
    WriteFile(tile, older);

    const int base = CurrentRequestCounter();
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, QString::fromUtf8(a.reason));
    EXPECT_EQ(r.signalCount, 1);
    // The download itself worked, so there is no second attempt.
    EXPECT_EQ(requestNumbers(), Consecutive(base + 1, 1));
    EXPECT_EQ(QFile::exists(tile + "1"), a.temporaryFileStays);
    EXPECT_EQ(ReadAll(tile), older);
}

INSTANTIATE_TEST_SUITE_P(
    TileFetcher, BadAnswers,
    ::testing::Values(BadAnswer{"HtmlPage", Fault::HtmlPage, "no es una imagen JPEG", true},
                      BadAnswer{"Truncated", Fault::TruncatedJpeg, "JPEG dañado", false},
                      BadAnswer{"HugeHeader", Fault::HugeHeaderJpeg, "imagen JPEG demasiado grande",
                                false},
                      BadAnswer{"Empty", Fault::EmptyBody, "respuesta vacía", false}),
    [](const ::testing::TestParamInfo<BadAnswer>& info) { return info.param.name; });

TEST_F(TileFetcherTest, TemporaryFileIsGoneBeforeEveryAttempt) {
    // Attempt 1 receives part of the tile and then nothing: its bytes are on disk when it
    // fails. Neither they nor the stale file of an earlier run may be there when a request
    // reaches the server.
    fetcher.setTransferTimeout(200);
    server.setSlowPace(2, 5000);
    server.setFault(kX1, kY1, Fault::Slow, 1);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const QString temp = tile + "1";
    WriteFile(temp, "left over by an earlier run");
    QList<bool> presentAtRequest;
    QObject::connect(&server, &TestMapServer::requestArrived, &server,
                     [&] { presentAtRequest.append(QFile::exists(temp)); });

    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    EXPECT_EQ(presentAtRequest, QList<bool>({false, false}));
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
    EXPECT_FALSE(QFile::exists(temp));
}

TEST_F(TileFetcherTest, AnExistingTileIsReplaced) {
    const QString tile = path(QStringLiteral("A01.jpg"));
    QByteArray older;
    QString error;
    QImage black(400, 400, QImage::Format_RGB888);
    black.fill(Qt::black);
    ASSERT_TRUE(encoder.encode(black, 70, &older, &error));
    WriteFile(tile, older);

    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
}

TEST_F(TileFetcherTest, AGreyAnswerIsWrittenInColour) {
    server.setFault(kX1, kY1, Fault::GreyJpeg);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    const int grey = qGray(TestMapServer::TileColour(kX1, kY1).rgb());
    ExpectTileFile(tile, QColor(grey, grey, grey));
}

TEST_F(TileFetcherTest, AnOrthophotoTileIsAskedWithItsType) {
    const int base = CurrentRequestCounter();
    const FetchResult r = fetch(tileUrl(1, 1, MapKind::Orto), path(QStringLiteral("A01.jpg")));
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests().at(0).startsWith(
        QStringLiteral("/navegar/asp/mime.aspx?TIPO=0&guid=%1&npetic=%1&Xmin=585000.")
            .arg(base + 1)));
}

TEST_F(TileFetcherTest, ASlowButSteadyAnswerIsNotCutShort) {
    // Six pieces 80 ms apart take longer than the 200 ms limit, which counts from the
    // latest progress, not from the start.
    fetcher.setTransferTimeout(200);
    server.setSlowPace(6, 80);
    server.setFault(kX1, kY1, Fault::Slow);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    EXPECT_EQ(server.requests().size(), 1);
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
}

TEST_F(TileFetcherTest, ARedirectIsFollowedWithinOneAttempt) {
    server.setFault(kX1, kY1, Fault::Redirect, 1);
    const int base = CurrentRequestCounter();
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    EXPECT_EQ(requestNumbers(), QList<int>({base + 1, base + 1}));
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
}

TEST_F(TileFetcherTest, AnOversizedAnswerIsRefused) {
    fetcher.setMaxAnswerBytes(1024 * 1024);
    server.setOversizedBytes(3 * 1024 * 1024);
    server.setFault(kX1, kY1, Fault::Oversized);
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, QStringLiteral("respuesta de más de 1 MiB"));
    EXPECT_FALSE(QFile::exists(tile));
    EXPECT_FALSE(QFile::exists(tile + "1"));
}

TEST_F(TileFetcherTest, AnUnwritableTileFails) {
    // A folder stands where the tile file should go.
    const QString tile = path(QStringLiteral("A01.jpg"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("A01.jpg")));
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, QStringLiteral("no se pudo escribir el fichero"));
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_FALSE(QFile::exists(tile + "1"));
    EXPECT_TRUE(QFileInfo(tile).isDir());
}

TEST_F(TileFetcherTest, ARefusedConnectionFailsAllTenAttempts) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    const QString url =
        QStringLiteral("http://127.0.0.1:%1/navegar/asp/mime.aspx?TIPO=6&Xmin=1").arg(port);
    const int base = CurrentRequestCounter();
    const FetchResult r = fetch(url, path(QStringLiteral("A01.jpg")));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, QStringLiteral("conexión rechazada"));
    EXPECT_EQ(CurrentRequestCounter(), base + 10);
}

TEST_F(TileFetcherTest, AbortStopsSilentlyAndTheFetcherCanGoOn) {
    server.setFault(kX1, kY1, Fault::Stall);
    const QString tile = path(QStringLiteral("A01.jpg"));
    QSignalSpy spy(&fetcher, &TileFetcher::finished);
    fetcher.FetchTile(tileUrl(1, 1), tile, encoder);
    EXPECT_TRUE(fetcher.isBusy());
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    fetcher.abort();
    EXPECT_FALSE(fetcher.isBusy());
    QTest::qWait(200);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(QFile::exists(tile + "1"));
    EXPECT_EQ(server.requests().size(), 1); // no further attempt after the abort

    server.clearFaults();
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
}

TEST_F(TileFetcherTest, ASecondFetchWhileBusyIsAnsweredWithoutDisturbingTheFirst) {
    QSignalSpy spy(&fetcher, &TileFetcher::finished);
    const QString first = path(QStringLiteral("A01.jpg"));
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
    server.setFault(kX2, kY1, Fault::Http500, 1);
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
                       TestMapServer::TileColour(585000 + (column - 1) * 2000, kY1));
    }
}

TEST_F(TileFetcherTest, LosingTheNetworkManagerMidAttemptEndsTheFetch) {
    server.setFault(kX1, kY1, Fault::Stall);
    auto* own = new QNetworkAccessManager;
    own->setProxy(QNetworkProxy::NoProxy);
    TileFetcher orphan(own);
    orphan.setTransferTimeout(100);
    QSignalSpy spy(&orphan, &TileFetcher::finished);
    orphan.FetchTile(tileUrl(1, 1), path(QStringLiteral("A01.jpg")), encoder);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    delete own;
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_FALSE(spy.at(0).at(0).toBool());
    EXPECT_FALSE(orphan.isBusy());
}

TEST_F(TileFetcherTest, DestroyingTheFetcherMidAttemptIsSafe) {
    server.setFault(kX1, kY1, Fault::Stall);
    auto* own = new TileFetcher(&manager);
    const QString tile = path(QStringLiteral("A01.jpg"));
    own->FetchTile(tileUrl(1, 1), tile, encoder);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    delete own;
    QTest::qWait(100); // the reply's late signals must find nobody
    EXPECT_FALSE(QFile::exists(tile + "1"));
}

} // namespace
