#include "run/DownloadRun.h"

#include "download/TileImage.h"
#include "download/WhenFinished.h"
#include "exports/OutputFile.h"
#include "job/MapKinds.h"
#include "mosaic/MosaicBitmap.h"
#include "run/RunOutputs.h"
#include "run/RunQuestions.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kBmpCaption = QStringLiteral("Grabar fichero BMP");
const QString kBmpText = QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?");
const QString kResumeCaption = QStringLiteral("Continuar la descarga");

// The log's line for a tile that failed, with the reason when there is one.
QString FailureLine(const QString& fileName, const QString& reason) {
    const QString line = QStringLiteral(". Fallo en la descarga del mosaico ") + fileName;
    return reason.isEmpty() ? line : line + QStringLiteral(": ") + reason;
}

// How long the record may lag behind the tiles while they arrive.
constexpr int kRecordIntervalMs = 250;

// The answers of a run that is being aborted after its BMP went into place: nobody is there
// to ask or tell, and the calibration files describe the image now in place.
class Unattended : public RunQuestions {
public:
    MissingFolder missingFolder(const QString&, const QString&) override {
        return MissingFolder::Cancel;
    }
    bool confirmOverwrite(const QString&, const QString&) override { return true; }
    void message(const QString&) override {}
    void error(const QString&) override {}
    bool confirmResume(const QString&, const QString&) override { return false; }
};

} // namespace

DownloadRun::DownloadRun(const DownloadJob& job, QNetworkAccessManager* manager,
                         RunQuestions& questions, QObject* parent)
    : QObject(parent), m_job(job), m_manager(manager), m_questions(questions),
      m_asking(&questions) {
    qRegisterMetaType<RunOutcome>();
    m_recordWriter.setMaxThreadCount(1);
    m_drainTimer.setSingleShot(true);
    m_drainTimer.setInterval(0);
    connect(&m_drainTimer, &QTimer::timeout, this, [this] {
        drain();
        schedule();
    });
    m_recordTimer.setSingleShot(true);
    m_recordTimer.setInterval(kRecordIntervalMs);
    connect(&m_recordTimer, &QTimer::timeout, this, &DownloadRun::saveRecord);
}

DownloadRun::~DownloadRun() {
    abort();
    m_outputs.reset(); // before the outcome it writes into
}

void DownloadRun::setConnections(int connections) {
    m_connections = std::clamp(connections, 1, kMaxConnections);
}

void DownloadRun::setFetchLimits(const FetchLimits& limits) {
    m_limits = limits;
}

void DownloadRun::takeTiles(const QSet<QPoint>& tiles) {
    m_given = tiles;
    m_resumePolicy = ResumePolicy::Never; // the tiles to take are known; nothing to ask
}

QString DownloadRun::bmpPath() const {
    return m_prefix + m_job.bmpName + QStringLiteral(".bmp");
}

QString DownloadRun::recordPath() const {
    return JobRecordPath(m_prefix, m_job.bmpName);
}

QSet<QPoint> DownloadRun::fetchedTiles() const {
    QSet<QPoint> out;
    for (int row = 1; row <= m_job.tilesDown; ++row) {
        for (int column = 1; column <= m_job.tilesAcross; ++column) {
            if (m_job.tile(column, row).fetched) {
                out.insert(QPoint(column, row));
            }
        }
    }
    return out;
}

