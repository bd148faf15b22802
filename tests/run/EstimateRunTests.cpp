// A run timed against its estimate: the second of two identical runs is estimated from
// what the first measured. Alone, so that no other test's work throws the clock off.
#include "job/RunEstimate.h"
#include "tests/run/RunTestSupport.h"

#include <QElapsedTimer>

namespace {

using EstimatedRun = RunTest;

// The second of two identical runs, 10 x 10 tiles from a server that answers after 50 ms
// with the BMP, both calibration files and the four exports, is estimated from what the
// first measured within two thirds and one and a half times what it takes.
TEST_F(EstimatedRun, TheSecondOfTwoIdenticalRunsTakesAboutItsEstimate) {
    server.setLatency(50);
    waitMs = 300000;
    DownloadJob job = Job(10, 10);
    job.saveOzi = true;
    job.saveCompe = true;
    // The four exports GIS programs, phones and Garmin devices read.
    for (const ExportFormat format : {ExportFormat::GeoTiff, ExportFormat::GeoPackage,
                                      ExportFormat::MbTiles, ExportFormat::GarminKmz}) {
        job.setExport(format, true);
    }
    RunMeasures measures;
    double estimated = 0;
    double took = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const RunEstimate e = EstimateRun(job, measures, 2);
        ASSERT_EQ(e.plan.size(), 1u);
        estimated = e.plan[0].tileSeconds;
        for (const TimedOutput& o : e.plan[0].outputs) {
            estimated += o.seconds;
        }
        EXPECT_EQ(e.seconds.has_value(), pass == 1);
        QElapsedTimer clock;
        clock.start();
        const RunReport r = Run(job, 2);
        took = double(clock.elapsed()) / 1000.0;
        ASSERT_EQ(r.outcome.exportsWritten.size(), 4);
        ASSERT_FALSE(r.outcome.writeFailed);
        measures.add(r.measured);
    }
    const RunEstimate second = EstimateRun(job, measures, 2);
    EXPECT_FALSE(second.secondsApproximate);
    for (const FileEstimate& f : second.outputs) {
        EXPECT_FALSE(f.approximate) << f.what.toStdString();
    }
    EXPECT_GE(estimated / took, 0.67) << estimated << " s estimated, " << took << " s taken";
    EXPECT_LE(estimated / took, 1.5) << estimated << " s estimated, " << took << " s taken";
}

} // namespace
