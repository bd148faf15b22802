#pragma once

// One of the files a run ends with (the BMP, an export, the calibration files…), and what
// the outputs of a run share while the run walks them in order.

#include "job/DownloadJob.h"
#include "run/CalibrationRun.h"
#include "run/RunQuestions.h"

#include <QImage>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class DatumChange;
struct RunOutcome;

// What the outputs of one run share: the job, the joined image, what was written so far, and
// where each tells what it does.
class OutputContext {
public:
    OutputContext(const DownloadJob& job, QImage image, RunOutcome& outcome,
                  RunQuestions& questions);

    const DownloadJob& job() const { return m_job; }
    // The folder followed by the platform's separator.
    QString prefix() const { return PathPrefix(m_job.folder); }
    // The joined image of a run where every tile arrived; null otherwise.
    const QImage& image() const { return m_image; }
    void releaseImage() { m_image = QImage(); }
    RunOutcome& outcome() { return m_outcome; }
    const RunOutcome& outcome() const { return m_outcome; }

    // Who answers: the user, or nobody once the run is being aborted.
    RunQuestions& questions() const { return m_asked; }
    void setQuestions(RunQuestions& questions) { m_asked.answerer = &questions; }
    // Questions and messages so far: an output that showed one waited for the user, and its
    // time is not what writing it takes.
    int questionsAsked() const { return m_asked.count; }

    // Where the status bar's texts and the log's lines go; both stop once the run is halted.
    std::function<void(const QString&)> status;
    std::function<void(const QString&)> log;
    // A line said once in the run, however many outputs have it to say; true the first time.
    bool logOnce(const QString& line);
    // How far the output under way is, from 0 to 1, for the run's progress.
    std::function<void(double)> stepped;
    // Says in the log that a file of the run took the place of a link, which went.
    void linkReplaced(const QString& fileName);
    // False once the run stopped listening (aborted while a question was open): an output
    // then ends without another word.
    std::function<bool()> alive;

    // A stop came once the BMP was in place: only what goes with it is still written.
    bool stopping = false;
    // An output asked for was left out because of the stop.
    bool skippedByStop = false;

    // The files this run wrote, by name, and those the user chose to keep as they were.
    QStringList written;
    QStringList keptByUser;
    // The bytes of the grid's tile files, which the exports' sizes follow.
    qint64 tileBytes = 0;

    // A file of the run that was not written, said in the log by its output at once: the
    // user is told once the outputs are over, in one box for all the files that failed for
    // the same reason (a full disk fails them all alike). `message` is the box of this file
    // alone, shown as an error or, with `plain`, as a simple message.
    void fileFailed(const QString& fileName, const QString& reason, const QString& message,
                    bool plain = false);
    // The boxes of the files not written, one for each reason in the order the reasons came;
    // none once the run stops listening.
    void tellFailedFiles();

    // The change from ED50 to ETRS89 for the area, chosen the first time an output asks and
    // named in the log then, once, with what it is for; null, with the reason, when no
    // operation covers the area.
    const DatumChoice& datumChoice();
    // Whether the GPS calibration files of this run are written on WGS 84, and whether an
    // export is moved to WGS 84: the users of the datum change.
    bool calibrationOnWgs84() const;
    bool exportOnWgs84() const;

private:
    DownloadJob m_job;
    QImage m_image;
    RunOutcome& m_outcome;
    QSet<QString> m_said;
    // Passes every question on to the answerer, counting them.
    class CountedQuestions : public RunQuestions {
    public:
        explicit CountedQuestions(RunQuestions* questions) : answerer(questions) {}
        MissingFolder missingFolder(const QString& folder, const QString& current) override;
        void message(const QString& text) override;
        void error(const QString& text) override;
        bool confirmResume(const QString& caption, const QString& text) override;
        bool confirmOverwrite(const QString& caption, const QString& text) override;
        RunQuestions* answerer;
        int count = 0;
    };
    mutable CountedQuestions m_asked;
    std::optional<DatumChoice> m_datum;
    struct FailedFile {
        QString fileName;
        QString reason;
        QString message;
        bool plain;
    };
    QList<FailedFile> m_failed;
};

// One output of a run. The run calls write() once, in the order of its list, and the next
// output only after `done`.
class RunOutput {
public:
    using Done = std::function<void()>;
    // What a stop finds an output doing.
    enum class StopResult {
        Abandoned, // work on another thread was given up; `done` never comes
        Completed, // too late to give up: it has ended and called `done` already
        Busy,      // a quick step under way (a question open): it calls `done` itself
    };

    virtual ~RunOutput() = default;
    // Writes its file, or says why not, or does nothing when the job does not ask for it;
    // calls `done` on the run's thread when it is over (at once for the quick ones).
    virtual void write(OutputContext& context, Done done) = 0;
    // Called while a write() is under way; the run does not wait.
    virtual StopResult stop() { return StopResult::Busy; }
    // The output as the measures know it (RunMeasures): its time and the bytes it wrote are
    // measured for the estimates; empty for an output too quick to count.
    virtual QString measureKey() const { return {}; }
};