DownloadRun::StartResult DownloadRun::start() {
    if (m_phase != Phase::Idle || m_job.tilesAcross < 1 || m_job.tilesAcross > kMaxTiles ||
        m_job.tilesDown < 1 || m_job.tilesDown > kMaxTiles) {
        return StartResult::NoTiles;
    }
    m_phase = Phase::Fetching;
    // Before anything is touched: another run in the folder would write the same tiles.
    const FolderTaken taken = TakeRunFolder(
        m_job.folder, m_lock, m_questions, [this] { return alive(); },
        [this](const QString& folder) { emit folderReplaced(folder); });
    if (taken == FolderTaken::Aborted) {
        return StartResult::Aborted;
    }
    if (taken == FolderTaken::Cancelled) {
        m_phase = Phase::Done;
        emit cancelled();
        return StartResult::Cancelled;
    }
    if (taken == FolderTaken::Busy) {
        m_phase = Phase::Done;
        m_questions.message(m_lock.busyMessage());
        return StartResult::FolderBusy;
    }
    emit controlsLocked();
    emit logCleared();
    emit logEvent(QStringLiteral(". Comienzo de la descarga"));
    m_prefix = PathPrefix(m_job.folder);
    emit progressRange(tileCount());
    m_counter = 0;

    if (m_job.saveBmp) {
        const bool replace =
            !QFileInfo::exists(bmpPath()) || m_questions.confirmOverwrite(kBmpCaption, kBmpText);
        if (!alive()) {
            return StartResult::Aborted;
        }
        if (!replace) {
            m_phase = Phase::Done;
            m_lock.unlock();
            emit cancelled();
            return StartResult::Cancelled;
        }
    }
    const std::optional<JobRecord> earlier = resumeFrom();
    if (!alive()) {
        return StartResult::Aborted;
    }
    if (m_job.joinsTiles()) {
        // A mosaic that cannot be made makes every tile fail at its drawing step.
        m_mosaic = std::make_unique<MosaicBitmap>();
        if (m_mosaic->create(m_job.widthPixels, m_job.heightPixels)) {
            // Laid out white on a worker: the first touch of 48 MB is page faults enough to
            // hold the event loop for 150 ms. Tiles are shown once it is done.
            m_mosaicWork =
                QtConcurrent::run(ImageWorkPool(), [mosaic = m_mosaic.get()] { mosaic->image(); });
            WhenFinished(this, m_mosaicWork, [this] {
                if (!alive()) {
                    return;
                }
                for (size_t index = 0; index < m_cells.size(); ++index) {
                    if (!m_cells[index].undrawn.isNull()) {
                        layIn(m_cells[index], static_cast<int>(index));
                    }
                }
                drain();
                schedule();
            });
        }
    }

    m_cells.assign(static_cast<size_t>(tileCount()), Cell{});
    m_record = JobRecord::ForJob(m_job);
    for (int index = 0; index < tileCount(); ++index) {
        const int column = columnOf(index);
        const int row = rowOf(index);
        TileRequest& tile = m_job.tile(column, row);
        tile.url = BuildTileUrl(m_job, column, row);
        tile.fileName = TileFileName(m_job, column, row);
        tile.fetched = false;
        Cell& cell = m_cells[static_cast<size_t>(index)];
        cell.takeFromBefore = earlier && earlier->vouchesFor(column, row) &&
                              (m_given.isEmpty() || m_given.contains(QPoint(column, row)));
        if (cell.takeFromBefore) {
            m_record.setFetched(column, row, earlier->stamp(column, row));
        }
    }
    if (taken == FolderTaken::Held) {
        // What a killed run of this folder left half-written goes before anything is
        // written; with the folder held, none of it can be another run's: the temporary
        // files of any tile a grid can have (tiles are named alike for every area), of the
        // record and of the exports.
        QStringList ours;
        for (int row = 1; row <= kMaxTiles; ++row) {
            for (int column = 1; column <= kMaxTiles; ++column) {
                ours << TileFileName(m_job, column, row);
            }
        }
        ours << QFileInfo(recordPath()).fileName();
        RemoveTemporaryFiles(m_job.folder, ours);
        RemoveOutputTemporaryFiles(m_job.folder);
    }
    for (int row = 1; row <= m_job.tilesDown; ++row) {
        for (int column = 1; column <= m_job.tilesAcross; ++column) {
            emit tileWaiting(column, row, TileLabel(m_job, column, row));
        }
    }
    emit statusText(QStringLiteral("Iniciando descarga de mosaicos."));
    if (!alive()) {
        return StartResult::Aborted;
    }
    // The record is there before the first request leaves.
    m_recordActive = true;
    saveRecord();

    if (!m_gate) {
        m_ownGate = std::make_unique<TransferGate>(m_connections);
        m_gate = m_ownGate.get();
    }
    m_fetchClock.start();
    schedule();
    return StartResult::Started;
}

