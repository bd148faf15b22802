#include "run/SheetSetRun.h"

#include "download/TileFiles.h"
#include "download/WhenFinished.h"
#include "geo/CalibrationFile.h"
#include "geo/SheetIndex.h"
#include "job/BoundedRead.h"
#include "job/NumberFormat.h"
#include "job/RunEstimate.h"
#include "job/WriteError.h"
#include "run/CalibrationRun.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include <sys/stat.h>

namespace {

const QString kResumeCaption = QStringLiteral("Continuar la descarga");
const QString kReplaceCaption = QStringLiteral("Grabar ficheros de las hojas");
// How long the set's record may lag behind its tiles: it holds every sheet, and is
// written whole.
constexpr int kRecordIntervalMs = 1000;
// Sheet names a message lists before it says "…".
constexpr int kNamesListed = 5;

QString Names(const QStringList& names) {
    QStringList shown = names.mid(0, kNamesListed);
    if (names.size() > kNamesListed) {
        shown << QStringLiteral("…");
    }
    return shown.join(QStringLiteral(", "));
}

// The files a sheet's run leaves, named from the destination folder: what the job's
// options ask for beside its BMP, or its folder of tiles when there is no BMP.
QStringList ExpectedFiles(const DownloadJob& sheetJob) {
    const QString base = sheetJob.bmpName + u'/' + sheetJob.bmpName;
    if (!sheetJob.saveBmp) {
        return {sheetJob.bmpName + u'/'};
    }
    QStringList files{base + QStringLiteral(".bmp")};
    if (CalibrationWanted(CalibrationFormat::OziExplorer, sheetJob)) {
        files << base + QStringLiteral(".map");
    }
    if (CalibrationWanted(CalibrationFormat::CompeGps, sheetJob)) {
        files << base + QStringLiteral(".imp");
    }
    if (CalibrationWanted(CalibrationFormat::WorldFile, sheetJob)) {
        files << base + QStringLiteral(".bpw") << base + QStringLiteral(".prj")
              << base + QStringLiteral(".bmp.aux.xml");
    }
    return files;
}

// The expected files, and with `look` those the sheet's folder holds under its name (the
// exports its run wrote), never its record or a temporary file.
QStringList SheetFiles(const DownloadJob& sheetJob, const QString& folder, bool look) {
    QStringList files = ExpectedFiles(sheetJob);
    if (!look || !sheetJob.saveBmp) {
        return files;
    }
    const QString name = sheetJob.bmpName;
    // Picked by their start, not by a pattern of the name: "[" and "]" may be in it.
    const QStringList present = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& file : present) {
        const QString listed = name + u'/' + file;
        if (file.startsWith(name + u'.') && !files.contains(listed) &&
            !file.endsWith(QLatin1String(".morvel")) &&
            !IsTemporaryFileOf(file, file.left(file.lastIndexOf(u'.')))) {
            files << listed;
        }
    }
    return files;
}

struct OverviewInput {
    GroundRect extent;
    double scale = 0.0;
    std::vector<Sheet> sheets;
    std::vector<OverviewPiece> pieces;
    // Sheets finished in an earlier session: their BMPs are read back.
    struct ReadBack {
        int index = 0;
        QString bmp;
        GroundRect ground;
        QSize size;  // the BMP's pixels
        QSize piece; // the piece's
    };
    std::vector<ReadBack> readBack;
    QString folder;
    QString fileName;
};

struct OverviewOutput {
    bool ok = false;
    QString error;
    std::vector<std::pair<int, QImage>> read;
};

// A BMP of `size` pixels is a few kilobytes more than its rows at most.
qint64 BmpBound(const QSize& size) {
    constexpr qint64 kHeaderSlack = 4096;
    return BmpFileBytes(size.width(), size.height()) + kHeaderSlack;
}

