#include "run/TileCleanupOutput.h"

#include "exports/MapExport.h"
#include "mosaic/TileCleanup.h"
#include "run/DownloadRun.h"

QString TileCleanupOutput::KeepReason(const OutputContext& context) {
    const DownloadJob& job = context.job();
    const RunOutcome& outcome = context.outcome();
    const QString noBmp = QStringLiteral("no se grabó el fichero BMP");
    if (job.saveBmp && !outcome.bmpSaved) {
        return noBmp;
    }
    for (const ExportFormat format : kExportFormats) {
        if (job.exportWanted(format) && !outcome.exportsWritten.contains(format)) {
            return QStringLiteral("no se grabó el fichero ") + ExportFileName(format, job.bmpName);
        }
    }
    // Nothing was asked that holds them.
    return outcome.bmpSaved || !outcome.exportsWritten.isEmpty() ? QString() : noBmp;
}

void TileCleanupOutput::write(OutputContext& context, Done done) {
    if (!context.job().deleteTiles || !context.outcome().anyFetched) {
        done();
        return;
    }
    const QString keep = KeepReason(context);
    if (!keep.isEmpty()) {
        context.log(QStringLiteral(". Mosaicos conservados: ") + keep);
    } else {
        context.status(QStringLiteral("Borrando archivos del mosaico."));
        DeleteTileFiles(context.job(), context.prefix());
        context.status(QStringLiteral("Archivos del mosaico borrados."));
        context.log(QStringLiteral(". Archivos del mosaico borrados"));
    }
    if (context.alive()) {
        done();
    }
}