std::optional<JobRecord> DownloadRun::resumeFrom() {
    if (m_resumePolicy == ResumePolicy::Never && m_given.isEmpty()) {
        return std::nullopt;
    }
    QString refused;
    std::optional<JobRecord> earlier =
        m_recordStore ? m_recordStore->loadRecord(&refused) : LoadJobRecord(recordPath(), &refused);
    if (!refused.isEmpty()) {
        emit logEvent(QStringLiteral(". Registro de la descarga anterior no leído: ") + refused);
    }
    if (!earlier || !earlier->sameJob(JobRecord::ForJob(m_job))) {
        return std::nullopt; // another job's record, or a damaged one: it is replaced
    }
    int fetched = 0;
    for (int row = 1; row <= m_job.tilesDown; ++row) {
        for (int column = 1; column <= m_job.tilesAcross; ++column) {
            fetched += earlier->vouchesFor(column, row) &&
                               (m_given.isEmpty() || m_given.contains(QPoint(column, row)))
                           ? 1
                           : 0;
        }
    }
    if (fetched == 0) {
        return std::nullopt;
    }
    if (m_given.isEmpty() && m_resumePolicy == ResumePolicy::Ask &&
        !m_questions.confirmResume(
            kResumeCaption,
            QStringLiteral("Hay una descarga sin terminar de este mismo mosaico, con %1 de %2 "
                           "mosaicos descargados. ¿Continuar con los mosaicos ya descargados?")
                .arg(fetched)
                .arg(tileCount()))) {
        return std::nullopt;
    }
    return earlier;
}

void DownloadRun::schedule() {
    if (!alive()) {
        return;
    }
    // Every tile of the grid has its fetch, and the gate lets as many transfers out at once
    // as allowed, in grid order: a tile that keeps the server busy holds up only its own
    // turn to be shown, not the transfers after it. After a folder that takes no file, only
    // what comes before that tile goes on.
    const int end = m_folderStopAt >= 0 ? std::min(m_folderStopAt, tileCount()) : tileCount();
    for (int index = m_head; index < end; ++index) {
        Cell& cell = m_cells[static_cast<size_t>(index)];
        if (cell.stage != Cell::Stage::Waiting) {
            continue;
        }
        if (cell.takeFromBefore) {
            startCheck(index);
            continue;
        }
        startFetch(index, freeFetcher());
        if (!alive()) {
            return;
        }
    }
    announceHead();
}

void DownloadRun::startCheck(int index) {
    Cell& cell = m_cells[static_cast<size_t>(index)];
    cell.stage = Cell::Stage::Checking;
    const QString path = m_prefix + m_job.tile(columnOf(index), rowOf(index)).fileName;
    const TileStamp stamp = m_record.stamp(columnOf(index), rowOf(index));
    const quint64 generation = m_generation;
    WhenFinished(
        this,
        QtConcurrent::run(ImageWorkPool(), [path, stamp] { return ReadStoredTile(path, stamp); }),
        [this, index, generation](const TileImageResult& stored) {
            if (generation != m_generation || !alive()) {
                return;
            }
            Cell& c = m_cells[static_cast<size_t>(index)];
            c.takeFromBefore = false;
            if (!stored.ok()) {
                // Changed or gone since: asked for again like any other tile.
                c.notTaken = stored.reason;
                c.stage = Cell::Stage::Waiting;
                m_record.setState(columnOf(index), rowOf(index), TileState::Pending);
                recordChanged();
                schedule();
                return;
            }
            c.taken = true;
            TileFetchResult result;
            result.ok = true;
            result.image = stored.image;
            result.thumbnail = stored.thumbnail;
            result.stamp = stored.stamp;
            onResult(index, result);
        });
}