// A BMP of the set's own, read as any file of the folder is: never through a link, and
// only when it is a plain file of the size its grid makes.
QImage ReadSheetBmp(const OverviewInput::ReadBack& r) {
    const BoundedRead read = ReadBoundedFile(r.bmp, BmpBound(r.size));
    if (!read.ok()) {
        return {};
    }
    const QImage image = QImage::fromData(read.bytes, "BMP");
    if (image.size() != r.size) {
        return {};
    }
    return image.scaled(r.piece, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

OverviewOutput WriteOverviewFile(OverviewInput in) {
    OverviewOutput out;
    for (const OverviewInput::ReadBack& r : in.readBack) {
        QImage piece = ReadSheetBmp(r);
        if (!piece.isNull()) {
            in.pieces.push_back({r.ground, piece});
            out.read.emplace_back(r.index, std::move(piece));
        }
    }
    const QImage image = PaintSheetOverview(in.extent, in.scale, in.sheets, in.pieces);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        out.error = QStringLiteral("no se ha podido dibujar la imagen");
        return out;
    }
    out.ok = ReplaceFile(in.folder, in.fileName, bytes, &out.error);
    return out;
}

QString SheetFolderOf(const QString& folder, const Sheet& sheet) {
    return QDir::toNativeSeparators(PathPrefix(folder) + sheet.name);
}

QString SheetBmpOf(const QString& folder, const Sheet& sheet) {
    return PathPrefix(SheetFolderOf(folder, sheet)) + sheet.name + QStringLiteral(".bmp");
}

qint64 SheetBmpBound(const Sheet& sheet) {
    return BmpBound({sheet.across * kTilePixels, sheet.down * kTilePixels});
}

// Why a sheet's folder is not one the set may write into, looked at without following a
// link at its name; empty when it is a real folder or is not there yet. A link would
// take the sheet's files, and their clean-up, into a folder the set never made.
QString SheetFolderProblem(const QString& folder) {
    struct stat st {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) {
        return errno == ENOENT ? QString() : LocalWriteErrorFor(errno).reason;
    }
    if (S_ISLNK(st.st_mode)) {
        return QStringLiteral("es un enlace, y las hojas se graban solo en carpetas propias "
                              "dentro de la carpeta destino");
    }
    return S_ISDIR(st.st_mode) ? QString() : QStringLiteral("ya existe un fichero con ese nombre");
}

// Makes the sheet's folder when it is missing (never through a link: mkdir() does not
// follow one at the name) and checks that it is a real folder; empty when it is.
QString TakeSheetFolder(const QString& folder) {
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST) {
        return QStringLiteral("no se puede crear (%1)").arg(LocalWriteErrorFor(errno).reason);
    }
    return SheetFolderProblem(folder);
}

// Why a finished sheet's BMP is not the file its run wrote, for the log; empty when it is.
QString BmpChange(const QString& bmp, const Sheet& sheet, const TileStamp& written) {
    const BoundedDigest now = DigestBoundedFile(
        bmp, written.isValid() ? std::min(written.size, SheetBmpBound(sheet)) : 0);
    QString state;
    if (now.refusal == ReadRefusal::Missing) {
        state = QStringLiteral("sin su fichero BMP");
    } else if (!written.isValid()) {
        state = QStringLiteral("sin la huella de su fichero BMP en el registro");
    } else if (now.refusal == ReadRefusal::TooLarge ||
               (now.ok() && (now.size != written.size || now.sha256 != written.sha256))) {
        state = QStringLiteral("con su fichero BMP cambiado");
    } else if (!now.ok()) {
        state = QStringLiteral("con su fichero BMP sin comprobar (%1)").arg(now.reason());
    } else {
        return {};
    }
    return QStringLiteral(". Hoja %1 %2: se descarga de nuevo").arg(sheet.name, state);
}

QString KindWord(MapKind kind) {
    switch (kind) {
    case MapKind::Carto:
        return QStringLiteral("cartografía");
    case MapKind::Orto:
        break;
    case MapKind::MDT:
        return QStringLiteral("M.D.T.");
    }
    return QStringLiteral("ortofoto");
}

// "4 hojas de mosaicos de 500 m de ortofoto", as a record or a cut has them.
QString SheetsText(int count, int32_t tileSize, MapKind kind) {
    return QStringLiteral("%1 %2 de mosaicos de %3 m de %4")
        .arg(GroupedNumber(count), count == 1 ? QStringLiteral("hoja") : QStringLiteral("hojas"),
             GroupedNumber(tileSize), KindWord(kind));
}

QString OtherSheetsText(const SheetSetRecord& record) {
    const JobRecord first = record.sheets.empty() ? JobRecord{} : record.sheets.front().record;
    return QStringLiteral("otras hojas con el mismo nombre (%1)")
        .arg(SheetsText(static_cast<int>(record.sheets.size()), first.tileSize, first.kind));
}

