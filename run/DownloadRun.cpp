#include "run/DownloadRun.h"

#include "download/JpegCodec.h"
#include "download/UGatorade.h"
#include "job/MapKinds.h"
#include "mosaic/BmpFile.h"
#include "mosaic/MosaicBitmap.h"
#include "mosaic/TileCleanup.h"
#include "run/RunQuestions.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kFolderCaption = QStringLiteral("Carpeta destino");
const QString kFolderText =
    QStringLiteral("La carpeta destino no existe. Los ficheros se grabarán en la carpeta actual");
const QString kBmpCaption = QStringLiteral("Grabar fichero BMP");
const QString kBmpText = QStringLiteral("El fichero ya existe. ¿ Sobreescribir ?");

} // namespace

DownloadRun::DownloadRun(const DownloadJob& job, QNetworkAccessManager* manager,
                         RunQuestions& questions, QObject* parent)
    : QObject(parent), m_job(job), m_questions(questions) {
    m_fetcher = new TileFetcher(manager, this);
    connect(m_fetcher, &TileFetcher::finished, this, &DownloadRun::onFetchFinished);
    m_step.setSingleShot(true);
    m_step.setInterval(0);
    connect(&m_step, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Fetching) {
            nextTile();
        } else if (m_phase == Phase::Saving) {
            saveBmpSlice();
        }
    });
}

DownloadRun::~DownloadRun() {
    abort();
}

void DownloadRun::setTransferTimeout(int ms) {
    m_fetcher->setTransferTimeout(ms);
}

QString DownloadRun::bmpPath() const {
    return m_prefix + m_job.bmpName + QStringLiteral(".bmp");
}

DownloadRun::StartResult DownloadRun::start() {
    if (m_phase != Phase::Idle || m_job.tilesAcross < 1 || m_job.tilesAcross > kMaxTiles ||
        m_job.tilesDown < 1 || m_job.tilesDown > kMaxTiles) {
        return StartResult::NoTiles;
    }
    if (!FolderExists(m_job.folder)) {
        m_questions.notice(kFolderCaption, kFolderText);
        if (m_phase == Phase::Done) {
            return StartResult::Aborted; // closed while the box was open
        }
        m_job.folder = QDir::toNativeSeparators(QDir::currentPath());
        emit folderReplaced(m_job.folder);
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
        if (m_phase == Phase::Done) {
            return StartResult::Aborted; // closed while the box was open
        }
        if (!replace) {
            m_phase = Phase::Done;
            emit cancelled();
            return StartResult::Cancelled;
        }
        // A mosaic that cannot be made makes every tile fail at its drawing step.
        m_mosaic = std::make_unique<MosaicBitmap>();
        m_mosaic->create(m_job.widthPixels, m_job.heightPixels);
    }

    for (int row = 1; row <= m_job.tilesDown; ++row) {
        for (int column = 1; column <= m_job.tilesAcross; ++column) {
            emit tileWaiting(column, row, TileLabel(m_job, column, row));
        }
    }
    emit statusText(QStringLiteral("Iniciando descarga de mosaicos."));
    m_encoder = std::make_unique<JpegEncoder>();
    m_phase = Phase::Fetching;
    m_index = 0;
    nextTile();
    return StartResult::Started;
}

void DownloadRun::abort() {
    if (m_phase == Phase::Done) {
        return;
    }
    m_phase = Phase::Done;
    m_step.stop();
    if (m_fetcher->isBusy()) {
        m_fetcher->abort();
    }
    m_saver.reset(); // discards the temporary BMP file
    m_mosaic.reset();
    m_encoder.reset();
}

void DownloadRun::nextTile() {
    if (m_index >= tileCount()) {
        endOfGrid();
        return;
    }
    const int row = m_index / m_job.tilesAcross + 1;
    const int column = m_index % m_job.tilesAcross + 1;
    TileRequest& tile = m_job.tile(column, row);
    tile.url = BuildTileUrl(m_job, column, row);
    tile.fileName = TileFileName(m_job, column, row);
    emit tileRecorded(column, row, tile);
    emit statusText(QStringLiteral("Descargando mosaico ") + tile.fileName);
    if (m_phase != Phase::Fetching) {
        return;
    }
    m_fetcher->FetchTile(tile.url, m_prefix + tile.fileName, *m_encoder);
}

