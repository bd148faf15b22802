// The download run against a map server on 127.0.0.1: order of the steps, the log, the
// tile files, the joined BMP, failures, the clean-up, the questions and stopping.
#include "download/AreaRecalc.h"
#include "download/DownloadRun.h"
#include "download/MapKinds.h"
#include "download/RunQuestions.h"
#include "tests/support/TestMapServer.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

// Readable values in the test's failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;

class FakeQuestions : public RunQuestions {
public:
    void notice(const QString& caption, const QString& text) override {
        notices << caption + u'|' + text;
    }
    bool confirmOverwrite(const QString& caption, const QString& text) override {
        questions << caption + u'|' + text;
        return answer;
    }
    QStringList notices;
    QStringList questions;
    bool answer = true;
};

// Everything a run reports, in order.
struct Recorder {
    explicit Recorder(DownloadRun& run) {
        QObject::connect(&run, &DownloadRun::logEvent, [this](const QString& m) { log << m; });
        QObject::connect(&run, &DownloadRun::logCleared, [this] {
            log.clear();
            ++clears;
        });
        QObject::connect(&run, &DownloadRun::statusText,
                         [this](const QString& t) { statuses << t; });
        QObject::connect(&run, &DownloadRun::progressRange, [this](int m) { maximum = m; });
        QObject::connect(&run, &DownloadRun::progress, [this](int v) { progress.push_back(v); });
        QObject::connect(&run, &DownloadRun::controlsLocked, [this] { events << "locked"; });
        QObject::connect(&run, &DownloadRun::cancelled, [this] { events << "cancelled"; });
        QObject::connect(&run, &DownloadRun::folderReplaced,
                         [this](const QString& f) { events << "folder " + f; });
        QObject::connect(&run, &DownloadRun::tileWaiting,
                         [this](int, int, const QString& label) { waiting << label; });
        QObject::connect(&run, &DownloadRun::tileDownloaded,
                         [this](int c, int r) { downloaded << QPoint(c, r); });
        QObject::connect(&run, &DownloadRun::tileShown,
                         [this](int c, int r, const QImage& image, const QString& name) {
                             shown << name;
                             EXPECT_EQ(image.size(), QSize(400, 400)) << c << "," << r;
                         });
        QObject::connect(&run, &DownloadRun::previewCleared, [this] { ++previewClears; });
        QObject::connect(&run, &DownloadRun::tileFailed,
                         [this](int c, int r, const QString& reason) {
                             failed << QPoint(c, r);
                             reasons << reason;
                         });
        QObject::connect(&run, &DownloadRun::markerHidden,
                         [this](int c, int r) { hidden << QPoint(c, r); });
        QObject::connect(&run, &DownloadRun::finished, [this](const RunOutcome& o) {
            outcome = o;
            ++finishes;
        });
    }
    QStringList log;
    QStringList statuses;
    QStringList events;
    QStringList waiting;
    QStringList shown;
    QStringList reasons;
    QList<QPoint> downloaded;
    QList<QPoint> failed;
    QList<QPoint> hidden;
    std::vector<int> progress;
    int maximum = -1;
    int clears = 0;
    int previewClears = 0;
    int finishes = 0;
    RunOutcome outcome;
};

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

bool Near(const QColor& a, const QColor& b, int tolerance = 6) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

std::vector<int> OneTo(int n) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i) {
        v.push_back(i);
    }
    return v;
}

class DownloadRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.listen());
        ASSERT_TRUE(m_dir.isValid());
    }

    // Orthophoto tiles of 5000 m from 585000 / 4730000, as the window's defaults.
    DownloadJob Job(int across, int down) {
        DownloadJob job;
        job.kind = MapKind::Orto;
        AreaInputs in;
        in.eastingText = QStringLiteral("585000");
        in.northingText = QStringLiteral("730000");
        in.acrossPosition = across - 1;
        in.downPosition = down - 1;
        in.coveragePosition = 0;
        in.serverBase = m_server.baseUrl();
        AreaResult r = RecalcArea(job, in);
        EXPECT_TRUE(r.complete());
        r.job.folder = m_dir.path();
        r.job.saveBmp = true;
        return r.job;
    }

    // Starts the run and waits for its end.
    DownloadRun::StartResult Run(DownloadRun& run, int timeoutMs = 60000) {
        run.setTransferTimeout(5000);
        QSignalSpy done(&run, &DownloadRun::finished);
        const auto result = run.start();
        if (result == DownloadRun::StartResult::Started) {
            EXPECT_TRUE(done.count() == 1 || done.wait(timeoutMs));
        }
        return result;
    }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    // The server paints each tile by the integer parts of its Xmin and Ymin.
    static QColor ColourOf(const DownloadJob& job, int column, int row) {
        const TileRect b = TileBounds(job, column, row);
        return TestMapServer::TileColour(b.xmin, b.ymin);
    }

    // Checks the four corners and the centre of every tile's 400-pixel square.
    void ExpectTilesInBmp(const DownloadJob& job, const QImage& bmp) {
        for (int row = 1; row <= job.tilesDown; ++row) {
            for (int column = 1; column <= job.tilesAcross; ++column) {
                const int x = (column - 1) * 400;
                const int y = (row - 1) * 400;
                for (const QPoint p : {QPoint(x, y), QPoint(x + 399, y), QPoint(x, y + 399),
                                       QPoint(x + 399, y + 399), QPoint(x + 200, y + 200)}) {
                    EXPECT_TRUE(Near(bmp.pixelColor(p), ColourOf(job, column, row)))
                        << "tile " << column << "," << row << " at " << p.x() << "," << p.y();
                }
            }
        }
    }

    TestMapServer m_server;
    QNetworkAccessManager m_manager;
    QTemporaryDir m_dir;
    FakeQuestions m_questions;
};