// What a set needs to begin, made on a worker: its record afresh, and the earlier one of
// the same sheets with something done, each with its sheets' parts; what each sheet's
// folder holds.
SetStart PrepareStart(const DownloadJob& job, const SheetSet& set, const SheetSource& source,
                      bool readEarlier, bool folderHeld) {
    SetStart out;
    const QString recordPath = SheetSetRecordPath(job.folder, set.name);
    if (folderHeld) {
        // What a killed set left half-written; with the folder held, none is another's.
        RemoveTemporaryFiles(job.folder, {QFileInfo(recordPath).fileName()});
    }
    out.fresh = SheetSetRecord::ForSet(set, source, job);
    for (const Sheet& sheet : set.sheets) {
        out.folderProblems.push_back(SheetFolderProblem(SheetFolderOf(job.folder, sheet)));
    }
    // Read also when it is not to be gone on with: a record of other sheets is replaced,
    // and the user is told so.
    QString refused;
    const std::optional<QByteArray> bytes =
        ReadRecordFile(recordPath, kMaxSheetSetRecordBytes, &refused);
    std::optional<SheetSetRecord> earlier =
        bytes ? SheetSetRecord::parse(*bytes) : std::optional<SheetSetRecord>();
    if (readEarlier) {
        out.refused = refused;
    }
    if (earlier && !earlier->sameSet(out.fresh)) {
        out.otherSheets = OtherSheetsText(*earlier);
    } else if (bytes && !earlier && JobRecord::parse(*bytes)) {
        out.otherSheets =
            QStringLiteral("una descarga sin terminar de un solo recuadro con el mismo nombre");
    }
    if (readEarlier && earlier && out.otherSheets.isEmpty() &&
        (earlier->finishedCount() > 0 || earlier->vouchedTiles() > 0)) {
        out.earlier = std::move(earlier);
        for (const SheetSetRecord::Entry& entry : out.earlier->sheets) {
            out.earlierBytes.push_back(SheetSetRecord::EntryBytes(entry));
        }
    }
    for (size_t i = 0; i < out.fresh.sheets.size(); ++i) {
        const SheetSetRecord::Entry& entry = out.fresh.sheets[i];
        out.freshBytes.push_back(SheetSetRecord::EntryBytes(entry));
        // Nothing is looked at through a folder that is not the set's own.
        const bool own = out.folderProblems[i].isEmpty();
        QString changed;
        if (own && job.saveBmp && out.earlier && out.earlier->sheets[i].finished) {
            SheetSetRecord::Entry& was = out.earlier->sheets[i];
            changed = BmpChange(SheetBmpOf(job.folder, entry.sheet), entry.sheet, was.bmp);
            if (!changed.isEmpty()) {
                // Not the BMP written: the sheet is done again.
                was.finished = false;
                was.bmp = TileStamp{};
                out.earlierBytes[i] = SheetSetRecord::EntryBytes(was);
            }
        }
        out.bmpChanged.push_back(changed);
        bool any = false;
        for (const QString& file : ExpectedFiles(SheetJob(job, entry.sheet))) {
            any = any ||
                  (own && !file.endsWith(u'/') && QFileInfo::exists(PathPrefix(job.folder) + file));
        }
        out.filesThere.push_back(any);
    }
    return out;
}

} // namespace

// A sheet's run asks nothing the set has not asked already for all its sheets.
class SheetSetRun::SheetQuestions : public RunQuestions {
public:
    explicit SheetQuestions(RunQuestions& inner) : m_inner(inner) {}
    MissingFolder missingFolder(const QString& folder, const QString& current) override {
        return m_inner.missingFolder(folder, current);
    }
    bool confirmOverwrite(const QString&, const QString&) override { return true; }
    void message(const QString& text) override { m_inner.message(text); }
    void error(const QString& text) override { m_inner.error(text); }
    bool confirmResume(const QString&, const QString&) override { return true; }

private:
    RunQuestions& m_inner;
};

SheetSetRun::SheetSetRun(const DownloadJob& job, const SheetSet& set, const SheetSource& source,
                         QNetworkAccessManager* manager, RunQuestions& questions, QObject* parent)
    : QObject(parent), m_job(job), m_set(set), m_source(source), m_manager(manager),
      m_questions(questions), m_sheetQuestions(std::make_unique<SheetQuestions>(questions)) {
    qRegisterMetaType<RunOutcome>();
    m_recordWriter.setMaxThreadCount(1);
    m_fileWriter.setMaxThreadCount(2);
    m_recordTimer.setSingleShot(true);
    m_recordTimer.setInterval(kRecordIntervalMs);
    connect(&m_recordTimer, &QTimer::timeout, this, &SheetSetRun::writeRecord);
    m_nextTimer.setSingleShot(true);
    m_nextTimer.setInterval(0);
    connect(&m_nextTimer, &QTimer::timeout, this, &SheetSetRun::nextSheet);
    m_tally.resize(m_set.sheets.size());
    m_pieces.resize(m_set.sheets.size());
    m_readBack.resize(m_set.sheets.size());
}

SheetSetRun::~SheetSetRun() {
    abort();
}

void SheetSetRun::setConnections(int connections) {
    m_connections = std::clamp(connections, 1, DownloadRun::kMaxConnections);
}

const DownloadJob& SheetSetRun::job() const {
    return m_run ? m_run->job() : m_job;
}

QString SheetSetRun::pathPrefix() const {
    return m_run ? m_run->pathPrefix() : PathPrefix(m_job.folder);
}

QSet<QPoint> SheetSetRun::fetchedTiles() const {
    return m_run ? m_run->fetchedTiles() : QSet<QPoint>();
}

QString SheetSetRun::recordPath() const {
    return SheetSetRecordPath(m_job.folder, m_set.name);
}

QString SheetSetRun::sheetFolder(const Sheet& sheet) const {
    return SheetFolderOf(m_job.folder, sheet);
}

SheetSetRun::Totals SheetSetRun::totals() const {
    Totals t;
    t.indexWritten = m_indexWriter.done && !m_indexWriter.failed;
    t.overviewWritten = m_overviewWriter.done && !m_overviewWriter.failed;
    t.sheets = static_cast<int>(m_set.sheets.size());
    for (size_t i = 0; i < m_set.sheets.size(); ++i) {
        const Sheet& sheet = m_set.sheets[i];
        const bool finished = i < m_record.sheets.size() && m_record.sheets[i].finished;
        const Tally& tally = m_tally[i];
        t.tiles += sheet.tiles();
        if (finished) {
            ++t.finished;
        } else {
            t.unfinished << sheet.name;
        }
        if (tally.ran) {
            t.fetched += tally.fetched;
            t.failed += tally.reported - tally.fetched;
            t.unreported += sheet.tiles() - tally.reported;
        } else if (finished) {
            t.fetched += sheet.tiles();
        } else {
            t.unreported += sheet.tiles();
        }
    }
    return t;
}

