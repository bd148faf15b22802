#include "run/OutputNames.h"

#include "exports/MapExport.h"
#include "filebase/ReplacingFile.h"
#include "geo/SheetIndex.h"
#include "job/FileNames.h"
#include "job/SheetCut.h"
#include "mosaic/SheetOverview.h"
#include "run/CalibrationOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>

namespace {

// The files saved whole (the BMP, the calibration files, the index, the overview) and the
// records take the name "<name>." and a fresh suffix just before their rename.
QString TemporaryName(const QString& name) {
    return name + u'.' + QString(kFreshSuffixLength, u'x');
}

// Paths under the destination folder, '/' between a sheet's folder and its files.
using NamesFor = std::function<QStringList(const QString& baseName)>;

bool Fits(const QByteArray& folder, const NameLimits& limits, const QStringList& paths) {
    for (const QString& path : paths) {
        if (folder.size() + 1 + QFile::encodeName(path).size() > limits.path) {
            return false;
        }
        for (const QString& part : path.split(u'/')) {
            if (QFile::encodeName(part).size() > limits.name) {
                return false;
            }
        }
    }
    return true;
}

std::optional<QString> NamesProblem(const QString& asked, const QString& baseName,
                                    const NamesFor& names, const QString& what) {
    const QString folder = FolderExists(asked) ? asked : QDir::currentPath();
    const NameLimits limits = FolderNameLimits(folder);
    const QByteArray path = QFile::encodeName(QFileInfo(folder).absoluteFilePath());
    if (Fits(path, limits, names(baseName))) {
        return std::nullopt;
    }
    // The longest start of this very name that fits: its characters may take more than one
    // byte each.
    qsizetype fitting = baseName.size() - 1;
    while (fitting > 0 && !Fits(path, limits, names(baseName.left(fitting)))) {
        --fitting;
    }
    if (fitting == 0) {
        return QStringLiteral("La ruta de la carpeta destino %1 es demasiado larga para grabar "
                              "en ella")
            .arg(QDir::toNativeSeparators(folder));
    }
    return QStringLiteral("El nombre del fichero BMP es demasiado largo para la carpeta "
                          "destino: con %1 que se van a grabar, admite hasta %2 caracteres")
        .arg(what)
        .arg(fitting);
}

} // namespace

QStringList RunFileNames(const DownloadJob& job, bool ownRecord) {
    const QString& name = job.bmpName;
    QStringList names;
    if (ownRecord) {
        names << TemporaryName(name + QStringLiteral(".morvel"));
    }
    if (job.saveBmp) {
        names << TemporaryName(name + QStringLiteral(".bmp"));
        for (const CalibrationFormat format :
             {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
              CalibrationFormat::WorldFile}) {
            if (CalibrationWanted(format, job)) {
                for (const QString& file : CalibrationOutput::FileNames(format, name)) {
                    names << TemporaryName(file);
                }
            }
        }
    }
    for (const ExportFormat format : kExportFormats) {
        if (job.exportWanted(format)) {
            names << LongestExportName(format, name);
        }
    }
    return names;
}

std::optional<QString> RunNamesProblem(const DownloadJob& job) {
    return NamesProblem(
        job.folder, job.bmpName,
        [&job](const QString& base) {
            DownloadJob named = job;
            named.bmpName = base;
            return RunFileNames(named);
        },
        QStringLiteral("los ficheros"));
}

std::optional<QString> SheetNamesProblem(const DownloadJob& job, const SheetSet& set) {
    const int count = static_cast<int>(set.sheets.size());
    return NamesProblem(
        job.folder, set.name,
        [&job, count](const QString& base) {
            QStringList paths{TemporaryName(base + QStringLiteral(".morvel")),
                              TemporaryName(SheetIndexKmlName(base)),
                              TemporaryName(SheetIndexGeoJsonName(base)),
                              TemporaryName(SheetOverviewName(base))};
            // Every sheet's name has as many digits as the last one's.
            DownloadJob sheet = job;
            sheet.bmpName = SheetName(base, count, count);
            // The set keeps the sheets' records in its own.
            for (const QString& name : RunFileNames(sheet, false)) {
                paths << sheet.bmpName + u'/' + name;
            }
            return paths;
        },
        QStringLiteral("las hojas y los ficheros"));
}