const QStringList kThreeByTwo{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg"};

TEST_F(DownloadRunTest, ThreeByTwoAllFetchedWithBmp) {
    const DownloadJob job = Job(3, 2);
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);

    QStringList expectedLog{". Comienzo de la descarga"};
    for (const QString& name : kThreeByTwo) {
        expectedLog << ". Descargado mosaico " + name;
    }
    expectedLog << ". Fin de la descarga"
                << ". Fichero BMP grabado";
    EXPECT_EQ(rec.log, expectedLog);
    EXPECT_EQ(rec.clears, 1);
    EXPECT_EQ(rec.events, QStringList{"locked"});
    EXPECT_TRUE(m_questions.notices.isEmpty());
    EXPECT_TRUE(m_questions.questions.isEmpty());
    EXPECT_EQ(rec.waiting, (QStringList{"A01", "A02", "A03", "B01", "B02", "B03"}));
    EXPECT_EQ(rec.maximum, 6);
    EXPECT_EQ(rec.progress, OneTo(6));
    EXPECT_EQ(rec.shown, kThreeByTwo);
    EXPECT_EQ(rec.hidden.size(), 6);
    EXPECT_TRUE(rec.failed.isEmpty());
    EXPECT_EQ(rec.statuses.first(), QStringLiteral("Iniciando descarga de mosaicos."));
    EXPECT_EQ(rec.statuses.at(1), QStringLiteral("Descargando mosaico A01.jpg"));
    EXPECT_EQ(rec.statuses.at(2), QStringLiteral("Fin de descarga del mosaico A01.jpg"));
    EXPECT_EQ(rec.statuses.mid(rec.statuses.size() - 3),
              (QStringList{"Fin de descarga de los mosaicos.", "Grabando el mosaico a .BMP.",
                           "Fichero BMP grabado."}));
    EXPECT_EQ(rec.finishes, 1);
    EXPECT_TRUE(rec.outcome.calibrationDue());
    EXPECT_TRUE(rec.outcome.bmpSaved);
    EXPECT_TRUE(rec.outcome.anyFetched);

    // The run's table: names, URLs and fetched marks, in the run's copy only.
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            const TileRequest& t = run.job().tile(column, row);
            EXPECT_TRUE(t.fetched);
            EXPECT_EQ(t.fileName, TileFileName(job, column, row));
            EXPECT_EQ(t.url, BuildTileUrl(job, column, row));
            EXPECT_FALSE(job.tile(column, row).fetched);
        }
    }

    // One request per tile, in grid order.
    const QStringList requests = m_server.requests();
    ASSERT_EQ(requests.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const QUrlQuery q(QUrl(requests.at(i)).query());
        const TileRect b = TileBounds(job, i % 3 + 1, i / 3 + 1);
        EXPECT_TRUE(q.queryItemValue("Xmin").startsWith(QString::number(b.xmin) + '.'));
        EXPECT_EQ(q.queryItemValue("Ymin").split('.').first(), QString::number(b.ymin));
    }

    EXPECT_EQ(FilesIn(m_dir.path()), QStringList(kThreeByTwo) << "Prueba.bmp");
    QImage bmp(Path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(1200, 800));
    ExpectTilesInBmp(job, bmp);
}