// --- Starting -----------------------------------------------------------------------------

SheetSetRun::StartResult SheetSetRun::start() {
    if (m_phase != Phase::Idle || m_set.sheets.empty()) {
        return StartResult::NoTiles;
    }
    m_phase = Phase::Running;
    // The sheets' folders, the record and the index are the set's for the whole job.
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
    const int count = static_cast<int>(m_set.sheets.size());
    emit logEvent(count == 1 ? QStringLiteral(". Comienzo de la descarga de 1 hoja: %1")
                                   .arg(m_set.sheets.front().name)
                             : QStringLiteral(". Comienzo de la descarga de %1 hojas: %2 … %3")
                                   .arg(count)
                                   .arg(m_set.sheets.front().name, m_set.sheets.back().name));

    // The records are read and made, and the folders looked at, on a worker: for a few
    // hundred sheets they are megabytes.
    const quint64 generation = m_generation;
    WhenFinished(this,
                 QtConcurrent::run(&m_fileWriter, PrepareStart, m_job, m_set, m_source,
                                   m_resumePolicy != ResumePolicy::Never,
                                   taken == FolderTaken::Held),
                 [this, generation](const SetStart& prepared) {
                     if (generation == m_generation && alive()) {
                         begin(prepared);
                     }
                 });
    return StartResult::Started;
}

void SheetSetRun::begin(const SetStart& prepared) {
    // Before anything is written or asked: a sheet's folder that is a link or a file.
    for (size_t i = 0; i < prepared.folderProblems.size(); ++i) {
        if (!prepared.folderProblems[i].isEmpty()) {
            stopForFolder(sheetFolder(m_set.sheets[i]), prepared.folderProblems[i]);
            return;
        }
    }
    if (!prepared.refused.isEmpty()) {
        emit logEvent(QStringLiteral(". Registro de la descarga anterior no leído: ") +
                      prepared.refused);
    }
    if (!prepared.otherSheets.isEmpty()) {
        // Its sheets' names would stand for other ground: nothing of it is taken.
        const QString record = QFileInfo(recordPath()).fileName();
        const QString now =
            SheetsText(static_cast<int>(m_set.sheets.size()), m_set.tileSize, m_job.kind);
        emit logEvent(QStringLiteral(". El registro %1 es de %2: no se continúa, y las hojas de "
                                     "ahora (%3) se descargan desde el principio")
                          .arg(record, prepared.otherSheets, now));
        m_questions.message(
            QStringLiteral("El registro %1 de la carpeta destino es de %2, no de las hojas de "
                           "ahora (%3). Las hojas se descargan desde el principio y el registro se "
                           "sustituye; los ficheros que ya haya en sus carpetas se conservan "
                           "mientras no se graben los nuevos.")
                .arg(record, prepared.otherSheets, now));
        if (!alive()) {
            return;
        }
    }
    // What is finished is what the question counts: a sheet whose BMP is not the one
    // written was marked to be done again.
    const std::optional<SheetSetRecord>& earlier = prepared.earlier;
    const bool resume = earlier && resumeAsked(*earlier);
    if (!alive()) {
        return;
    }
    m_resumed = resume;
    m_record = resume ? *earlier : prepared.fresh;
    m_entryBytes = resume ? prepared.earlierBytes : prepared.freshBytes;
    if (resume) {
        // Where the sheets came from is as given now.
        m_record.sourceKind = prepared.fresh.sourceKind;
        m_record.box = prepared.fresh.box;
        m_record.trackPath = prepared.fresh.trackPath;
        m_record.margin = prepared.fresh.margin;
        for (const QString& line : prepared.bmpChanged) {
            if (!line.isEmpty()) {
                emit logEvent(line);
            }
        }
        if (const int finished = m_record.finishedCount(); finished > 0) {
            emit logEvent(QStringLiteral(". Hojas ya terminadas: %1 de %2")
                              .arg(finished)
                              .arg(m_set.sheets.size()));
        }
    }
    if (!alive()) {
        return;
    }
    const bool replace = confirmReplace(prepared.filesThere);
    if (!alive()) {
        return;
    }
    if (!replace) {
        m_phase = Phase::Done;
        m_entryBytes.clear(); // nothing of the set is written
        m_lock.unlock();
        emit cancelled();
        return;
    }
    // The record is there before the first request leaves.
    writeRecord();

    m_progressBase = 0;
    for (const SheetSetRecord::Entry& entry : m_record.sheets) {
        m_progressBase += entry.finished ? entry.sheet.tiles() : 0;
    }
    emit progressRange(m_set.tiles());
    emit progress(m_progressBase);
    if (!alive()) {
        return;
    }
    if (!m_gate) {
        m_ownGate = std::make_unique<TransferGate>(m_connections);
        m_gate = m_ownGate.get();
    }
    // The index can be looked at while the sheets are fetched, and the overview shows the
    // sheets finished before.
    writeIndex();
    if (m_record.finishedCount() > 0) {
        writeOverview();
    }
    m_nextTimer.start();
}

