#include "run/DownloadRun.h"

#include "download/TileImage.h"
#include "download/WhenFinished.h"
#include "job/MapKinds.h"
#include "mosaic/BmpFile.h"
#include "mosaic/MosaicBitmap.h"
#include "mosaic/TileCleanup.h"
#include "run/CalibrationRun.h"
#include "run/RunQuestions.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

const QString kFolderCaption = QStringLiteral("Carpeta destino");
const QString kFolderText =
    QStringLiteral("La carpeta destino no existe. Los ficheros se grabarán en la carpeta actual");
const QString kBmpCaption = QStringLiteral("Grabar fichero BMP");
const QString kBmpText = QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?");
const QString kResumeCaption = QStringLiteral("Continuar la descarga");
const QString kNoBmp = QStringLiteral("no se grabó el fichero BMP");

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
    void notice(const QString&, const QString&) override {}
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
    if (!FolderExists(m_job.folder)) {
        m_questions.notice(kFolderCaption, kFolderText);
        if (!alive()) {
            return StartResult::Aborted; // closed while the box was open
        }
        m_job.folder = QDir::toNativeSeparators(QDir::currentPath());
        emit folderReplaced(m_job.folder);
    }
    // Before anything is touched: another run in the folder would write the same tiles.
    const FolderLock::Result lock = m_lock.tryLock(m_job.folder);
    if (lock == FolderLock::Result::Busy) {
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
    if (m_job.saveBmp) {
        // A mosaic that cannot be made makes every tile fail at its drawing step.
        m_mosaic = std::make_unique<MosaicBitmap>();
        if (m_mosaic->create(m_job.widthPixels, m_job.heightPixels)) {
            // Laid out white on a worker: the first touch of 48 MB is page faults enough to
            // hold the event loop for 150 ms. Tiles are shown once it is done.
            m_mosaicWork =
                QtConcurrent::run(ImageWorkPool(), [mosaic = m_mosaic.get()] { mosaic->image(); });
            WhenFinished(this, m_mosaicWork, [this] {
                if (alive()) {
                    drain();
                    schedule();
                }
            });
        }
    }

    m_cells.assign(static_cast<size_t>(tileCount()), Cell{});
    m_record = JobRecord::ForJob(m_job);
    QStringList names;
    for (int index = 0; index < tileCount(); ++index) {
        const int column = columnOf(index);
        const int row = rowOf(index);
        TileRequest& tile = m_job.tile(column, row);
        tile.url = BuildTileUrl(m_job, column, row);
        tile.fileName = TileFileName(m_job, column, row);
        tile.fetched = false;
        names << tile.fileName;
        Cell& cell = m_cells[static_cast<size_t>(index)];
        cell.takeFromBefore = earlier && earlier->vouchesFor(column, row) &&
                              (m_given.isEmpty() || m_given.contains(QPoint(column, row)));
        if (cell.takeFromBefore) {
            m_record.setFetched(column, row, earlier->stamp(column, row));
        }
    }
    if (lock == FolderLock::Result::Held) {
        // What a killed run of this folder left half-written goes before anything is
        // written; with the folder held, none of it can be another run's.
        RemoveTemporaryFiles(m_job.folder, names);
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
                           "mosaicos descargados. ¿ Continuar con los mosaicos ya descargados ?")
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
    // After a folder that takes no file, only what comes before that tile goes on.
    const int end = std::min(
        {tileCount(), m_head + kLookahead, m_folderStopAt >= 0 ? m_folderStopAt : tileCount()});
    for (int index = m_head; index < end; ++index) {
        Cell& cell = m_cells[static_cast<size_t>(index)];
        if (cell.stage != Cell::Stage::Waiting) {
            continue;
        }
        if (cell.takeFromBefore) {
            startCheck(index);
            continue;
        }
        // Every tile ahead has its fetch; the gate lets as many transfers out at once as
        // allowed, in grid order.
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
    cell.result = result;
    if (result.ok) {
        m_record.setFetched(columnOf(index), rowOf(index), result.stamp);
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
        // Read before report() takes the result out of the cell.
        const QString reason = m_cells[static_cast<size_t>(index)].result.reason;
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
    const TileFetchResult result = std::move(cell.result);
    cell.result = TileFetchResult{};
    if (!cell.notTaken.isEmpty()) {
        emit logEvent(QStringLiteral(". Mosaico %1 no reutilizado: %2").arg(name, cell.notTaken));
        if (!alive()) {
            return;
        }
    }
    if (!result.ok) {
        // A tile our side could not write is a write failure, whatever held its name.
        m_outcome.writeFailed = m_outcome.writeFailed || result.localWriteFailed;
        failTile(column, row, result.reason, false);
        return;
    }
    emit progress(++m_counter);
    emit tileDownloaded(column, row);
    if (!alive()) {
        return;
    }
    emit tileShown(column, row, result.image, name);
    if (!alive()) {
        return;
    }
    // A tile of the earlier run says so in the log; a fetched one only once it is joined.
    const QString done = cell.taken ? QStringLiteral("Reutilizado mosaico ")
                                    : QStringLiteral("Fin de descarga del mosaico ");
    const QString logged = cell.taken ? QStringLiteral(". Reutilizado mosaico ")
                                      : QStringLiteral(". Descargado mosaico ");
    QString error;
    if (!m_mosaic || m_mosaic->drawTile(result.image, column, row, &error)) {
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
    emit logEvent(FailureLine(name, error));
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
    if (m_phase == Phase::Saving) {
        if (const std::optional<BmpSaveResult> done = abandonBmp()) {
            // Too late to abandon: the new BMP is in place, and what goes with it follows
            // now, so that it never stands beside calibration files of another area.
            ++m_generation;
            bmpSaved(*done);
            return;
        }
    }
    haltWork();
    cancelBmp();
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
    if (m_phase == Phase::Saving) {
        if (const std::optional<BmpSaveResult> done = abandonBmp()) {
            completeUnattended(*done);
            return;
        }
    }
    m_phase = Phase::Done;
    haltWork();
    cancelBmp();
    m_recordTimer.stop();
    if (m_recordActive) {
        saveRecord();
    }
    m_recordWriter.waitForDone();
    m_lock.unlock();
}

void DownloadRun::cancelBmp() {
    m_mosaicWork.waitForFinished(); // the worker may still be laying out the white
    // The writer sees this between slices of rows or once its file is synced, and removes
    // its temporary file itself; the old BMP, if any, stays. Nobody waits for the sync.
    abandonBmp();
    m_bmpCommit.reset();
    m_mosaic.reset();
}

std::optional<DownloadRun::BmpSaveResult> DownloadRun::abandonBmp() {
    if (!m_bmpCommit) {
        return std::nullopt;
    }
    // Held by the writer only while it renames: a wait of one rename at the most.
    const std::lock_guard<std::mutex> lock(m_bmpCommit->mutex);
    if (m_bmpCommit->decided) {
        return m_bmpCommit->result;
    }
    m_bmpCommit->abandoned = true;
    return std::nullopt;
}

void DownloadRun::completeUnattended(const BmpSaveResult& result) {
    ++m_generation;
    Unattended nobody;
    const QSignalBlocker silent(this);
    m_asking = &nobody;
    bmpSaved(result);
    m_asking = &m_questions;
    if (isRunning()) { // a closing step was cut short
        m_phase = Phase::Done;
        m_recordWriter.waitForDone();
        m_lock.unlock();
    }
}

void DownloadRun::endOfGrid() {
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
        // The tiles are the only copy of what was fetched: no BMP holds them.
        if (m_job.deleteTiles && m_outcome.anyFetched) {
            emit logEvent(QStringLiteral(". Mosaicos conservados: ") + kNoBmp);
        }
        if (m_job.saveOzi || m_job.saveCompe || m_job.saveWorldFile) {
            emit logEvent(QStringLiteral(". Calibración no generada: ") + kNoBmp);
        }
        m_mosaic.reset();
        if (alive()) {
            finish();
        }
        return;
    }
    if (m_mosaic) {
        saveBmp();
    } else {
        closingSteps();
    }
}

void DownloadRun::saveBmp() {
    emit statusText(QStringLiteral("Grabando el mosaico a .BMP."));
    if (!alive()) {
        return;
    }
    m_phase = Phase::Saving;
    m_bmpCommit = std::make_shared<BmpCommit>();
    const quint64 generation = m_generation;
    // Written and synced on a worker thread; the image is shared, not copied, and nothing
    // draws into it any more. The worker owns what it needs: a run that stops meanwhile
    // does not wait for it.
    m_bmpWork = QtConcurrent::run(ImageWorkPool(), [image = m_mosaic->image(), path = bmpPath(),
                                                    commit = m_bmpCommit, hook = m_bmpCommitHook] {
        BmpSaveResult r;
        BmpFileSaver saver;
        if (!saver.begin(image, path, &r.error)) {
            return r;
        }
        while (!saver.rowsDone()) {
            if (commit->abandoned) {
                saver.cancel();
                r.abandoned = true;
                return r;
            }
            if (!saver.step(kBmpRowsPerSlice, &r.error)) {
                return r;
            }
        }
        if (!saver.sync(&r.error)) {
            return r;
        }
        if (hook) {
            hook(BmpCommitStep::Synced);
        }
        const std::lock_guard<std::mutex> lock(commit->mutex);
        if (commit->abandoned) {
            saver.cancel();
            r.abandoned = true;
            return r;
        }
        if (hook) {
            hook(BmpCommitStep::Renaming);
        }
        r.ok = saver.commit(&r.error);
        commit->decided = true;
        commit->result = r;
        return r;
    });
    WhenFinished(this, m_bmpWork, [this, generation](const BmpSaveResult& result) {
        if (generation == m_generation && m_phase == Phase::Saving) {
            bmpSaved(result);
        }
    });
}

void DownloadRun::bmpSaved(const BmpSaveResult& result) {
    m_bmpCommit.reset();
    m_mosaic.reset();
    m_phase = Phase::Fetching;
    if (result.ok) {
        m_outcome.bmpSaved = true;
        emit statusText(QStringLiteral("Fichero BMP grabado."));
        emit logEvent(QStringLiteral(". Fichero BMP grabado"));
    } else {
        m_outcome.writeFailed = true;
        emit statusText(QStringLiteral("No se ha podido grabar el fichero BMP."));
        emit logEvent(QStringLiteral(". No se ha podido grabar el fichero BMP: ") + result.error);
        if (!alive()) {
            return;
        }
        m_asking->error(QStringLiteral("No se ha podido grabar el fichero BMP %1: %2")
                            .arg(QDir::toNativeSeparators(bmpPath()), result.error));
    }
    if (alive()) {
        closingSteps();
    }
}

void DownloadRun::closingSteps() {
    // The tiles go only once a BMP of this run holds them.
    if (m_job.deleteTiles) {
        if (m_outcome.bmpSaved) {
            emit statusText(QStringLiteral("Borrando archivos del mosaico."));
            DeleteTileFiles(m_job, m_prefix);
            emit statusText(QStringLiteral("Archivos del mosaico borrados."));
            emit logEvent(QStringLiteral(". Archivos del mosaico borrados"));
        } else {
            emit logEvent(QStringLiteral(". Mosaicos conservados: ") + kNoBmp);
        }
        if (!alive()) {
            return;
        }
    }
    // Calibration files describe an image this run saved, or none at all.
    if (m_outcome.bmpSaved) {
        WriteCalibrationFiles();
    } else if (m_job.saveOzi || m_job.saveCompe || m_job.saveWorldFile) {
        emit logEvent(QStringLiteral(". Calibración no generada: ") + kNoBmp);
    }
    if (alive()) {
        finish();
    }
}

void DownloadRun::WriteCalibrationFiles() {
    const bool gps = m_job.saveOzi || m_job.saveCompe;
    DatumChoice datum;
    if (gps && m_job.datum == CalibrationDatum::Wgs84) {
        datum = ChooseDatumChange(m_job);
        if (!datum.statusText.isEmpty()) {
            emit statusText(datum.statusText);
        }
        emit logEvent(datum.logMessage);
        if (!datum.change) {
            // No GPS file rather than one that puts the map in the wrong place.
            m_outcome.writeFailed = true;
            m_asking->message(datum.failureMessage);
            if (!alive()) {
                return;
            }
        }
    }
    for (const CalibrationFormat format :
         {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
          CalibrationFormat::WorldFile}) {
        const bool needsChange =
            format != CalibrationFormat::WorldFile && m_job.datum == CalibrationDatum::Wgs84;
        if (!CalibrationWanted(format, m_job) || (needsChange && !datum.change)) {
            continue;
        }
        const CalibrationOutcome outcome =
            WriteCalibrationFile(format, m_job, *m_asking, datum.change.get());
        if (!alive()) {
            return; // closed while the overwrite question was open
        }
        if (outcome.written) {
            m_outcome.calibrationsWritten << format;
        }
        emit statusText(outcome.statusText);
        emit logEvent(outcome.logMessage);
        if (!outcome.written) {
            m_outcome.writeFailed = m_outcome.writeFailed || !outcome.refused;
            m_asking->message(outcome.failureMessage);
            if (!alive()) {
                return;
            }
        }
    }
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
