// The tile fetcher against a local map server: request numbers, retries, the temporary
// file, the tile written, and every way an answer can be bad.
#include "tests/download/FetchTestSupport.h"

#include "download/TransferGate.h"
#include "download/WhenFinished.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <optional>
#include <vector>

namespace {

using Fault = TestMapServer::Fault;

// Tile (1, 1) of the fixture's grid.
constexpr int kX1 = 585000;
constexpr int kY1 = 728000;

TEST(FetchLimitsDefaults, ThirtySecondsWithoutProgressAndTwoMinutesInAll) {
    const FetchLimits limits;
    EXPECT_EQ(TileFetcher::TimeoutReason(limits.transferTimeoutMs),
              QStringLiteral("sin respuesta en 30 s"));
    EXPECT_EQ(TileFetcher::AttemptLimitReason(limits.attemptLimitMs),
              QStringLiteral("respuesta sin terminar en 120 s"));
    EXPECT_EQ(FetchLimits::kAttempts, 10);
}

// Attempt k (k >= 2) waits min(200 ms x 2^(k-2), 5 s).
TEST(FetchLimitsDefaults, BackoffDoublesFrom200MsUpToFiveSeconds) {
    std::vector<int> waits;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        waits.push_back(BackoffMs(attempt));
    }
    EXPECT_EQ(waits, (std::vector<int>{0, 200, 400, 800, 1600, 3200, 5000, 5000, 5000, 5000}));
}