TEST_F(DownloadRunTest, BmpOptionOffWritesNoPerTileLineAndAsksNothing) {
    DownloadJob job = Job(2, 1);
    job.saveBmp = false;
    QFile old(Path("Prueba.bmp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    EXPECT_EQ(rec.log, (QStringList{". Comienzo de la descarga", ". Fin de la descarga"}));
    EXPECT_TRUE(m_questions.questions.isEmpty());
    EXPECT_EQ(rec.shown, (QStringList{"A01.jpg", "A02.jpg"}));
    EXPECT_TRUE(run.job().tile(2, 1).fetched);
    EXPECT_TRUE(rec.outcome.calibrationDue());
    EXPECT_FALSE(rec.outcome.bmpSaved);
    EXPECT_FALSE(rec.statuses.contains("Grabando el mosaico a .BMP."));
    EXPECT_EQ(FilesIn(m_dir.path()), (QStringList{"A01.jpg", "A02.jpg", "Prueba.bmp"}));
    QFile kept(Path("Prueba.bmp"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("old"));
}

TEST_F(DownloadRunTest, CancelAtOverwriteQuestionEndsBeforeAnyTile) {
    const DownloadJob job = Job(3, 2);
    QFile old(Path("Prueba.bmp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    m_questions.answer = false;
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    EXPECT_EQ(Run(run), DownloadRun::StartResult::Cancelled);
    EXPECT_EQ(m_questions.questions,
              QStringList{"Grabar fichero BMP|El fichero ya existe. ¿ Sobreescribir ?"});
    EXPECT_EQ(rec.events, (QStringList{"locked", "cancelled"}));
    EXPECT_EQ(rec.log, QStringList{". Comienzo de la descarga"});
    EXPECT_TRUE(rec.waiting.isEmpty());
    EXPECT_TRUE(rec.progress.empty());
    EXPECT_EQ(rec.finishes, 0);
    EXPECT_FALSE(run.isRunning());
    QTest::qWait(50);
    EXPECT_TRUE(m_server.requests().isEmpty());
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"Prueba.bmp"});
}

TEST_F(DownloadRunTest, OverwriteAcceptedReplacesTheBmpAtTheEnd) {
    const DownloadJob job = Job(1, 1);
    QFile old(Path("Prueba.bmp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    EXPECT_EQ(m_questions.questions.size(), 1);
    QImage bmp(Path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(400, 400));
    ExpectTilesInBmp(job, bmp);
}

TEST_F(DownloadRunTest, MissingFolderFallsBackToCurrentDirectory) {
    QTemporaryDir current;
    ASSERT_TRUE(current.isValid());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(current.path()));
    DownloadJob job = Job(1, 1);
    job.folder = m_dir.filePath(QStringLiteral("gone"));
    job.saveBmp = false;
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    const auto result = Run(run);
    QDir::setCurrent(before);
    ASSERT_EQ(result, DownloadRun::StartResult::Started);
    EXPECT_EQ(m_questions.notices,
              QStringList{"Carpeta destino|La carpeta destino no existe. Los ficheros se "
                          "grabarán en la carpeta actual"});
    const QString shown = QDir::toNativeSeparators(QDir(current.path()).canonicalPath());
    EXPECT_EQ(rec.events, (QStringList{"folder " + shown, "locked"}));
    EXPECT_EQ(run.job().folder, shown);
    EXPECT_EQ(FilesIn(current.path()), QStringList{"A01.jpg"});
    EXPECT_FALSE(QFileInfo::exists(job.folder));
}

TEST_F(DownloadRunTest, SomeTilesFailWithDeleteOption) {
    DownloadJob job = Job(3, 2);
    job.deleteTiles = true;
    const TileRect b22 = TileBounds(job, 2, 2);
    m_server.setFault(b22.xmin, b22.ymin, Fault::Http500);
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    EXPECT_EQ(
        rec.log,
        (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                     ". Descargado mosaico A02.jpg", ". Descargado mosaico A03.jpg",
                     ". Descargado mosaico B01.jpg", ". Fallo en la descarga del mosaico B02.jpg",
                     ". Descargado mosaico B03.jpg", ". Fin de la descarga",
                     ". No se descargó algún mosaico", ". Archivos del mosaico borrados"}));
    EXPECT_EQ(rec.failed, QList<QPoint>{QPoint(2, 2)});
    EXPECT_FALSE(rec.reasons.value(0).isEmpty());
    EXPECT_EQ(rec.progress, OneTo(6));
    EXPECT_EQ(rec.hidden.size(), 5);
    EXPECT_FALSE(run.job().tile(2, 2).fetched);
    EXPECT_TRUE(rec.outcome.anyFailed);
    EXPECT_FALSE(rec.outcome.calibrationDue());
    EXPECT_FALSE(rec.outcome.bmpSaved);
    EXPECT_TRUE(rec.statuses.contains("Fallo en la descarga del mosaico B02.jpg"));
    EXPECT_EQ(rec.statuses.last(), QStringLiteral("Archivos del mosaico borrados."));
    // Ten attempts for the failing tile, one for each of the others.
    EXPECT_EQ(m_server.requests().size(), 5 + 10);
    EXPECT_TRUE(FilesIn(m_dir.path()).isEmpty());
}

TEST_F(DownloadRunTest, EveryTileFailsAndNothingIsDeleted) {
    DownloadJob job = Job(3, 2);
    job.deleteTiles = true;
    // A tile file of an earlier run stays: the fetch writes nothing and no clean-up runs.
    QFile earlier(Path("A01.jpg"));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    m_server.setFaultForAll(Fault::Http404);
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    QStringList expected{". Comienzo de la descarga"};
    for (const QString& name : kThreeByTwo) {
        expected << ". Fallo en la descarga del mosaico " + name;
    }
    expected << ". Fin de la descarga"
             << ". No se descargó ningún mosaico";
    EXPECT_EQ(rec.log, expected);
    EXPECT_EQ(rec.progress, OneTo(6));
    EXPECT_EQ(rec.maximum, 6);
    EXPECT_EQ(rec.failed.size(), 6);
    EXPECT_TRUE(rec.shown.isEmpty());
    EXPECT_TRUE(rec.hidden.isEmpty());
    EXPECT_FALSE(rec.outcome.anyFetched);
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"A01.jpg"});
}

TEST_F(DownloadRunTest, TileWhoseFileDoesNotDecodeCountsOnceAndFails) {
    const DownloadJob job = Job(3, 1);
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    // The file is spoilt between its writing and its reading back for the preview.
    QObject::connect(&run, &DownloadRun::tileDownloaded, [this](int column, int) {
        if (column == 2) {
            QFile f(Path("A02.jpg"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("not a picture");
        }
    });
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    EXPECT_EQ(rec.progress, OneTo(3));
    EXPECT_EQ(rec.previewClears, 1);
    EXPECT_EQ(rec.failed, QList<QPoint>{QPoint(2, 1)});
    EXPECT_EQ(rec.downloaded.size(), 3);
    EXPECT_EQ(rec.shown, (QStringList{"A01.jpg", "A03.jpg"}));
    EXPECT_EQ(rec.log, (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                                    ". Fallo en la descarga del mosaico A02.jpg",
                                    ". Descargado mosaico A03.jpg", ". Fin de la descarga",
                                    ". No se descargó algún mosaico"}));
    EXPECT_FALSE(QFileInfo::exists(Path("Prueba.bmp")));
}

// A grid whose pixel width was not recomputed: the second tile has no place in the
// mosaic. Its drawing fails; it keeps its picture and counts once, but the run saves
// no BMP.
TEST_F(DownloadRunTest, TileOutsideTheMosaicTakesTheDrawingFailurePath) {
    DownloadJob job = Job(2, 1);
    job.widthPixels = 400;
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    EXPECT_EQ(rec.log, (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                                    ". Fallo en la descarga del mosaico A02.jpg",
                                    ". Fin de la descarga", ". No se descargó algún mosaico"}));
    EXPECT_TRUE(rec.failed.isEmpty()); // the marker stays hidden
    EXPECT_EQ(rec.shown, (QStringList{"A01.jpg", "A02.jpg"}));
    EXPECT_EQ(rec.progress, OneTo(2));
    EXPECT_EQ(rec.hidden, QList<QPoint>{QPoint(1, 1)});
    EXPECT_FALSE(QFileInfo::exists(Path("Prueba.bmp")));
}

TEST_F(DownloadRunTest, DeleteAndBmpBothOnCleansUpBeforeTheBmpIsSaved) {
    DownloadJob job = Job(3, 2);
    job.deleteTiles = true;
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    ASSERT_GE(rec.log.size(), 3);
    EXPECT_EQ(rec.log.mid(rec.log.size() - 3),
              (QStringList{". Fin de la descarga", ". Archivos del mosaico borrados",
                           ". Fichero BMP grabado"}));
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"Prueba.bmp"});
    QImage bmp(Path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(1200, 800));
    ExpectTilesInBmp(job, bmp);
}

