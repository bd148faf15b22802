#pragma once

#include "run/RunOutput.h"

#include <QObject>

#include <atomic>
#include <memory>

class QThreadPool;

// The one thread the exports are written on: one at a time, so that a run never holds two
// moved copies of a large image at once, and one stopped meanwhile finishes before the next.
QThreadPool* ExportWorkPool();

// One export asked for (<Nombre>.tif, .gpkg, .mbtiles, .kmz or .pdf), written from the joined
// image on the exports' thread while the status bar names the file and how far it is. Only
// a run where every tile arrived has an image to export. A stop gives the export up at once:
// the thread removes what it had written by itself, and the run does not wait for it.
class ExportOutput : public QObject, public RunOutput {
public:
    explicit ExportOutput(ExportFormat format);

    void write(OutputContext& context, Done done) override;
    StopResult stop() override;
    QString measureKey() const override;

private:
    void failed(OutputContext& context, const QString& reason, const QString& message);

    ExportFormat m_format;
    OutputContext* m_context = nullptr; // while an export is under way
    std::shared_ptr<std::atomic<bool>> m_stop;
    quint64 m_generation = 0; // tells the answer of an abandoned export apart
};