// Retry-After is seconds or an HTTP date in any of its three forms (RFC 9110, 5.6.7).
TEST(RetryAfter, SecondsOrADate) {
    const QDateTime now(QDate(2015, 10, 21), QTime(7, 27, 50), Qt::UTC);
    const struct {
        const char* value;
        std::optional<int> seconds;
    } table[] = {
        {"120", 120},
        {" 7 ", 7},
        {"0", 0},
        {"Wed, 21 Oct 2015 07:28:00 GMT", 10},
        {"Wednesday, 21-Oct-15 07:28:00 GMT", 10},
        {"Wed Oct 21 07:28:00 2015", 10},
        {"Wed Oct  1 07:28:00 2015", 0}, // in the past: at once
        {"Wed, 21 Oct 2015 07:27:00 GMT", 0},
        {"soon", std::nullopt},
        {"-5", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : table) {
        EXPECT_EQ(RetryAfterSeconds(row.value, now), row.seconds) << row.value;
    }
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
    int slowPieces = 2; // Fault::Slow: half a tile, then silence
    int slowDelayMs = 10000;
};

void PrintTo(const Answer& a, std::ostream* os) {
    *os << a.name;
}

class FetchOutcome : public FetchFixture, public ::testing::WithParamInterface<Answer> {};

TEST_P(FetchOutcome, NumbersAttemptsCleansUpAndWritesOnlyAGoodTile) {
    const Answer& a = GetParam();
    FetchLimits limits = QuickFetchLimits();
    limits.transferTimeoutMs = 200;
    limits.attemptLimitMs = 600;
    limits.maxAnswerBytes = 1024 * 1024;
    fetcher.setLimits(limits);
    server.setOversizedBytes(3 * 1024 * 1024);
    server.setSlowPace(a.slowPieces, a.slowDelayMs);
    server.setFault(kX1, kY1, a.fault, a.faulty);
    const QString tile = path(QStringLiteral("A01.jpg"));
    // An older tile in black: replaced on success, kept on failure.
    QByteArray older;
    QString error;
    QImage black(400, 400, QImage::Format_RGB888);
    black.fill(Qt::black);
    ASSERT_TRUE(encoder.encode(black, 70, &older, &error));
    WriteFile(tile, older);
    // No answer of an earlier attempt is still there when the next request leaves.
    QList<bool> temporaryFileAtRequest;
    QObject::connect(&server, &TestMapServer::requestArrived, &server, [&] {
        temporaryFileAtRequest.append(QDir(dir.path()).entryList(QDir::Files).size() > 1);
    });

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
    // Nothing of an answer stays behind, whatever it was.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"A01.jpg"});
    EXPECT_FALSE(fetcher.isBusy());
    EXPECT_FALSE(r.localWriteFailed);
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
        Answer{"SlowButSteady", Fault::Slow, -1, "", 1, 6, 80},
        // A byte every 20 ms keeps the no-progress limit away; the limit in all ends it.
        Answer{"TrickleOnce", Fault::Slow, 1, "", 2, 4000, 20},
        Answer{"Trickle", Fault::Slow, -1, "respuesta sin terminar en 600 ms", 10, 4000, 20},
        // A tile of another size is a failed attempt: the server may do better next time.
        Answer{"SmallOnce", Fault::SmallJpeg, 1, "", 2},
        Answer{"Small", Fault::SmallJpeg, -1, "tamaño 100 × 100, se esperaba 400 × 400", 10},
        Answer{"Large", Fault::LargeJpeg, -1, "tamaño 4000 × 4000, se esperaba 400 × 400", 10},
        Answer{"HugeHeader", Fault::HugeHeaderJpeg, -1,
               "tamaño 60000 × 60000, se esperaba 400 × 400", 10},
        Answer{"BusyOnce", Fault::Busy429, 1, "", 2},
        Answer{"Busy", Fault::Busy503, -1, "HTTP 503", 10},
        Answer{"RedirectOnce", Fault::Redirect, 1, "", 1},
        Answer{"GreyAnswer", Fault::GreyJpeg, -1, "", 1},
        Answer{"Http500", Fault::Http500, -1, "HTTP 500", 10},
        Answer{"Http404", Fault::Http404, -1, "HTTP 404", 10},
        Answer{"Stall", Fault::Stall, -1, "sin respuesta en 200 ms", 10},
        Answer{"HalfThenSilence", Fault::Slow, -1, "sin respuesta en 200 ms", 10},
        Answer{"Reset", Fault::Reset, -1, "conexión cerrada por el servidor", 10},
        Answer{"RedirectLoop", Fault::Redirect, -1, "demasiadas redirecciones", 10},
        Answer{"Oversized", Fault::Oversized, -1, "respuesta de más de 1 MiB", 10},
        // An answer that is no tile is a failed attempt too: a busy server's error page, or
        // an answer cut short, soon makes way for the tile.
        Answer{"HtmlPageOnce", Fault::HtmlPage, 1, "", 2},
        Answer{"TruncatedOnce", Fault::TruncatedJpeg, 1, "", 2},
        Answer{"EmptyOnce", Fault::EmptyBody, 1, "", 2},
        Answer{"HtmlPage", Fault::HtmlPage, -1, "no es una imagen JPEG", 10},
        Answer{"Truncated", Fault::TruncatedJpeg, -1, "JPEG dañado", 10},
        Answer{"ManyScans", Fault::ManyScans, -1, "JPEG con demasiadas pasadas", 10},
        Answer{"Empty", Fault::EmptyBody, -1, "respuesta vacía", 10}),
    [](const ::testing::TestParamInfo<Answer>& info) { return info.param.name; });

using TileFetcherTest = FetchFixture;

// Failures on our side are not the server's: the tile fails at once, without another
// request, and says whether the whole folder refuses files.
TEST_F(TileFetcherTest, LocalWriteFailuresAreNotRetried) {
    const QString tile = path(QStringLiteral("A01.jpg"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("A01.jpg"))); // a folder in its place
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, LocalWriteErrorFor(EISDIR).reason);
    EXPECT_TRUE(r.localWriteFailed);
    EXPECT_FALSE(r.folderUnwritable);
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    EXPECT_TRUE(QFileInfo(tile).isDir());

    ReadOnlyFolder readOnly(dir.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this file system lets every user write into a read-only folder";
    }
    const FetchResult denied = fetch(tileUrl(2, 1), path(QStringLiteral("A02.jpg")));
    EXPECT_FALSE(denied.ok);
    EXPECT_TRUE(denied.localWriteFailed);
    EXPECT_TRUE(denied.folderUnwritable);
    EXPECT_FALSE(denied.reason.contains(QStringLiteral("Unknown"))) << denied.reason.toStdString();
    EXPECT_EQ(server.requests().size(), 2);
}

