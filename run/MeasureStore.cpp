#include "run/MeasureStore.h"

#include "job/BoundedRead.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString kFileName = QStringLiteral("medidas.json");
// A few hundred entries take some tens of kilobytes; anything far larger is not ours.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

// One thread, so that the file's reads and writes keep their order; destroyed at exit after
// waiting for it.
class StorePool : public QThreadPool {
public:
    StorePool() { setMaxThreadCount(1); }
};
Q_GLOBAL_STATIC(StorePool, g_storePool)

} // namespace

namespace MeasureStore {

QString Path() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(kFileName);
}

RunMeasures Load(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    const BoundedRead read = ReadBoundedFile(path, kMaxFileBytes, LinkPolicy::Follow);
    return read.ok() ? RunMeasures::FromJson(read.bytes) : RunMeasures();
}

bool Add(const RunMeasures& samples, const QString& path, QString* error) {
    if (path.isEmpty()) {
        if (error) {
            *error = QStringLiteral("el sistema no da carpeta de caché");
        }
        return false;
    }
    RunMeasures kept = Load(path);
    kept.add(samples);
    QSaveFile file(path);
    const bool ok = QDir().mkpath(QFileInfo(path).absolutePath()) &&
                    file.open(QIODevice::WriteOnly) && file.write(kept.toJson()) >= 0 &&
                    file.commit();
    if (!ok && error) {
        *error = file.errorString();
    }
    return ok;
}

QFuture<RunMeasures> LoadLater() {
    return QtConcurrent::run(static_cast<QThreadPool*>(g_storePool()),
                             [path = Path()] { return Load(path); });
}

void AddLater(const RunMeasures& samples) {
    if (samples.isEmpty()) {
        return;
    }
    static const bool waited = [] {
        // Measures asked to be kept are kept, whatever ends the program.
        qAddPostRoutine(WaitForWrites);
        return true;
    }();
    Q_UNUSED(waited);
    g_storePool()->start([samples, path = Path()] { Add(samples, path); });
}

void WaitForWrites() {
    g_storePool()->waitForDone();
}

} // namespace MeasureStore