size_t DownloadRun::freeFetcher() {
    const auto free = std::find(m_fetching.begin(), m_fetching.end(), -1);
    if (free != m_fetching.end()) {
        return static_cast<size_t>(free - m_fetching.begin());
    }
    auto fetcher = std::make_unique<TileFetcher>(m_manager);
    fetcher->setLimits(m_limits);
    fetcher->setGate(m_gate);
    TileFetcher* f = fetcher.get();
    const size_t slot = m_fetchers.size();
    connect(f, &TileFetcher::finished, this, [this, slot](const TileFetchResult& result) {
        const int index = m_fetching[slot];
        m_fetching[slot] = -1;
        if (index >= 0) {
            onResult(index, result);
        }
    });
    connect(f, &TileFetcher::waitingToRetry, this,
            [this, slot](int, int serverSeconds, int nextAttempt, const QString& reason) {
                onWaitingToRetry(slot, serverSeconds, nextAttempt, reason);
            });
    connect(f, &TileFetcher::attemptStarted, this, [this, slot] {
        // The wait shown is over once that tile is asked for again.
        if (m_waitShown >= 0 && m_fetching[slot] == m_waitShown) {
            m_waitShown = -1;
            const int head = m_head;
            if (head < tileCount() && m_cells[static_cast<size_t>(head)].announced) {
                emit statusText(QStringLiteral("Descargando mosaico ") +
                                m_job.tile(columnOf(head), rowOf(head)).fileName);
            }
        }
    });
    m_fetchers.push_back(std::move(fetcher));
    m_fetching.push_back(-1);
    return slot;
}

void DownloadRun::startFetch(int index, size_t slot) {
    m_cells[static_cast<size_t>(index)].stage = Cell::Stage::Fetching;
    m_fetching[slot] = index;
    const TileRequest& tile = m_job.tile(columnOf(index), rowOf(index));
    m_fetchers[slot]->FetchTile(tile.url, m_prefix + tile.fileName, index);
}

void DownloadRun::onResult(int index, const TileFetchResult& result) {
    if (!alive()) {
        return;
    }
    Cell& cell = m_cells[static_cast<size_t>(index)];
    cell.stage = Cell::Stage::Ready;
    cell.ok = result.ok;
    cell.localWriteFailed = result.localWriteFailed;
    cell.reason = result.reason;
    // Only the small picture waits for the tile's turn; the tile goes into the joined image
    // now, or as soon as its white is laid out.
    cell.thumbnail = result.thumbnail;
    if (result.ok && m_mosaic) {
        cell.undrawn = result.image;
        if (m_mosaicWork.isFinished()) {
            layIn(cell, index);
        }
    }
    if (result.ok) {
        m_record.setFetched(columnOf(index), rowOf(index), result.stamp);
        if (!cell.taken) {
            m_measured.addTileBytes(m_job.kind, m_job.tileSize, double(result.storedBytes));
            ++m_tilesFetched;
            m_lastFetchMs = m_fetchClock.elapsed();
        }
    } else {
        m_record.setState(columnOf(index), rowOf(index), TileState::Failed, result.reason);
    }
    recordChanged();
    if (!result.ok && result.folderUnwritable && (m_folderStopAt < 0 || index < m_folderStopAt)) {
        // Nothing more is asked for; what is in flight after this tile is abandoned, and
        // the run stops when this tile's turn comes.
        m_folderStopAt = index;
        // Those after it still waiting for a transfer are withdrawn first, so that a
        // transfer given back goes to none of them.
        for (size_t slot = 0; slot < m_fetchers.size(); ++slot) {
            if (m_fetching[slot] > index) {
                m_gate->withdraw(m_fetchers[slot].get());
            }
        }
        for (size_t slot = 0; slot < m_fetchers.size(); ++slot) {
            const int other = m_fetching[slot];
            if (other > index) {
                m_fetchers[slot]->abort();
                m_fetching[slot] = -1;
                m_cells[static_cast<size_t>(other)].stage = Cell::Stage::Waiting;
                m_record.setState(columnOf(other), rowOf(other), TileState::Pending);
            }
        }
    }
    drain();
    if (alive()) {
        schedule();
    }
}

void DownloadRun::layIn(Cell& cell, int index) {
    QString error;
    if (!m_mosaic->drawTile(cell.undrawn, columnOf(index), rowOf(index), &error)) {
        cell.notInMosaic = error;
    }
    cell.undrawn = QImage();
}