// A link planted under the tile's own name while the answer is on its way is replaced, and
// the file it points to is never written. An answer file swapped for a link to another
// picture meanwhile is not what is read: the answer is read through the descriptor that
// wrote it.
TEST_F(TileFetcherTest, PlantedLinksAreNeverFollowed) {
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("victim.jpg"));
    QImage black(400, 400, QImage::Format_RGB888);
    black.fill(Qt::black);
    QByteArray precious;
    QString error;
    ASSERT_TRUE(encoder.encode(black, 70, &precious, &error));
    WriteFile(victim, precious);
    const QString tile = path(QStringLiteral("A01.jpg"));
    server.setSlowPace(4, 50);
    server.setFault(kX1, kY1, Fault::Slow);
    QObject::connect(&server, &TestMapServer::requestArrived, &server,
                     [&] { QFile::link(victim, tile); });
    // Once the answer file is there, it is moved aside and a link takes its name.
    QStringList swapped;
    QTimer watch;
    watch.callOnTimeout([&] {
        for (const QString& name : QDir(dir.path()).entryList({"A01.jpg.*"}, QDir::Files)) {
            if (swapped.isEmpty() && QFile::rename(path(name), elsewhere.filePath("moved")) &&
                QFile::link(victim, path(name))) {
                swapped << name;
            }
        }
    });
    watch.start(2);
    const FetchResult r = fetch(tileUrl(1, 1), tile);
    watch.stop();
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    ASSERT_EQ(swapped.size(), 1);
    EXPECT_EQ(ReadAll(victim), precious);
    EXPECT_FALSE(QFileInfo(tile).isSymLink());
    ExpectTileFile(tile, TestMapServer::TileColour(kX1, kY1));
    // The link under the answer's name went with the answer; what it points to stays.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden),
              QStringList{"A01.jpg"});
}

// 429 and 503 say when to come back, in seconds or as a date; the next attempt waits that
// long (here one second of the server's counts 100 ms).
TEST_F(TileFetcherTest, RetryAfterIsHonoured) {
    FetchLimits limits = QuickFetchLimits();
    limits.msPerRetryAfterSecond = 100;
    fetcher.setLimits(limits);
    const struct {
        Fault fault;
        QByteArray retryAfter;
        int atLeastMs;
        int announced;
    } table[] = {
        {Fault::Busy429, "3", 300, 3},        {Fault::Busy503, "2", 200, 2},
        {Fault::Busy429, "date", 100, -1},    // three seconds ahead: two or three by the clock
        {Fault::Busy503, "", 0, 0},           // no header: the ordinary backoff
        {Fault::Busy429, "9000", 12000, 120}, // granted up to two minutes
    };
    for (const auto& row : table) {
        if (row.atLeastMs > 1000) {
            limits.msPerRetryAfterSecond = 1;
            fetcher.setLimits(limits);
        }
        server.clearFaults();
        // A date is made just before it is sent.
        server.setRetryAfter(row.retryAfter != "date"
                                 ? row.retryAfter
                                 : QLocale::c()
                                       .toString(QDateTime::currentDateTimeUtc().addSecs(5),
                                                 "ddd, dd MMM yyyy HH:mm:ss 'GMT'")
                                       .toLatin1());
        server.setFault(kX1, kY1, row.fault, 1);
        QElapsedTimer clock;
        QList<qint64> arrivals;
        auto c = QObject::connect(&server, &TestMapServer::requestArrived, &server,
                                  [&] { arrivals << clock.elapsed(); });
        QSignalSpy waits(&fetcher, &TileFetcher::waitingToRetry);
        clock.start();
        const FetchResult r = fetch(tileUrl(1, 1), path(QStringLiteral("A01.jpg")));
        QObject::disconnect(c);
        ASSERT_TRUE(r.ok) << r.reason.toStdString();
        ASSERT_EQ(arrivals.size(), 2) << row.retryAfter.constData();
        const qint64 waited = arrivals[1] - arrivals[0];
        EXPECT_GE(waited, std::min(row.atLeastMs, 120 * limits.msPerRetryAfterSecond))
            << row.retryAfter.constData();
        ASSERT_EQ(waits.size(), 1);
        const int announced = waits.at(0).at(1).toInt();
        if (row.announced >= 0) {
            EXPECT_EQ(announced, row.announced) << row.retryAfter.constData();
        } else {
            EXPECT_TRUE(announced >= 2 && announced <= 5) << announced;
        }
    }
}

