#include "run/StaleGeoreferenceOutput.h"

#include "run/CalibrationOutput.h"
#include "run/DownloadRun.h"

#include "job/WriteError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

void StaleGeoreferenceOutput::write(OutputContext& context, Done done) {
    if (!context.outcome().bmpSaved) {
        done();
        return;
    }
    for (const CalibrationFormat format :
         {CalibrationFormat::OziExplorer, CalibrationFormat::CompeGps,
          CalibrationFormat::WorldFile}) {
        for (const QString& name : CalibrationOutput::FileNames(format, context.job().bmpName)) {
            const QString path = context.prefix() + name;
            // A link or a folder under the name is not what the run would have written.
            const QFileInfo info(path);
            if (context.written.contains(name) || context.keptByUser.contains(name) ||
                !info.isFile() || info.isSymLink()) {
                continue;
            }
            errno = 0;
            if (QFile::remove(path)) {
                context.log(QStringLiteral(". Eliminado %1: describía el BMP anterior").arg(name));
            } else {
                context.outcome().writeFailed = true;
                context.log(QStringLiteral(". No se ha podido eliminar %1, que describía el BMP "
                                           "anterior: %2")
                                .arg(name, LocalWriteErrorFor(errno).reason));
            }
        }
    }
    done();
}