void DownloadRun::onFetchFinished(bool ok, const QString& reason) {
    if (m_phase != Phase::Fetching) {
        return;
    }
    const int row = m_index / m_job.tilesAcross + 1;
    const int column = m_index % m_job.tilesAcross + 1;
    if (ok) {
        completeTile(column, row);
    } else {
        failTile(column, row, reason, false);
    }
    if (m_phase == Phase::Fetching) {
        ++m_index;
        // Back to the event loop before the next request.
        m_step.start();
    }
}

void DownloadRun::completeTile(int column, int row) {
    TileRequest& tile = m_job.tile(column, row);
    const QString name = tile.fileName;
    emit progress(++m_counter);
    emit tileDownloaded(column, row);
    if (m_phase != Phase::Fetching) {
        return;
    }

    // Decoded once: the same image serves the preview, the thumbnail and the mosaic.
    QImage image;
    QString error;
    if (!DecodeJpegFile(m_prefix + name, &image, &error)) {
        emit previewCleared();
        failTile(column, row, error, true);
        return;
    }
    emit tileShown(column, row, image, name);
    if (m_phase != Phase::Fetching) {
        return;
    }
    if (!m_mosaic) {
        tile.fetched = true;
        emit tileRecorded(column, row, tile);
        return;
    }
    if (m_mosaic->drawTile(image, column, row, &error)) {
        tile.fetched = true;
        emit tileRecorded(column, row, tile);
        emit statusText(QStringLiteral("Fin de descarga del mosaico ") + name);
        emit logEvent(QStringLiteral(". Descargado mosaico ") + name);
        return;
    }
    // Not in the mosaic: the tile fails, but its file, thumbnail and count stay.
    tile.fetched = false;
    m_outcome.anyFailed = true;
    emit tileRecorded(column, row, tile);
    emit statusText(QStringLiteral("Fallo en la descarga del mosaico ") + name);
    emit logEvent(QStringLiteral(". Fallo en la descarga del mosaico ") + name);
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
    emit logEvent(QStringLiteral(". Fallo en la descarga del mosaico ") + tile.fileName);
}

void DownloadRun::endOfGrid() {
    m_encoder.reset();
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
    if (m_phase != Phase::Fetching) {
        return;
    }

    if (m_outcome.anyFailed) {
        if (!m_outcome.anyFetched) {
            emit logEvent(QStringLiteral(". No se descargó ningún mosaico"));
        } else {
            emit logEvent(QStringLiteral(". No se descargó algún mosaico"));
            if (m_job.deleteTiles) {
                deleteTiles();
            }
        }
        m_mosaic.reset();
        if (m_phase == Phase::Fetching) {
            finish();
        }
        return;
    }
    if (m_job.deleteTiles) {
        deleteTiles();
    }
    if (m_phase != Phase::Fetching) {
        return;
    }
    if (!m_mosaic) {
        finish();
        return;
    }
    emit statusText(QStringLiteral("Grabando el mosaico a .BMP."));
    if (m_phase != Phase::Fetching) {
        return;
    }
    m_saver = std::make_unique<BmpFileSaver>();
    QString error;
    if (!m_saver->begin(m_mosaic->image(), bmpPath(), &error)) {
        m_outcome.error = QStringLiteral("No se ha podido grabar el fichero BMP %1: %2")
                              .arg(QDir::toNativeSeparators(bmpPath()), error);
        m_saver.reset();
        m_mosaic.reset();
        finish();
        return;
    }
    // The rows go out in slices, with the event loop running between them.
    m_phase = Phase::Saving;
    m_step.start();
}

void DownloadRun::deleteTiles() {
    emit statusText(QStringLiteral("Borrando archivos del mosaico."));
    DeleteTileFiles(m_job, m_prefix);
    emit statusText(QStringLiteral("Archivos del mosaico borrados."));
    emit logEvent(QStringLiteral(". Archivos del mosaico borrados"));
}

void DownloadRun::saveBmpSlice() {
    QString error;
    bool ok = m_saver->step(kBmpRowsPerTurn, &error);
    if (ok && !m_saver->rowsDone()) {
        m_step.start();
        return;
    }
    ok = ok && m_saver->commit(&error);
    m_saver.reset();
    m_mosaic.reset();
    if (ok) {
        m_outcome.bmpSaved = true;
        emit statusText(QStringLiteral("Fichero BMP grabado."));
        emit logEvent(QStringLiteral(". Fichero BMP grabado"));
    } else {
        m_outcome.error = QStringLiteral("No se ha podido grabar el fichero BMP %1: %2")
                              .arg(QDir::toNativeSeparators(bmpPath()), error);
    }
    finish();
}

void DownloadRun::finish() {
    m_phase = Phase::Done;
    emit finished(m_outcome);
}