// A busy answer pauses every fetch that shares the gate, not only the one that got it: a
// fetch started while the server's time runs, with a transfer free, waits for it too.
TEST_F(TileFetcherTest, RetryAfterPausesEveryFetchOfTheGate) {
    FetchLimits limits = QuickFetchLimits();
    limits.msPerRetryAfterSecond = 150;
    TransferGate gate(2);
    TileFetcher other(&manager);
    for (TileFetcher* f : {&fetcher, &other}) {
        f->setLimits(limits);
        f->setGate(&gate);
    }
    server.setRetryAfter("2");
    server.setFault(kX1, kY1, Fault::Busy429, 1);
    QElapsedTimer clock;
    clock.start();
    QHash<QString, QList<qint64>> arrivals; // by Xmin
    QObject::connect(&server, &TestMapServer::requestArrived, &server, [&](const QString& t) {
        arrivals[QString::number(ParseMapTileQuery(t.toLatin1()).xminKey)] << clock.elapsed();
    });
    qint64 busyAt = -1;
    QObject::connect(&fetcher, &TileFetcher::waitingToRetry, &fetcher, [&] {
        busyAt = clock.elapsed();
        other.FetchTile(tileUrl(2, 1), path(QStringLiteral("A02.jpg")), 1);
    });
    QSignalSpy otherDone(&other, &TileFetcher::finished);
    const FetchResult r = fetch(tileUrl(1, 1), path(QStringLiteral("A01.jpg")));
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    ASSERT_TRUE(otherDone.count() == 1 || otherDone.wait(20000));
    EXPECT_TRUE(otherDone.at(0).at(0).value<TileFetchResult>().ok);
    const QList<qint64> second = arrivals.value(QString::number(kX1 + 2000));
    ASSERT_EQ(second.size(), 1);
    ASSERT_GE(busyAt, 0);
    // The pause began before the busy answer was announced, and lasts 2 x 150 ms.
    EXPECT_GE(second[0] - busyAt, 290);
    EXPECT_GE(arrivals.value(QString::number(kX1)).value(1) - busyAt, 290);
}

// Attempts wait for one another as the backoff says, from the second on.
TEST_F(TileFetcherTest, AttemptsBackOff) {
    FetchLimits limits = QuickFetchLimits();
    limits.firstBackoffMs = 60;
    limits.backoffCapMs = 120;
    fetcher.setLimits(limits);
    server.setFault(kX1, kY1, Fault::Http500, 3);
    QElapsedTimer clock;
    QList<qint64> arrivals;
    QObject::connect(&server, &TestMapServer::requestArrived, &server,
                     [&] { arrivals << clock.elapsed(); });
    clock.start();
    const FetchResult r = fetch(tileUrl(1, 1), path(QStringLiteral("A01.jpg")));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(arrivals.size(), 4);
    EXPECT_GE(arrivals[1] - arrivals[0], 60);
    EXPECT_GE(arrivals[2] - arrivals[1], 120);
    EXPECT_GE(arrivals[3] - arrivals[2], 120);
}