bool SheetSetRun::resumeAsked(const SheetSetRecord& earlier) {
    const int finished = earlier.finishedCount();
    const auto count = static_cast<int>(m_set.sheets.size());
    const QString text =
        finished == count
            ? QStringLiteral("Estas mismas hojas ya se descargaron todas (%1). ¿Conservarlas sin "
                             "volver a pedirlas? (Cancelar las descarga de nuevo)")
                  .arg(count)
            : QStringLiteral("Hay una descarga sin terminar de estas mismas hojas, con %1 de %2 "
                             "hojas terminadas y %3 mosaicos descargados de las demás. "
                             "¿Continuar con lo ya descargado?")
                  .arg(finished)
                  .arg(count)
                  .arg(GroupedNumber(earlier.vouchedTiles()));
    return m_resumePolicy != ResumePolicy::Ask || m_questions.confirmResume(kResumeCaption, text);
}

bool SheetSetRun::confirmReplace(const std::vector<bool>& filesThere) {
    QStringList found;
    for (size_t i = 0; i < m_record.sheets.size(); ++i) {
        if (!m_record.sheets[i].finished && filesThere[i]) {
            found << m_record.sheets[i].sheet.name;
        }
    }
    if (found.isEmpty()) {
        return true;
    }
    const QString text = found.size() == 1
                             ? QStringLiteral("Ya existen ficheros de la hoja %1. ¿Sobreescribir?")
                                   .arg(found.front())
                             : QStringLiteral("Ya existen ficheros de %1 hojas (%2). "
                                              "¿Sobreescribir?")
                                   .arg(found.size())
                                   .arg(Names(found));
    return m_questions.confirmOverwrite(kReplaceCaption, text);
}

// --- Sheet after sheet --------------------------------------------------------------------

void SheetSetRun::nextSheet() {
    if (!alive()) {
        return;
    }
    const int count = static_cast<int>(m_set.sheets.size());
    int next = m_current + 1;
    while (next < count && m_record.sheets[size_t(next)].finished) {
        ++next;
    }
    if (next >= count) {
        endOfSet();
        return;
    }
    m_current = next;
    const Sheet& sheet = m_set.sheets[size_t(next)];
    const QString folder = sheetFolder(sheet);
    // Looked at again now: it may have changed since the set began.
    if (const QString problem = TakeSheetFolder(folder); !problem.isEmpty()) {
        stopForFolder(folder, problem);
        return;
    }
    DownloadJob job = SheetJob(m_job, sheet);
    job.folder = folder;
    m_run.reset(); // the latest run has returned: it is idle
    m_run = std::make_unique<DownloadRun>(job, m_manager, *m_sheetQuestions);
    m_run->setConnections(m_connections);
    m_run->setFetchLimits(m_limits);
    m_run->setGate(m_gate);
    // The set asked for all its sheets; the store gives a sheet only what the set resumed.
    m_run->setResumePolicy(ResumePolicy::Always);
    m_run->setRecordStore(this);
    m_tally[size_t(next)] = Tally{};
    m_tally[size_t(next)].ran = true;
    const int p = piecePixels(sheet);
    m_piece = QImage(sheet.across * p, sheet.down * p, QImage::Format_RGB32);
    m_piece.fill(Qt::white);
    connectSheet(m_run.get());

    emit sheetStarted(sheet.number, count, sheet.name);
    emit logEvent(
        QStringLiteral(". Hoja %1 de %2: %3").arg(sheet.number).arg(count).arg(sheet.name));
    if (!alive()) {
        return;
    }
    switch (m_run->start()) {
    case StartResult::Started:
    case StartResult::Aborted: // the set is being aborted
        return;
    case StartResult::FolderBusy:
        // Another run took the sheet's folder; its message said so, and the log says why
        // the set ends here.
        m_outcome.stopped = true;
        emit statusText(QStringLiteral("Descarga detenida."));
        emit logEvent(QStringLiteral(". Descarga detenida: otra descarga está en curso en la "
                                     "carpeta de la hoja %1 (%2)")
                          .arg(sheet.name, QDir::toNativeSeparators(folder)));
        finishSet();
        return;
    case StartResult::NoTiles:
    case StartResult::Cancelled:
        m_outcome.stopped = true;
        finishSet();
        return;
    }
}