void DownloadRun::onWaitingToRetry(size_t slot, int serverSeconds, int nextAttempt,
                                   const QString& reason) {
    if (!alive()) {
        return;
    }
    const int index = m_fetching[slot];
    if (index < 0) {
        return;
    }
    const QString label = TileLabel(m_job, columnOf(index), rowOf(index));
    if (serverSeconds > 0) {
        m_waitShown = index; // shown until its next attempt leaves
        emit statusText(QStringLiteral("Servidor ocupado: reintento del mosaico %1 en %2 s")
                            .arg(label)
                            .arg(serverSeconds));
        return;
    }
    // Only for the tile the status bar names: one further ahead is told of in its turn.
    if (index != m_head || !m_cells[static_cast<size_t>(index)].announced) {
        return;
    }
    m_waitShown = index;
    emit statusText(QStringLiteral("Reintento %1 de %2 del mosaico %3: %4")
                        .arg(nextAttempt)
                        .arg(FetchLimits::kAttempts)
                        .arg(label, reason));
}

void DownloadRun::announceHead() {
    if (!alive() || m_head >= tileCount()) {
        return;
    }
    Cell& cell = m_cells[static_cast<size_t>(m_head)];
    if (cell.announced || cell.stage == Cell::Stage::Checking || cell.takeFromBefore) {
        return;
    }
    cell.announced = true;
    const int column = columnOf(m_head);
    const int row = rowOf(m_head);
    const TileRequest& tile = m_job.tile(column, row);
    emit tileRecorded(column, row, tile);
    emit statusText(QStringLiteral("Descargando mosaico ") + tile.fileName);
}

void DownloadRun::drain() {
    if (!m_mosaicWork.isFinished()) {
        return; // shown once the joined image is ready for them
    }
    // One tile per turn of the event loop: when the first tile comes in late, the many
    // behind it are not shown all in one go, which would keep the windows from painting.
    if (alive() && m_head < tileCount() &&
        m_cells[static_cast<size_t>(m_head)].stage == Cell::Stage::Ready) {
        const int index = m_head;
        announceHead();
        if (!alive()) {
            return;
        }
        // Kept apart: report() may end the run.
        const QString reason = m_cells[static_cast<size_t>(index)].reason;
        report(index);
        if (!alive()) {
            return;
        }
        if (index == m_folderStopAt) {
            stopForFolder(reason);
            return;
        }
        ++m_head;
        if (m_head < tileCount() &&
            m_cells[static_cast<size_t>(m_head)].stage == Cell::Stage::Ready) {
            m_drainTimer.start();
        }
    }
    if (!alive()) {
        return;
    }
    if (m_head >= tileCount()) {
        endOfGrid();
        return;
    }
    announceHead();
}

void DownloadRun::report(int index) {
    Cell& cell = m_cells[static_cast<size_t>(index)];
    cell.stage = Cell::Stage::Reported;
    const int column = columnOf(index);
    const int row = rowOf(index);
    TileRequest& tile = m_job.tile(column, row);
    const QString name = tile.fileName;
    const QImage thumbnail = std::exchange(cell.thumbnail, QImage());
    if (!cell.notTaken.isEmpty()) {
        emit logEvent(QStringLiteral(". Mosaico %1 no reutilizado: %2").arg(name, cell.notTaken));
        if (!alive()) {
            return;
        }
    }
    if (!cell.ok) {
        // A tile our side could not write is a write failure, whatever held its name.
        m_outcome.writeFailed = m_outcome.writeFailed || cell.localWriteFailed;
        failTile(column, row, cell.reason, false);
        return;
    }
    emit progress(++m_counter);
    emit tileDownloaded(column, row);
    if (!alive()) {
        return;
    }
    emit tileShown(column, row, thumbnail, name);
    if (!alive()) {
        return;
    }
    // A tile of the earlier run says so in the log; a fetched one only once it is joined.
    const QString done = cell.taken ? QStringLiteral("Reutilizado mosaico ")
                                    : QStringLiteral("Fin de descarga del mosaico ");
    const QString logged = cell.taken ? QStringLiteral(". Reutilizado mosaico ")
                                      : QStringLiteral(". Descargado mosaico ");
    if (cell.notInMosaic.isEmpty()) {
        tile.fetched = true;
        emit tileRecorded(column, row, tile);
        if (m_mosaic || cell.taken) {
            emit statusText(done + name);
            emit logEvent(logged + name);
        }
        return;
    }
    // Not in the mosaic: the tile fails, but its file, thumbnail and count stay.
    tile.fetched = false;
    m_outcome.anyFailed = true;
    emit tileRecorded(column, row, tile);
    emit statusText(QStringLiteral("Fallo en la descarga del mosaico ") + name);
    emit logEvent(FailureLine(name, cell.notInMosaic));
}

