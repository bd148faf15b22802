#pragma once

// The run object against a map server on 127.0.0.1: a job of orthophoto tiles of 5000 m
// from 585000 / 4730000, questions answered as told, and everything the run reports.

#include "job/AreaRecalc.h"
#include "job/MapKinds.h"
#include "run/DownloadRun.h"
#include "run/RunQuestions.h"
#include "tests/support/QuickFetchLimits.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestMapServer.h"
#include "tools/MapHttpServer.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

class RecordingQuestions : public RunQuestions {
public:
    MissingFolder missingFolder(const QString& folder, const QString& current) override {
        missingFolders << folder + u'|' + current;
        return missingFolderAnswer;
    }
    bool confirmOverwrite(const QString&, const QString& text) override {
        overwrites << text;
        return overwrite;
    }
    void message(const QString& text) override { messages << text; }
    void error(const QString& text) override { errors << text; }
    bool confirmResume(const QString& caption, const QString& text) override {
        resumes << caption + u'|' + text;
        return resume;
    }

    QStringList missingFolders, overwrites, messages, errors, resumes;
    MissingFolder missingFolderAnswer = MissingFolder::UseCurrent;
    bool overwrite = true;
    bool resume = true;
};

// What one run reported, in order.
struct RunReport {
    QStringList log;
    QStringList statuses;
    QStringList shown; // file names of the tiles shown, in the order shown
    std::vector<int> progress;
    QList<QPoint> failed;
    // The outputs' steps, "<key> <part>", and what the run measured.
    QStringList steps;
    RunMeasures measured;
    RunOutcome outcome;
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager.setProxy(QNetworkProxy::NoProxy);
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(dir.isValid());
    }

    // `across` x `down` tiles into `folder` (the test's folder when empty), BMP on.
    DownloadJob Job(int across, int down = 1, const QString& folder = {}) const {
        DownloadJob job;
        job.kind = MapKind::Orto;
        AreaInputs in;
        in.eastingText = QStringLiteral("585000");
        in.northingText = QStringLiteral("730000");
        in.acrossPosition = across - 1;
        in.downPosition = down - 1;
        in.coveragePosition = 0;
        in.serverBase = server.baseUrl();
        AreaResult r = RecalcArea(job, in);
        EXPECT_TRUE(r.complete());
        r.job.folder = folder.isEmpty() ? dir.path() : folder;
        r.job.saveBmp = true;
        return r.job;
    }

    // Runs the job to its end; `setUp` may adjust the run before it starts, `during` is
    // called with it once it has started.
    RunReport Run(const DownloadJob& job, int connections = 1,
                  const std::function<void(DownloadRun&)>& setUp = {},
                  const std::function<void(DownloadRun&)>& during = {}) {
        RunReport report;
        DownloadRun run(job, &manager, questions);
        run.setFetchLimits(QuickFetchLimits());
        run.setConnections(connections);
        if (setUp) {
            setUp(run);
        }
        QObject::connect(&run, &DownloadRun::logEvent,
                         [&report](const QString& m) { report.log << m; });
        QObject::connect(&run, &DownloadRun::statusText,
                         [&report](const QString& t) { report.statuses << t; });
        QObject::connect(&run, &DownloadRun::progress,
                         [&report](int v) { report.progress.push_back(v); });
        QObject::connect(
            &run, &DownloadRun::tileShown,
            [&report](int, int, const QImage&, const QString& name) { report.shown << name; });
        QObject::connect(&run, &DownloadRun::tileFailed,
                         [&report](int c, int r) { report.failed << QPoint(c, r); });
        QObject::connect(&run, &DownloadRun::outputStep,
                         [&report](const QString& key, double part) {
                             report.steps << key + u' ' + QString::number(part);
                         });
        QObject::connect(&run, &DownloadRun::measured,
                         [&report](const RunMeasures& m) { report.measured.add(m); });
        QObject::connect(&run, &DownloadRun::finished,
                         [&report](const RunOutcome& o) { report.outcome = o; });
        QSignalSpy done(&run, &DownloadRun::finished);
        const DownloadRun::StartResult started = run.start();
        EXPECT_EQ(started, DownloadRun::StartResult::Started);
        if (started != DownloadRun::StartResult::Started) {
            return report;
        }
        if (during) {
            during(run);
        }
        EXPECT_TRUE(done.count() == 1 || done.wait(waitMs));
        return report;
    }

    QStringList files(const QString& folder = {}) const {
        return QDir(folder.isEmpty() ? dir.path() : folder)
            .entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    // The request sent for a tile, by its column and row in `job`.
    int requestsFor(const DownloadJob& job, int column, int row) const {
        const TileRect b = TileBounds(job, column, row);
        const QString key = QStringLiteral("&Xmin=%1.").arg(b.xmin);
        int n = 0;
        for (const QString& target : server.requests()) {
            n += target.contains(key) && target.contains(QStringLiteral("&Ymin=%1&").arg(b.ymin))
                     ? 1
                     : 0;
        }
        return n;
    }
    void setFault(const DownloadJob& job, int column, int row, TestMapServer::Fault fault,
                  int attempts = -1) {
        const TileRect b = TileBounds(job, column, row);
        server.setFault(b.xmin, b.ymin, fault, attempts);
    }

    TestMapServer server;
    // How long a run may take before the test gives up on it.
    int waitMs = 60000;
    QNetworkAccessManager manager;
    QTemporaryDir dir;
    RecordingQuestions questions;
};