void SheetSetRun::connectSheet(DownloadRun* run) {
    const QString lead = QStringLiteral("Hoja %1 de %2: ")
                             .arg(m_set.sheets[size_t(m_current)].number)
                             .arg(m_set.sheets.size());
    connect(run, &DownloadRun::logEvent, this, &SheetSetRun::logEvent);
    connect(run, &DownloadRun::statusText, this,
            [this, lead](const QString& text) { emit statusText(lead + text); });
    connect(run, &DownloadRun::progress, this, [this](int value) {
        m_tally[size_t(m_current)].reported = value;
        emit progress(m_progressBase + value);
    });
    connect(run, &DownloadRun::tileWaiting, this, &SheetSetRun::tileWaiting);
    connect(run, &DownloadRun::tileRecorded, this, &SheetSetRun::tileRecorded);
    connect(run, &DownloadRun::tileDownloaded, this, &SheetSetRun::tileDownloaded);
    connect(run, &DownloadRun::tileShown, this,
            [this](int column, int row, const QImage& image, const QString& fileName) {
                // The sheet's piece of the overview, a few pixels a tile.
                const int p = m_piece.width() / std::max(1, m_run->job().tilesAcross);
                QPainter painter(&m_piece);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawImage(QRect((column - 1) * p, (row - 1) * p, p, p), image);
                painter.end();
                emit tileShown(column, row, image, fileName);
            });
    connect(run, &DownloadRun::tileFailed, this, &SheetSetRun::tileFailed);
    connect(run, &DownloadRun::markerHidden, this, &SheetSetRun::markerHidden);
    connect(run, &DownloadRun::outputStep, this, &SheetSetRun::outputStep);
    connect(run, &DownloadRun::measured, this, &SheetSetRun::measured);
    connect(run, &DownloadRun::finished, this, &SheetSetRun::sheetFinished);
}

void SheetSetRun::sheetFinished(const RunOutcome& o) {
    const size_t i = size_t(m_current);
    Tally& tally = m_tally[i];
    tally.fetched = static_cast<int>(m_run->fetchedTiles().size());
    tally.calibrations = o.calibrationsWritten;
    m_outcome.anyFailed = m_outcome.anyFailed || o.anyFailed;
    m_outcome.writeFailed = m_outcome.writeFailed || o.writeFailed;
    m_progressBase += m_set.sheets[i].tiles();
    if (o.stopped) {
        m_stopAsked = true;
    }
    if (m_bmpToStamp) {
        stampSheetBmp();
        return;
    }
    afterSheet();
}

void SheetSetRun::stampSheetBmp() {
    const Sheet& sheet = m_set.sheets[size_t(m_current)];
    const quint64 generation = m_generation;
    m_stampWork = QtConcurrent::run(&m_fileWriter, DigestBoundedFile,
                                    SheetBmpOf(m_job.folder, sheet), SheetBmpBound(sheet));
    m_stampStarted = true;
    WhenFinished(this, m_stampWork, [this, generation](const BoundedDigest& bmp) {
        if (generation == m_generation && m_bmpToStamp) {
            sheetStamped(bmp);
        }
    });
}

bool SheetSetRun::markFinished(const BoundedDigest& bmp) {
    m_bmpToStamp = false;
    m_stampStarted = false;
    SheetSetRecord::Entry& entry = m_record.sheets[size_t(m_current)];
    if (!bmp.ok()) {
        return false; // left unfinished: the next run makes it again from its tiles
    }
    entry.finished = true;
    entry.bmp = {bmp.size, bmp.sha256};
    m_entryBytes[size_t(m_current)] = SheetSetRecord::EntryBytes(entry);
    return true;
}

void SheetSetRun::sheetStamped(const BoundedDigest& bmp) {
    if (markFinished(bmp)) {
        writeRecord(); // a finished sheet is never fetched again, even after a crash
    } else {
        m_outcome.writeFailed = true;
        emit logEvent(QStringLiteral(". No se ha podido comprobar el fichero BMP de la hoja %1 "
                                     "(%2): la hoja queda sin terminar")
                          .arg(m_set.sheets[size_t(m_current)].name, bmp.reason()));
    }
    if (m_finishing) {
        finishWhenIdle();
        return;
    }
    afterSheet();
}

void SheetSetRun::afterSheet() {
    const size_t i = size_t(m_current);
    if (m_record.sheets[i].finished) {
        m_pieces[i] = m_piece;
        writeOverview();
    }
    if (m_stopAsked) {
        m_outcome.stopped = true;
        finishSet();
        return;
    }
    m_nextTimer.start();
}

void SheetSetRun::stopForFolder(const QString& folder, const QString& reason) {
    m_outcome.stopped = true;
    m_outcome.writeFailed = true;
    m_questions.error(QStringLiteral("No se puede usar la carpeta %1: %2. Se ha detenido la "
                                     "descarga sin escribir nada en ella; las hojas ya "
                                     "descargadas se conservan")
                          .arg(QDir::toNativeSeparators(folder), reason));
    if (!alive()) {
        return;
    }
    emit statusText(QStringLiteral("Descarga detenida."));
    emit logEvent(QStringLiteral(". Descarga detenida: no se puede usar la carpeta %1: %2")
                      .arg(QDir::toNativeSeparators(folder), reason));
    finishSet();
}

void SheetSetRun::stop() {
    stopBecause(QStringLiteral("el usuario"));
}