TEST_F(DownloadRunTest, TenByTenInGridOrderWithLastTileAt3600) {
    const DownloadJob job = Job(10, 10);
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run, 120000), DownloadRun::StartResult::Started);
    ASSERT_EQ(rec.log.size(), 103);
    const QString rows = QStringLiteral("ABCDEFGHIJ");
    for (int i = 0; i < 100; ++i) {
        const QString name =
            QStringLiteral("%1%2.jpg").arg(rows.at(i / 10)).arg(i % 10 + 1, 2, 10, QChar('0'));
        EXPECT_EQ(rec.log.at(i + 1), ". Descargado mosaico " + name);
    }
    EXPECT_EQ(rec.log.last(), QStringLiteral(". Fichero BMP grabado"));
    QImage bmp(Path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(4000, 4000));
    EXPECT_TRUE(Near(bmp.pixelColor(3600, 3600), ColourOf(job, 10, 10)));
    EXPECT_TRUE(Near(bmp.pixelColor(3999, 3999), ColourOf(job, 10, 10)));
    EXPECT_TRUE(Near(bmp.pixelColor(3599, 3599), ColourOf(job, 9, 9)));
    EXPECT_TRUE(Near(bmp.pixelColor(3599, 3600), ColourOf(job, 9, 10)));
    EXPECT_TRUE(Near(bmp.pixelColor(0, 0), ColourOf(job, 1, 1)));
}

