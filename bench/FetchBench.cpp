// FetchBench: fetches a 10 x 10 grid of tiles from the tests' map server on loopback, one
// after the other as a run does, and tells where the time goes. Two passes: the first with
// the server still encoding its answers, the second served from its cache.
#include "download/JpegCodec.h"
#include "download/UGatorade.h"
#include "job/DownloadJob.h"
#include "job/MapKinds.h"
#include "tests/support/TestMapServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kGrid = 10;
constexpr double kTargetMsPerTile = 15.0;

struct PassFigures {
    int tiles = 0;
    int failures = 0;
    qint64 totalNs = 0;
    qint64 decodeNs = 0;
    qint64 encodeNs = 0;
    qint64 writeNs = 0;
};

// Drives one pass: each finished tile starts the next, as the run does.
class Pass : public QObject {
public:
    Pass(TileFetcher& fetcher, const DownloadJob& job, const QString& folder)
        : m_fetcher(fetcher), m_job(job), m_folder(folder) {
        connect(&m_fetcher, &TileFetcher::finished, this, &Pass::onFinished);
    }

    PassFigures run() {
        m_clock.start();
        next();
        QCoreApplication::exec();
        m_figures.totalNs = m_clock.nsecsElapsed();
        return m_figures;
    }

private:
    void next() {
        const int column = m_index % kGrid + 1;
        const int row = m_index / kGrid + 1;
        m_fetcher.FetchTile(BuildTileUrl(m_job, column, row),
                            PathPrefix(m_folder) + TileFileName(m_job, column, row));
    }

    void onFinished(const TileFetchResult& result) {
        ++m_figures.tiles;
        if (result.ok) {
            m_figures.decodeNs += result.decodeNs;
            m_figures.encodeNs += result.encodeNs;
            m_figures.writeNs += result.writeNs;
        } else {
            ++m_figures.failures;
            std::fprintf(stderr, "tile %d failed: %s\n", m_index + 1, qPrintable(result.reason));
        }
        if (++m_index < kGrid * kGrid) {
            next();
        } else {
            QCoreApplication::quit();
        }
    }

    TileFetcher& m_fetcher;
    const DownloadJob& m_job;
    QString m_folder;
    int m_index = 0;
    QElapsedTimer m_clock;
    PassFigures m_figures;
};

void Print(const char* title, const PassFigures& f) {
    const double totalMs = static_cast<double>(f.totalNs) / 1e6;
    const double perTile = totalMs / f.tiles;
    auto share = [&](qint64 ns) {
        return QStringLiteral("%1 ms (%2 %)")
            .arg(static_cast<double>(ns) / 1e6, 8, 'f', 1)
            .arg(100.0 * static_cast<double>(ns) / static_cast<double>(f.totalNs), 4, 'f', 1);
    };
    const qint64 rest = f.totalNs - f.decodeNs - f.encodeNs - f.writeNs;
    QTextStream out(stdout);
    out << title << '\n'
        << "  tiles:              " << f.tiles << " (" << f.failures << " failed)\n"
        << "  whole time:         " << QString::number(totalMs, 'f', 1) << " ms\n"
        << "  per tile:           " << QString::number(perTile, 'f', 2) << " ms (target < "
        << kTargetMsPerTile << " ms: " << (perTile < kTargetMsPerTile ? "met" : "NOT met") << ")\n"
        << "  JPEG decode:        " << share(f.decodeNs) << '\n'
        << "  JPEG encode:        " << share(f.encodeNs) << '\n'
        << "  tile file write:    " << share(f.writeNs) << '\n'
        << "  network and server: " << share(rest) << '\n';
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestMapServer server;
    if (!server.listen()) {
        std::fprintf(stderr, "the map server could not listen on 127.0.0.1\n");
        return 1;
    }
    QTemporaryDir folder;
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    TileFetcher fetcher(&manager);

    DownloadJob job;
    job.kind = MapKind::Carto;
    job.easting = 585000;
    job.northingField = 730000;
    job.tileSize = 2000;
    job.requestPrefix = RequestPrefix(job.kind, server.baseUrl());

    PassFigures first;
    PassFigures second;
    {
        Pass pass(fetcher, job, folder.path());
        first = pass.run();
    }
    {
        Pass pass(fetcher, job, folder.path());
        second = pass.run();
    }
    Print("Pass 1, the server encodes every answer:", first);
    Print("Pass 2, the server answers from its cache:", second);
    return first.failures + second.failures == 0 ? 0 : 1;
}