void SheetSetRun::stopBecause(const QString& cause) {
    if (!isRunning() || m_stopAsked || m_finishing) {
        return;
    }
    m_stopAsked = true;
    if (m_run && m_run->isRunning()) {
        // Its end ends the set; a BMP already going into place gets its files first.
        m_run->stopBecause(cause);
        return;
    }
    if (m_bmpToStamp && alive()) {
        // The sheet did everything; its BMP read back, the set stops.
        emit statusText(QStringLiteral("Descarga detenida."));
        emit logEvent(QStringLiteral(". Descarga detenida por ") + cause);
        return;
    }
    // Between two sheets, or writing the index and the overview, which finish unwatched.
    m_outcome.stopped = true;
    emit statusText(QStringLiteral("Descarga detenida."));
    emit logEvent(QStringLiteral(". Descarga detenida por ") + cause);
    finishSet();
}

void SheetSetRun::abort() {
    if (m_phase == Phase::Idle || m_phase == Phase::Done) {
        m_phase = Phase::Done;
        return;
    }
    m_phase = Phase::Done;
    ++m_generation;
    m_nextTimer.stop();
    if (m_run) {
        m_run->abort(); // its record comes to the store
    }
    if (m_bmpToStamp) {
        // The sheet did everything: its BMP is read back now rather than made again later.
        const Sheet& sheet = m_set.sheets[size_t(m_current)];
        markFinished(m_stampStarted ? m_stampWork.result()
                                    : DigestBoundedFile(SheetBmpOf(m_job.folder, sheet),
                                                        SheetBmpBound(sheet)));
    }
    writeRecord();
    m_recordWriter.waitForDone();
    m_lock.unlock();
}

// --- The end --------------------------------------------------------------------------------

void SheetSetRun::endOfSet() {
    const Totals t = totals();
    emit statusText(QStringLiteral("Grabando el índice y la vista general de las hojas."));
    emit logEvent(QStringLiteral(". Fin de la descarga en hojas: %1 de %2 hojas terminadas")
                      .arg(t.finished)
                      .arg(t.sheets));
    if (!alive()) {
        return;
    }
    m_phase = Phase::Closing;
    // The files each sheet left are known now, exports included.
    writeIndex();
    writeOverview();
}

void SheetSetRun::closingWritten() {
    if (m_phase != Phase::Closing || m_indexWriter.busy || m_overviewWriter.busy) {
        return;
    }
    // The index and the overview as the end wrote them; a failure before was made good.
    m_outcome.writeFailed =
        m_outcome.writeFailed || m_indexWriter.failed || m_overviewWriter.failed;
    if (!m_indexWriter.failed) {
        emit logEvent(QStringLiteral(". Índice de las hojas grabado: %1, %2")
                          .arg(SheetIndexKmlName(m_set.name), SheetIndexGeoJsonName(m_set.name)));
    }
    if (!m_overviewWriter.failed) {
        emit logEvent(QStringLiteral(". Vista general de las hojas grabada: ") +
                      SheetOverviewName(m_set.name));
    }
    const Totals t = totals();
    emit statusText(QStringLiteral("Fin de descarga de las hojas: %1 de %2 terminadas.")
                        .arg(t.finished)
                        .arg(t.sheets));
    finishSet();
}

void SheetSetRun::finishSet() {
    m_finishing = true;
    m_phase = Phase::Closing; // no sheet begins; running until the work under way is over
    m_nextTimer.stop();
    finishWhenIdle();
}

void SheetSetRun::finishWhenIdle() {
    if (m_phase == Phase::Done || m_indexWriter.busy || m_overviewWriter.busy || m_bmpToStamp) {
        return;
    }
    m_phase = Phase::Done;
    m_recordTimer.stop();
    const Totals t = totals();
    const bool everySheet = t.finished == t.sheets;
    m_outcome.anyFetched = t.fetched > 0;
    m_outcome.bmpSaved = m_job.saveBmp && everySheet;
    // What every sheet has beside its BMP (those finished before wrote what was asked).
    m_outcome.calibrationsWritten.clear();
    if (everySheet) {
        for (const CalibrationFormat format :
             {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
              CalibrationFormat::WorldFile}) {
            bool all = CalibrationWanted(format, m_job);
            for (const Tally& tally : m_tally) {
                all = all && (!tally.ran || tally.calibrations.contains(format));
            }
            if (all) {
                m_outcome.calibrationsWritten << format;
            }
        }
    }
    // The record stays, finished or not: a set is too large to fetch again by mistake, and
    // a later run of the same sheets fetches nothing of those finished (it writes the
    // index and the overview, which may be what failed).
    writeRecord();
    m_recordWriter.waitForDone();
    // Something is still to be done.
    m_outcome.recordKept = !everySheet || m_outcome.stopped || m_outcome.writeFailed;
    m_lock.unlock();
    emit finished(m_outcome);
}

// --- The index and the overview -------------------------------------------------------------

int SheetSetRun::piecePixels(const Sheet& sheet) const {
    const double scale = SheetOverviewScale(m_set.extent());
    return std::clamp(static_cast<int>(std::lround(sheet.tileSize / std::max(scale, 1e-9))), 1,
                      int(kTilePixels));
}

