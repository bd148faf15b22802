#pragma once

#include "job/RunMeasures.h"
#include "run/BmpOutput.h"
#include "run/RunOutput.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <vector>

// The closing steps of a run: its outputs walked in a fixed order, each once the one before
// is done. The BMP comes first, then each export, then the tile clean-up (which needs all of
// them saved), then the calibration and world files that describe the BMP, and last the
// removal of those of its name that describe an older one.
class RunOutputs : public QObject {
    Q_OBJECT
public:
    // The run's own job with its tile table; the joined image when every tile arrived, and
    // the bytes of the tile files it was joined from. `outcome` and `questions` must outlive
    // this object.
    RunOutputs(const DownloadJob& job, QImage image, qint64 tileBytes, RunOutcome& outcome,
               RunQuestions& questions, std::function<void(BmpCommitStep)> bmpCommitHook = {},
               QObject* parent = nullptr);
    ~RunOutputs() override;

    // Walks the outputs; `finished` follows once the last is done.
    void start();
    // A stop with `cause` for the log. False when nothing is left to write: the work under
    // way was given up before any file of it went into place (an older BMP stays with its
    // files), the outputs are halted and the run stops as at any other moment. True when
    // the run's BMP is in place (or its rename under way, which the stop waits for): what
    // goes with it is still written, exports left out, and `finished` follows — before this
    // returns unless a question is open. `unattended` is for a run being aborted: there is
    // nobody to ask, and a question already open halts everything instead.
    bool stop(const QString& cause, bool unattended);
    // Halts for good without a word; work on other threads is given up.
    void halt();
    void setQuestions(RunQuestions& questions) { m_context.setQuestions(questions); }
    bool isWalking() const { return !m_halted && !m_ended; }
    // The time each output took and the bytes it wrote, for those written without a
    // question or a stop.
    const RunMeasures& measured() const { return m_measured; }

signals:
    void statusText(const QString& text);
    void logEvent(const QString& message);
    // An output that is measured is `part` done: 0 when it begins, 1 when it is over.
    void outputStep(const QString& key, double part);
    void finished();

private:
    void walk();
    void end();
    // The output under way is over: its time and files, unless it waited for the user.
    void measure(const RunOutput& output);

    OutputContext m_context;
    std::vector<std::unique_ptr<RunOutput>> m_outputs;
    size_t m_next = 0;
    RunOutput* m_current = nullptr;
    // Of the output under way: since it began, and what the run had done by then.
    QElapsedTimer m_clock;
    int m_questionsBefore = 0;
    qsizetype m_writtenBefore = 0;
    RunMeasures m_measured;
    bool m_walking = false;
    bool m_halted = false;
    bool m_ended = false;
    bool m_telling = false; // the boxes of the files not written are being shown
    QString m_cause;
};