void DownloadRun::failTile(int column, int row, const QString& reason, bool counted) {
    TileRequest& tile = m_job.tile(column, row);
    emit tileFailed(column, row, reason);
    tile.fetched = false;
    m_outcome.anyFailed = true;
    emit tileRecorded(column, row, tile);
    if (!counted) {
        emit progress(++m_counter);
    }
    emit statusText(QStringLiteral("Fallo en la descarga del mosaico ") + tile.fileName);
    emit logEvent(FailureLine(tile.fileName, reason));
}

void DownloadRun::stopForFolder(const QString& reason) {
    haltWork();
    m_outcome.stopped = true;
    m_outcome.writeFailed = true;
    m_questions.error(
        QStringLiteral("No se pueden grabar los mosaicos en la carpeta %1: %2. Se ha detenido la "
                       "descarga; los mosaicos ya descargados se conservan")
            .arg(QDir::toNativeSeparators(m_job.folder), reason));
    if (!alive()) {
        return;
    }
    emit statusText(QStringLiteral("Descarga detenida."));
    emit logEvent(QStringLiteral(". Descarga detenida: ") + reason);
    finish();
}

void DownloadRun::stop() {
    stopBecause(QStringLiteral("el usuario"));
}

void DownloadRun::stopBecause(const QString& cause) {
    if (!isRunning()) {
        return;
    }
    // Once the run's BMP is in place, what goes with it is written first, so that it never
    // stands beside calibration files of another area; the outputs then finish the run.
    if (m_phase == Phase::Saving && m_outputs && m_outputs->stop(cause, false)) {
        return;
    }
    haltWork();
    releaseImage();
    m_phase = Phase::Fetching;
    m_outcome.stopped = true;
    emit statusText(QStringLiteral("Descarga detenida."));
    emit logEvent(QStringLiteral(". Descarga detenida por ") + cause);
    finish();
}

void DownloadRun::haltWork() {
    ++m_generation;
    // No waiting fetch may take the transfer an aborted one gives back: they leave the
    // gate first. The gate stays open for whoever else shares it.
    for (auto& fetcher : m_fetchers) {
        m_gate->withdraw(fetcher.get());
    }
    for (auto& fetcher : m_fetchers) {
        fetcher->abort();
    }
    std::fill(m_fetching.begin(), m_fetching.end(), -1);
    for (int index = 0; index < static_cast<int>(m_cells.size()); ++index) {
        Cell& cell = m_cells[static_cast<size_t>(index)];
        if (cell.stage == Cell::Stage::Fetching) {
            m_record.setState(columnOf(index), rowOf(index), TileState::Pending);
        }
    }
}

void DownloadRun::abort() {
    if (m_phase == Phase::Done || m_phase == Phase::Idle) {
        m_phase = Phase::Done;
        return;
    }
    if (m_phase == Phase::Saving && m_outputs) {
        // The files that go with a BMP in place are written unasked and untold.
        Unattended nobody;
        const QSignalBlocker silent(this);
        m_outputs->setQuestions(nobody);
        const bool completed = m_outputs->stop(QString(), true);
        m_outputs->setQuestions(*m_asking);
        if (completed && !isRunning()) {
            return;
        }
    }
    m_phase = Phase::Done;
    haltWork();
    releaseImage();
    m_recordTimer.stop();
    if (m_recordActive) {
        saveRecord();
    }
    m_recordWriter.waitForDone();
    m_lock.unlock();
}

void DownloadRun::releaseImage() {
    m_mosaicWork.waitForFinished(); // the worker may still be laying out the white
    if (m_outputs) {
        m_outputs->halt();
    }
    m_mosaic.reset();
}