void SheetSetRun::writeIndex() {
    if (m_indexWriter.busy) {
        m_indexWriter.again = true;
        return;
    }
    m_indexWriter.busy = true;
    const bool look = m_phase == Phase::Closing;
    std::vector<std::pair<DownloadJob, QString>> sheets;
    for (const Sheet& sheet : m_set.sheets) {
        sheets.emplace_back(SheetJob(m_job, sheet), sheetFolder(sheet));
    }
    const quint64 generation = m_generation;
    WhenFinished(
        this,
        QtConcurrent::run(&m_fileWriter,
                          [set = m_set, sheets = std::move(sheets), look, folder = m_job.folder] {
                              std::vector<QStringList> files;
                              for (const auto& [job, sheetFolder] : sheets) {
                                  files.push_back(SheetFiles(job, sheetFolder, look));
                              }
                              QString error;
                              const bool ok = WriteSheetIndex(set, files, folder, &error);
                              return std::make_pair(ok, error);
                          }),
        [this, generation](const std::pair<bool, QString>& done) {
            if (generation == m_generation &&
                written(m_indexWriter, done.first,
                        QStringLiteral(". No se ha podido grabar el índice de las hojas: ") +
                            done.second)) {
                writeIndex();
            }
        });
}

bool SheetSetRun::written(Writer& writer, bool ok, const QString& failure) {
    writer.busy = false;
    writer.failed = !ok;
    writer.done = writer.done || ok;
    if (!ok && !writer.told) {
        writer.told = true;
        emit logEvent(failure);
    }
    if (writer.again && isRunning()) {
        writer.again = false;
        return true;
    }
    if (m_finishing) {
        finishWhenIdle();
    } else {
        closingWritten();
    }
    return false;
}

void SheetSetRun::writeOverview() {
    if (m_overviewWriter.busy) {
        m_overviewWriter.again = true;
        return;
    }
    m_overviewWriter.busy = true;
    OverviewInput in;
    in.extent = m_set.extent();
    in.scale = SheetOverviewScale(in.extent);
    in.sheets = m_set.sheets;
    in.folder = m_job.folder;
    in.fileName = SheetOverviewName(m_set.name);
    for (size_t i = 0; i < m_set.sheets.size(); ++i) {
        const Sheet& sheet = m_set.sheets[i];
        if (!m_record.sheets[i].finished) {
            continue;
        }
        if (!m_pieces[i].isNull()) {
            in.pieces.push_back({sheet.rect(), m_pieces[i]});
        } else if (m_job.saveBmp && !m_tally[i].ran && !m_readBack[i]) {
            m_readBack[i] = true; // once: a BMP that cannot be read leaves its sheet white
            const int p = piecePixels(sheet);
            in.readBack.push_back({int(i),
                                   SheetBmpOf(m_job.folder, sheet),
                                   sheet.rect(),
                                   {sheet.across * kTilePixels, sheet.down * kTilePixels},
                                   {sheet.across * p, sheet.down * p}});
        }
    }
    const quint64 generation = m_generation;
    WhenFinished(this, QtConcurrent::run(&m_fileWriter, WriteOverviewFile, std::move(in)),
                 [this, generation](const OverviewOutput& done) {
                     if (generation == m_generation) {
                         for (const auto& [index, piece] : done.read) {
                             m_pieces[size_t(index)] = piece;
                         }
                         if (written(m_overviewWriter, done.ok,
                                     QStringLiteral(". No se ha podido grabar la vista general de "
                                                    "las hojas: ") +
                                         done.error)) {
                             writeOverview();
                         }
                     }
                 });
}

// --- The record -----------------------------------------------------------------------------

std::optional<JobRecord> SheetSetRun::loadRecord(QString*) {
    if (!m_resumed || m_current < 0) {
        return std::nullopt;
    }
    return m_record.sheets[size_t(m_current)].record;
}

void SheetSetRun::saveRecord(const JobRecord& record) {
    sheetRecordChanged(record, false);
}

void SheetSetRun::recordDone(const JobRecord& record) {
    sheetRecordChanged(record, true);
}

void SheetSetRun::sheetRecordChanged(const JobRecord& record, bool done) {
    if (m_current < 0) {
        return;
    }
    SheetSetRecord::Entry& entry = m_record.sheets[size_t(m_current)];
    entry.record = record;
    // With a BMP, the sheet is finished once its BMP is read back (see sheetStamped()).
    entry.finished = done && !m_job.saveBmp;
    m_bmpToStamp = done && m_job.saveBmp;
    m_entryBytes[size_t(m_current)] = SheetSetRecord::EntryBytes(entry);
    if (done) {
        writeRecord(); // every tile is vouched for, even after a crash
    } else {
        scheduleRecordWrite();
    }
}

void SheetSetRun::scheduleRecordWrite() {
    if (!m_recordTimer.isActive()) {
        m_recordTimer.start();
    }
}

void SheetSetRun::writeRecord() {
    m_recordTimer.stop();
    if (m_entryBytes.empty()) {
        return; // not started
    }
    // The parts are joined on the writer's thread: a set of many sheets makes megabytes.
    m_recordWriter.start([path = recordPath(), head = m_record.headBytes(), parts = m_entryBytes] {
        QByteArray bytes = head;
        for (const QByteArray& part : parts) {
            bytes += part;
        }
        SaveSheetSetRecord(path, bytes);
    });
}
