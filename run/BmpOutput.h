#pragma once

#include "run/RunOutput.h"

#include <QFuture>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

// Where the BMP's save stands when the commit hook is called.
enum class BmpCommitStep {
    Synced,   // the file is on the disk; a stop now abandons it
    Renaming, // too late to abandon: it is being renamed into place
};

// The joined image saved as <Nombre>.bmp, when "Grabar fichero" is on and every tile
// arrived: written and synced on a worker, then renamed over an older BMP. A stop while it is
// written or synced abandons it before the rename and the older BMP stays; once the rename is
// under way it is too late, and the stop waits for that rename alone.
class BmpOutput : public QObject, public RunOutput {
public:
    // Rows the worker writes between looks at a stop.
    static constexpr int kRowsPerSlice = 500;

    // `hook` is called on the saving thread at each step of the commit; tests hold it there.
    explicit BmpOutput(std::function<void(BmpCommitStep)> hook = {});

    void write(OutputContext& context, Done done) override;
    StopResult stop() override;
    QString measureKey() const override;

private:
    struct SaveResult {
        bool ok = false;
        bool abandoned = false;
        bool replacedLink = false;
        QString error;
    };
    // Shared with the thread that writes the file. Once the file is synced, it is renamed
    // into place only if the run has not abandoned it; both sides decide under the mutex,
    // which the writer holds for the rename alone, so that a stop knows at once whether
    // the new BMP is in place.
    struct Commit {
        std::mutex mutex;
        std::atomic<bool> abandoned{false};
        bool decided = false; // the rename was tried: too late to abandon
        SaveResult result;    // with decided
    };

    static SaveResult Save(const QImage& image, const QString& path, int32_t pixelsPerMetre,
                           Commit& commit, const std::function<void(BmpCommitStep)>& hook);
    void saved(const SaveResult& result);

    std::function<void(BmpCommitStep)> m_hook;
    OutputContext* m_context = nullptr;
    Done m_done;
    std::shared_ptr<Commit> m_commit;
    quint64 m_generation = 0; // tells a late answer of an abandoned save apart
};
