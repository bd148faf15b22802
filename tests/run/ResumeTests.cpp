// A run is never lost: the record it leaves, resuming from it, and trying again only the
// tiles that failed.
#include "tests/run/RunTestSupport.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;
using Resume = RunTest;

QByteArray RecordText(const QString& folder) {
    return ReadAll(QDir(folder).filePath("Prueba.morvel"));
}

TEST_F(Resume, FailedTilesLeaveTheRecordAndACompleteRunRemovesIt) {
    const DownloadJob job = Job(3, 2);
    setFault(job, 2, 1, Fault::Http500);
    const RunReport failed = Run(job);
    EXPECT_TRUE(failed.outcome.recordKept);
    // Each tile written with its size and the SHA-256 of its bytes.
    const QString text = QString::fromUtf8(RecordText(dir.path()));
    const QString stamped = QStringLiteral("=descargado (\\d+) ([0-9a-f]{64})\r\n");
    const QRegularExpressionMatch a01 = QRegularExpression("A01" + stamped).match(text);
    ASSERT_TRUE(a01.hasMatch()) << text.toStdString();
    const QByteArray a01File = ReadAll(path("A01.jpg"));
    EXPECT_EQ(a01.captured(1).toLongLong(), a01File.size());
    EXPECT_EQ(a01.captured(2).toLatin1(),
              QCryptographicHash::hash(a01File, QCryptographicHash::Sha256).toHex());
    EXPECT_TRUE(text.contains("\r\nA02=fallido: HTTP 500\r\nA03=descargado "))
        << text.toStdString();
    EXPECT_TRUE(QRegularExpression("B03" + stamped).match(text).hasMatch());

    // Asked whether to go on; OK takes the five tiles and asks only for A02.
    server.clearFaults();
    const int before = static_cast<int>(server.requests().size());
    const RunReport resumed = Run(job);
    ASSERT_EQ(questions.resumes.size(), 1);
    EXPECT_EQ(questions.resumes[0],
              QStringLiteral("Continuar la descarga|Hay una descarga sin terminar de este mismo "
                             "mosaico, con 5 de 6 mosaicos descargados. ¿Continuar con los "
                             "mosaicos ya descargados?"));
    EXPECT_EQ(static_cast<int>(server.requests().size()) - before, 1);
    EXPECT_EQ(requestsFor(job, 2, 1), 11);
    EXPECT_EQ(resumed.log,
              (QStringList{". Comienzo de la descarga", ". Reutilizado mosaico A01.jpg",
                           ". Descargado mosaico A02.jpg", ". Reutilizado mosaico A03.jpg",
                           ". Reutilizado mosaico B01.jpg", ". Reutilizado mosaico B02.jpg",
                           ". Reutilizado mosaico B03.jpg", ". Fin de la descarga",
                           ". Fichero BMP grabado"}));
    EXPECT_EQ(resumed.progress, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(resumed.shown.size(), 6);
    EXPECT_FALSE(resumed.outcome.recordKept);
    EXPECT_FALSE(QFileInfo::exists(path("Prueba.morvel")));
}

// Stopped halfway, then resumed: only the missing tiles are asked for, and the BMP is the
// very one an uninterrupted run makes.
TEST_F(Resume, AStoppedRunResumesToTheSameBmp) {
    QTemporaryDir whole;
    Run(Job(4, 3, whole.path()));
    const QByteArray uninterrupted = ReadAll(QDir(whole.path()).filePath("Prueba.bmp"));
    ASSERT_FALSE(uninterrupted.isEmpty());

    const DownloadJob job = Job(4, 3);
    server.setLatency(20);
    int shown = 0;
    const RunReport stopped = Run(job, 2, {}, [&shown](DownloadRun& run) {
        QObject::connect(&run, &DownloadRun::tileShown, &run, [&run, &shown] {
            if (++shown == 5) {
                QTimer::singleShot(0, &run, &DownloadRun::stop);
            }
        });
    });
    EXPECT_TRUE(stopped.outcome.stopped);
    EXPECT_TRUE(stopped.outcome.recordKept);
    EXPECT_EQ(stopped.log.last(), ". Descarga detenida por el usuario");
    EXPECT_EQ(stopped.statuses.last(), "Descarga detenida.");
    const std::optional<JobRecord> record = LoadJobRecord(path("Prueba.morvel"));
    ASSERT_TRUE(record);
    const int fetched = record->count(TileState::Fetched);
    EXPECT_GE(fetched, 5);
    EXPECT_EQ(record->count(TileState::Failed), 0);
    EXPECT_FALSE(QFileInfo::exists(path("Prueba.bmp")));

    // Counted by their numbers: the stopped run's last request may reach the server late.
    const int before = CurrentRequestCounter();
    const RunReport resumed = Run(job, 2);
    EXPECT_EQ(server.requestsNumberedAfter(before).size(), 12 - fetched);
    EXPECT_EQ(resumed.log.count(QStringLiteral(". Fichero BMP grabado")), 1);
    EXPECT_EQ(ReadAll(path("Prueba.bmp")), uninterrupted);
}

// A tile file removed or changed since the record was written is asked for again; Cancel
// at the question starts afresh.
TEST_F(Resume, ChangedTilesAreFetchedAgainAndCancelStartsAfresh) {
    const DownloadJob job = Job(3);
    setFault(job, 3, 1, Fault::Http404);
    Run(job);
    server.clearFaults();
    ASSERT_TRUE(QFile::remove(path("A01.jpg")));
    const int before = static_cast<int>(server.requests().size());
    const RunReport r = Run(job);
    EXPECT_EQ(static_cast<int>(server.requests().size()) - before, 2); // A01 and A03
    EXPECT_EQ(r.log.mid(1, 4),
              (QStringList{". Mosaico A01.jpg no reutilizado: el fichero no existe",
                           ". Descargado mosaico A01.jpg", ". Reutilizado mosaico A02.jpg",
                           ". Descargado mosaico A03.jpg"}));

    // A spoilt tile: the next failed run leaves a record, and the tile is asked for again.
    setFault(job, 3, 1, Fault::Http404);
    Run(job, 1, [](DownloadRun& run) { run.setResumePolicy(ResumePolicy::Never); });
    server.clearFaults();
    WriteAll(path("A02.jpg"), "not a picture");
    const int second = static_cast<int>(server.requests().size());
    Run(job);
    EXPECT_EQ(static_cast<int>(server.requests().size()) - second, 2); // A02 and A03

    // Cancel: every tile again.
    setFault(job, 3, 1, Fault::Http404);
    Run(job, 1, [](DownloadRun& run) { run.setResumePolicy(ResumePolicy::Never); });
    server.clearFaults();
    questions.resume = false;
    const int third = static_cast<int>(server.requests().size());
    const RunReport fresh = Run(job);
    EXPECT_EQ(static_cast<int>(server.requests().size()) - third, 3);
    EXPECT_FALSE(fresh.log.join(' ').contains("Reutilizado"));
}

// A record of another job, or a damaged one, is not offered and is replaced.
TEST_F(Resume, ARecordOfAnotherJobIsIgnored) {
    DownloadJob other = Job(3);
    other.easting += 5000;
    other.requestPrefix = RequestPrefix(other.kind, server.baseUrl());
    JobRecord foreign = JobRecord::ForJob(other);
    foreign.setState(1, 1, TileState::Fetched);
    for (const QByteArray& text : {foreign.toBytes(), QByteArray("[Descarga]\r\nbasura")}) {
        WriteAll(path("Prueba.morvel"), text);
        const int before = static_cast<int>(server.requests().size());
        const DownloadJob job = Job(3);
        setFault(job, 3, 1, Fault::Http404);
        Run(job);
        server.clearFaults();
        EXPECT_TRUE(questions.resumes.isEmpty());
        EXPECT_EQ(static_cast<int>(server.requests().size()) - before, 2 + 10);
        const std::optional<JobRecord> replaced = LoadJobRecord(path("Prueba.morvel"));
        ASSERT_TRUE(replaced);
        EXPECT_TRUE(replaced->sameJob(JobRecord::ForJob(job)));
        ASSERT_TRUE(QFile::remove(path("Prueba.morvel")));
    }
}

// After a run with two failed tiles, trying again asks for exactly those two and then does
// the closing steps as if the whole grid had come in one go.
TEST_F(Resume, RetryingOnlyTheFailedTiles) {
    DownloadJob job = Job(3, 2);
    job.deleteTiles = true;
    job.saveOzi = true;
    job.saveCompe = true;
    setFault(job, 2, 1, Fault::Http500);
    setFault(job, 3, 2, Fault::Http404);
    QSet<QPoint> fetched;
    DownloadJob ran;
    const RunReport first = Run(job, 2, {}, [&](DownloadRun& run) {
        QObject::connect(&run, &DownloadRun::finished, &run, [&] {
            fetched = run.fetchedTiles();
            ran = run.job();
        });
    });
    EXPECT_EQ(fetched.size(), 4);
    EXPECT_TRUE(first.log.contains(". Mosaicos conservados: no se grabó el fichero BMP"));

    server.clearFaults();
    const int before = static_cast<int>(server.requests().size());
    const RunReport retry = Run(ran, 2, [&fetched](DownloadRun& run) { run.takeTiles(fetched); });
    EXPECT_TRUE(questions.resumes.isEmpty());
    const QStringList again = server.requests().mid(before);
    ASSERT_EQ(again.size(), 2);
    EXPECT_EQ(requestsFor(job, 2, 1), 11);
    EXPECT_EQ(requestsFor(job, 3, 2), 11);
    EXPECT_EQ(
        retry.log.mid(retry.log.indexOf(". Fin de la descarga")),
        (QStringList{". Fin de la descarga", ". Fichero BMP grabado",
                     ". Archivos del mosaico borrados", ". Generada calibración para OZiExplorer",
                     ". Generada calibración para CompeGPS"}));
    EXPECT_EQ(files(), (QStringList{"Prueba.bmp", "Prueba.imp", "Prueba.map"}));
    const QImage bmp(path("Prueba.bmp"), "BMP");
    ASSERT_EQ(bmp.size(), QSize(1200, 800));
    const TileRect a02 = TileBounds(job, 2, 1);
    const QColor expected = TestMapServer::TileColour(a02.xmin, a02.ymin);
    const QColor actual = bmp.pixelColor(600, 200);
    EXPECT_LE(std::abs(actual.red() - expected.red()) +
                  std::abs(actual.green() - expected.green()) +
                  std::abs(actual.blue() - expected.blue()),
              18);
}

} // namespace
