#include "exports/MapExport.h"

#include "exports/FormatWriters.h"
#include "exports/OutputFile.h"

#include <QDir>

namespace {

struct Format {
    const char* extension;
    WrittenFile (*write)(const ExportWork&, const std::string&);
    // The longest of the side files GDAL and SQLite name after the temporary file: the
    // extension it takes instead of the file's own (none: the same), and what it adds.
    const char* sideExtension;
    const char* sideEnding;
};

Format FormatOf(ExportFormat format) {
    switch (format) {
    case ExportFormat::GeoTiff:
        // The overviews' temporary file, and the side file GDAL looks for beside that one.
        return {"tif", &WriteGeoTiff, nullptr, ".ovr.tmp.aux"};
    case ExportFormat::GeoPackage:
        return {"gpkg", &WriteGeoPackage, nullptr, "-journal"};
    case ExportFormat::MbTiles:
        // Where the driver keeps tiles written in parts, with its journal.
        return {"mbtiles", &WriteMbTiles, "partial_tiles.db", "-journal"};
    case ExportFormat::GarminKmz:
        return {"kmz", &WriteGarminKmz, nullptr, ""};
    case ExportFormat::PrintPdf:
        // GDAL's georeferencing is written into the file itself; what it cannot put there
        // would go to its side file.
        return {"pdf", &WritePrintPdf, nullptr, ".aux.xml"};
    }
    return {"", nullptr, nullptr, ""};
}

// The image's own pixels when GDAL can read them as they are; one converted copy otherwise.
QImage ReadableImage(const QImage& image) {
    return SourcePixels::Of(image).bits ? image : image.convertToFormat(QImage::Format_RGB888);
}

} // namespace

QString ExportFileName(ExportFormat format, const QString& baseName) {
    return baseName + u'.' + QLatin1String(FormatOf(format).extension);
}

QString LongestExportName(ExportFormat format, const QString& baseName) {
    const Format f = FormatOf(format);
    // The temporary file's tag has always eight characters.
    QString name = OutputFile::TemporaryName(ExportFileName(format, baseName), QString(8, u'0'));
    if (f.sideExtension != nullptr) {
        name = name.left(name.lastIndexOf(u'.') + 1) + QLatin1String(f.sideExtension);
    }
    return name + QLatin1String(f.sideEnding);
}

ExportResult WriteExport(ExportFormat format, const ExportInput& input,
                         const std::atomic<bool>& stop, const ExportProgressObserver& observer) {
    const QString fileName = ExportFileName(format, input.job.bmpName);
    const QString shown = QDir::toNativeSeparators(PathPrefix(input.job.folder) + fileName);
    ExportResult result;
    const auto fail = [&](const QString& reason) {
        result.error = QStringLiteral("No se ha podido exportar %1: %2").arg(shown, reason);
        result.reason = reason;
        return result;
    };
    if (!FolderExists(input.job.folder)) {
        return fail(QStringLiteral("no existe la carpeta"));
    }
    const QImage image = ReadableImage(input.image);
    GridArea area;
    QString reason;
    if (!GridAreaOfJob(input.job, image.width(), image.height(), &area, &reason)) {
        return fail(reason);
    }

    EnsureGdal();
    const GdalErrorCapture errors;
    const ExportProgress progress(stop, observer);
    const GdalDataset dataset = ImageDataset(image, area.geoTransform(), EpsgWkt(23030));
    if (!dataset) {
        return fail(errors.reason(QStringLiteral("GDAL no puede leer la imagen")));
    }
    // A file is written under a temporary name, synced once complete and thrown away if
    // anything fails: SQLite need neither sync each step nor keep a journal to undo one.
    const ThreadGdalOption noSync("OGR_SQLITE_SYNCHRONOUS", "OFF");
    const ThreadGdalOption noJournal("OGR_SQLITE_JOURNAL", "OFF");
    // Every export names its CRS inside its own file: no side file beside it.
    const ThreadGdalOption noSideFile("GDAL_PAM_ENABLED", "NO");
    OutputFile output(input.job.folder, fileName);
    const ExportWork work{input, image, area, dataset.get(), progress, errors};
    WrittenFile written = FormatOf(format).write(work, output.temporaryPath());
    if (written.ok && errors.failed()) {
        // A block GDAL could not write as it closed the file is told only in its messages; the
        // file may still read back, without those tiles.
        written = GdalFailure(work, QString());
    }
    if (progress.stopRequested()) {
        result.stopped = true;
        result.error = QStringLiteral("Exportación de %1 detenida").arg(shown);
        return result;
    }
    if (!written.ok) {
        // The cause the system gives comes first: GDAL's words for a full disk or a folder
        // that refuses files are English, and often about something else ("database disk
        // image is malformed").
        if (const std::optional<LocalWriteError> cause = GdalWriteCause(errors, input.job.folder)) {
            return fail(cause->reason);
        }
        return fail(output.withOwnName(written.reason));
    }
    if (!output.commit(&reason)) {
        return fail(reason);
    }
    progress.report(1.0);
    result.ok = true;
    result.logLines << QStringLiteral(". Exportado %1 (%2)").arg(fileName, written.description)
                    << written.remarks;
    return result;
}