void DownloadRun::endOfGrid() {
    if (m_tilesFetched > 0) {
        // n tiles, c at a time, took about n / c turns of the server.
        const double turns =
            std::ceil(double(m_tilesFetched) / std::clamp(m_connections, 1, kMaxConnections));
        m_measured.addAnswerTime(ServerBaseOf(m_job.requestPrefix), double(m_lastFetchMs) / turns,
                                 turns);
    }
    emit statusText(QStringLiteral("Fin de descarga de los mosaicos."));
    emit logEvent(QStringLiteral(". Fin de la descarga"));
    for (int row = 1; row <= m_job.tilesDown; ++row) {
        for (int column = 1; column <= m_job.tilesAcross; ++column) {
            if (m_job.tile(column, row).fetched) {
                m_outcome.anyFetched = true;
                emit markerHidden(column, row);
            }
        }
    }
    if (!alive()) {
        return;
    }
    if (m_outcome.anyFailed) {
        const int failed = tileCount() - static_cast<int>(fetchedTiles().size());
        emit statusText(
            QStringLiteral("Fin de descarga: %1 de %2 mosaicos con fallo.")
                .arg(failed)
                .arg(tileCount()) +
            (m_job.saveBmp ? QStringLiteral(" No se grabó el fichero BMP.") : QString()));
        emit logEvent(m_outcome.anyFetched ? QStringLiteral(". No se descargó algún mosaico")
                                           : QStringLiteral(". No se descargó ningún mosaico"));
        // Nothing is written from an image with holes; the outputs say what that leaves.
        m_mosaic.reset();
    }
    if (alive()) {
        startOutputs();
    }
}

void DownloadRun::startOutputs() {
    m_phase = Phase::Saving;
    // Every place of the image holds its tile by now: nothing is left to whiten.
    const QImage image = m_mosaic ? m_mosaic->image() : QImage();
    m_mosaic.reset();
    qint64 tileBytes = 0;
    for (int row = 1; row <= m_job.tilesDown; ++row) {
        for (int column = 1; column <= m_job.tilesAcross; ++column) {
            tileBytes += std::max<qint64>(0, m_record.stamp(column, row).size);
        }
    }
    m_outputs = std::make_unique<RunOutputs>(m_job, image, tileBytes, m_outcome, *m_asking,
                                             m_bmpCommitHook);
    connect(m_outputs.get(), &RunOutputs::statusText, this, &DownloadRun::statusText);
    connect(m_outputs.get(), &RunOutputs::outputStep, this, &DownloadRun::outputStep);
    connect(m_outputs.get(), &RunOutputs::logEvent, this, &DownloadRun::logEvent);
    connect(m_outputs.get(), &RunOutputs::finished, this, &DownloadRun::finish);
    m_outputs->start();
}

void DownloadRun::finish() {
    m_phase = Phase::Done;
    m_recordTimer.stop();
    m_outcome.anyFetched = !fetchedTiles().isEmpty();
    // Everything done: the record has served its purpose. Otherwise it stays for a later
    // run to resume from.
    const bool complete = !m_outcome.stopped && !m_outcome.anyFailed && !m_outcome.writeFailed &&
                          (!m_job.saveBmp || m_outcome.bmpSaved);
    if (!complete) {
        saveRecord();
    }
    // What the folder holds once the run has said it is finished is final.
    m_recordWriter.waitForDone();
    if (complete && m_recordStore) {
        m_recordStore->recordDone(m_record);
    } else if (complete) {
        RemoveFile(recordPath());
    }
    m_recordActive = false;
    m_outcome.recordKept = !complete;
    m_lock.unlock();
    if (m_outputs) {
        m_measured.add(m_outputs->measured());
    }
    if (!m_measured.isEmpty()) {
        emit measured(m_measured);
    }
    emit finished(m_outcome);
}

void DownloadRun::recordChanged() {
    if (!m_recordTimer.isActive()) {
        m_recordTimer.start();
    }
}

void DownloadRun::saveRecord() {
    if (m_recordActive && m_recordStore) {
        m_recordStore->saveRecord(m_record);
    } else if (m_recordActive) {
        // Making a file costs milliseconds on some file systems: the writer's one thread
        // does it, in the order the states were taken.
        m_recordWriter.start(
            [path = recordPath(), record = m_record] { SaveJobRecord(path, record); });
    }
}