// The image work runs on a worker thread: with every worker held up, the answer is in but
// the fetch waits, and the event loop goes on meanwhile.
TEST_F(TileFetcherTest, ImageWorkIsOffTheEventLoopThread) {
    QThreadPool* pool = ImageWorkPool();
    QSemaphore hold;
    std::atomic<int> held{0};
    for (int i = 0; i < pool->maxThreadCount(); ++i) {
        pool->start([&] {
            ++held;
            hold.acquire();
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(held.load(), pool->maxThreadCount(), 5000);
    QSignalSpy spy(&fetcher, &TileFetcher::finished);
    fetcher.FetchTile(tileUrl(1, 1), path(QStringLiteral("A01.jpg")));
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 5000);
    EXPECT_EQ(spy.count(), 0);
    hold.release(pool->maxThreadCount());
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_TRUE(spy.at(0).at(0).value<TileFetchResult>().ok);
}

TEST_F(TileFetcherTest, AbortStopsSilentlyAndABusyFetcherAnswersASecondCall) {
    server.setFault(kX1, kY1, Fault::Stall);
    const QString first = path(QStringLiteral("A01.jpg"));
    QSignalSpy spy(&fetcher, &TileFetcher::finished);
    fetcher.FetchTile(tileUrl(1, 1), first);
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
    fetcher.FetchTile(tileUrl(1, 1), first);
    fetcher.FetchTile(tileUrl(2, 1), path(QStringLiteral("A02.jpg")));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
    QTest::qWait(50);
    ASSERT_EQ(spy.count(), 2);
    const auto busy = spy.at(0).at(0).value<TileFetchResult>();
    EXPECT_FALSE(busy.ok);
    EXPECT_EQ(busy.reason, QStringLiteral("ya hay una descarga en curso"));
    EXPECT_TRUE(spy.at(1).at(0).value<TileFetchResult>().ok);
    ExpectTileFile(first, TestMapServer::TileColour(kX1, kY1));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("A02.jpg"))));
}

TEST_F(TileFetcherTest, TheNextFetchMayStartFromTheFinishedSignal) {
    // This is how a run drives a grid: each answer starts the next tile.
    const int base = CurrentRequestCounter();
    server.setFault(kX1 + 2000, kY1, Fault::Http500, 1);
    int next = 1;
    QList<bool> outcomes;
    QObject::connect(
        &fetcher, &TileFetcher::finished, &fetcher, [&](const TileFetchResult& result) {
            outcomes.append(result.ok);
            if (++next <= 3) {
                fetcher.FetchTile(tileUrl(next, 1), path(QStringLiteral("A0%1.jpg").arg(next)));
            }
        });
    fetcher.FetchTile(tileUrl(1, 1), path(QStringLiteral("A01.jpg")));
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
    FetchLimits limits = QuickFetchLimits();
    limits.transferTimeoutMs = 100;
    orphan.setLimits(limits);
    QSignalSpy spy(&orphan, &TileFetcher::finished);
    orphan.FetchTile(tileUrl(1, 1), tile);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
    delete ownManager;
    ASSERT_TRUE(spy.wait(5000)); // the fetch ends instead of waiting for ever
    EXPECT_FALSE(spy.at(0).at(0).value<TileFetchResult>().ok);
    EXPECT_FALSE(orphan.isBusy());

    auto* ownFetcher = new TileFetcher(&manager);
    ownFetcher->FetchTile(tileUrl(1, 1), tile);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, 5000);
    delete ownFetcher;
    QTest::qWait(100); // the reply's late signals must find nobody
    EXPECT_FALSE(QFile::exists(tile + "1"));
}

} // namespace