TEST_F(DownloadRunTest, BmpThatCannotBeWrittenIsReportedAndLeavesNothing) {
    DownloadJob job = Job(1, 1);
    job.bmpName = QStringLiteral("no/such/folder/Prueba");
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    ASSERT_EQ(Run(run), DownloadRun::StartResult::Started);
    EXPECT_EQ(rec.finishes, 1);
    EXPECT_FALSE(rec.outcome.bmpSaved);
    EXPECT_FALSE(rec.outcome.calibrationDue());
    EXPECT_TRUE(rec.outcome.error.startsWith("No se ha podido grabar el fichero BMP "))
        << rec.outcome.error.toStdString();
    EXPECT_EQ(rec.log.last(), QStringLiteral(". Fin de la descarga"));
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"A01.jpg"});
}

TEST_F(DownloadRunTest, GridWithoutTilesDoesNotStart) {
    DownloadJob job = Job(1, 1);
    job.tilesAcross = 0;
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    EXPECT_EQ(run.start(), DownloadRun::StartResult::NoTiles);
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_TRUE(rec.log.isEmpty());
    EXPECT_FALSE(run.isRunning());
}

TEST_F(DownloadRunTest, AbortDuringAFetchStopsCleanly) {
    const DownloadJob job = Job(3, 2);
    const TileRect b = TileBounds(job, 3, 1);
    m_server.setFault(b.xmin, b.ymin, Fault::Stall);
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    run.setTransferTimeout(5000);
    // Stopped once the stalled tile's request has reached the server.
    QEventLoop loop;
    QObject::connect(&m_server, &TestMapServer::requestArrived, &run, [&run, &loop, this] {
        if (m_server.requests().size() == 3) {
            QTimer::singleShot(20, &run, [&run, &loop] {
                run.abort();
                loop.quit();
            });
        }
    });
    ASSERT_EQ(run.start(), DownloadRun::StartResult::Started);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(run.isRunning());
    QTest::qWait(100);
    EXPECT_EQ(rec.finishes, 0);
    EXPECT_EQ(m_server.requests().size(), 3);
    EXPECT_EQ(rec.log.last(), QStringLiteral(". Descargado mosaico A02.jpg"));
    // No temporary download file, no BMP: only the two tiles that were complete.
    EXPECT_EQ(FilesIn(m_dir.path()), (QStringList{"A01.jpg", "A02.jpg"}));
}

TEST_F(DownloadRunTest, AbortWhileTheBmpIsWrittenKeepsTheOldFile) {
    const DownloadJob job = Job(10, 10);
    QFile old(Path("Prueba.bmp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    DownloadRun run(job, &m_manager, m_questions);
    Recorder rec(run);
    QEventLoop loop;
    QObject::connect(&run, &DownloadRun::statusText, &run, [&run, &loop](const QString& text) {
        if (text == QStringLiteral("Grabando el mosaico a .BMP.")) {
            // After the first slice of rows.
            QTimer::singleShot(0, &run, [&run, &loop] {
                run.abort();
                loop.quit();
            });
        }
    });
    ASSERT_EQ(run.start(), DownloadRun::StartResult::Started);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(run.isRunning());
    EXPECT_EQ(rec.finishes, 0);
    EXPECT_FALSE(rec.log.contains(". Fichero BMP grabado"));
    const QStringList files = FilesIn(m_dir.path());
    EXPECT_EQ(files.size(), 101) << files.join(' ').toStdString();
    QFile kept(Path("Prueba.bmp"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("old"));
}

} // namespace
