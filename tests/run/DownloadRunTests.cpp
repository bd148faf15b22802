// The run object against a map server on 127.0.0.1, for what the window tests cannot see:
// the sequence of status texts and a tile that has no place in the mosaic.
#include "job/AreaRecalc.h"
#include "run/DownloadRun.h"
#include "run/RunQuestions.h"
#include "tests/support/TestMapServer.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

// Readable values in the test's failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

class NoQuestions : public RunQuestions {
public:
    void notice(const QString&, const QString&) override { ADD_FAILURE() << "notice"; }
    bool confirmOverwrite(const QString&, const QString&) override {
        ADD_FAILURE() << "question";
        return false;
    }
};

// A run over `across` x 1 orthophoto tiles of 5000 m from 585000 / 4730000, and what it
// reports.
class RunOf : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.listen());
        ASSERT_TRUE(m_dir.isValid());
    }

    DownloadJob Job(int across) {
        DownloadJob job;
        job.kind = MapKind::Orto;
        AreaInputs in;
        in.eastingText = QStringLiteral("585000");
        in.northingText = QStringLiteral("730000");
        in.acrossPosition = across - 1;
        in.downPosition = 0;
        in.coveragePosition = 0;
        in.serverBase = m_server.baseUrl();
        AreaResult r = RecalcArea(job, in);
        EXPECT_TRUE(r.complete());
        r.job.folder = m_dir.path();
        r.job.saveBmp = true;
        return r.job;
    }

    void Run(const DownloadJob& job) {
        DownloadRun run(job, &m_manager, m_questions);
        run.setTransferTimeout(5000);
        QObject::connect(&run, &DownloadRun::logEvent, [this](const QString& m) { log << m; });
        QObject::connect(&run, &DownloadRun::statusText,
                         [this](const QString& t) { statuses << t; });
        QObject::connect(&run, &DownloadRun::progress, [this](int v) { progress.push_back(v); });
        QObject::connect(&run, &DownloadRun::tileShown,
                         [this](int, int, const QImage&, const QString& name) { shown << name; });
        QObject::connect(&run, &DownloadRun::tileFailed,
                         [this](int c, int r) { failed << QPoint(c, r); });
        QObject::connect(&run, &DownloadRun::markerHidden,
                         [this](int c, int r) { hidden << QPoint(c, r); });
        QSignalSpy done(&run, &DownloadRun::finished);
        ASSERT_EQ(run.start(), DownloadRun::StartResult::Started);
        ASSERT_TRUE(done.count() == 1 || done.wait(60000));
    }

    TestMapServer m_server;
    QNetworkAccessManager m_manager;
    QTemporaryDir m_dir;
    NoQuestions m_questions;
    QStringList log;
    QStringList statuses;
    QStringList shown;
    std::vector<int> progress;
    QList<QPoint> failed;
    QList<QPoint> hidden;
};

TEST_F(RunOf, StatusTextsOfACleanUpAndBmp) {
    DownloadJob job = Job(2);
    job.deleteTiles = true;
    Run(job);
    EXPECT_EQ(
        statuses,
        (QStringList{"Iniciando descarga de mosaicos.", "Descargando mosaico A01.jpg",
                     "Fin de descarga del mosaico A01.jpg", "Descargando mosaico A02.jpg",
                     "Fin de descarga del mosaico A02.jpg", "Fin de descarga de los mosaicos.",
                     "Borrando archivos del mosaico.", "Archivos del mosaico borrados.",
                     "Grabando el mosaico a .BMP.", "Fichero BMP grabado."}));
}

// A02's fetch fails. The pixel width was left at two tiles, so A03 has no place in the
// mosaic: its drawing fails, but it keeps its picture, its hidden marker and its count.
TEST_F(RunOf, FetchAndDrawingFailures) {
    DownloadJob job = Job(3);
    job.widthPixels = 800;
    const TileRect b = TileBounds(job, 2, 1);
    m_server.setFault(b.xmin, b.ymin, TestMapServer::Fault::Http500);
    Run(job);
    EXPECT_EQ(statuses,
              (QStringList{
                  "Iniciando descarga de mosaicos.", "Descargando mosaico A01.jpg",
                  "Fin de descarga del mosaico A01.jpg", "Descargando mosaico A02.jpg",
                  "Fallo en la descarga del mosaico A02.jpg", "Descargando mosaico A03.jpg",
                  "Fallo en la descarga del mosaico A03.jpg", "Fin de descarga de los mosaicos."}));
    EXPECT_EQ(log, (QStringList{". Comienzo de la descarga", ". Descargado mosaico A01.jpg",
                                ". Fallo en la descarga del mosaico A02.jpg",
                                ". Fallo en la descarga del mosaico A03.jpg",
                                ". Fin de la descarga", ". No se descargó algún mosaico"}));
    EXPECT_EQ(failed, QList<QPoint>{QPoint(2, 1)});
    EXPECT_EQ(shown, (QStringList{"A01.jpg", "A03.jpg"}));
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(hidden, QList<QPoint>{QPoint(1, 1)});
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("Prueba.bmp")));
}

} // namespace
