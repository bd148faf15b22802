#pragma once

// What every use of GDAL in the program shares, tracks and index files as much as the
// exports: the drivers registered once, datasets closed by their holder, and GDAL's messages
// kept off the terminal with the last failure kept to say what went wrong.

#include "job/WriteError.h"

#include <QString>

#include <gdal.h>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>

// Registers GDAL's drivers the first time it is called, from whichever thread, and keeps GDAL's
// block cache small.
void EnsureGdal();

struct GdalDatasetCloser {
    void operator()(GDALDatasetH dataset) const { GDALClose(dataset); }
};
using GdalDataset = std::unique_ptr<std::remove_pointer_t<GDALDatasetH>, GdalDatasetCloser>;

// GDAL's messages stay off the terminal while the object lives, on this thread; the last
// failure is kept.
class GdalErrorCapture {
public:
    GdalErrorCapture();
    ~GdalErrorCapture();
    GdalErrorCapture(const GdalErrorCapture&) = delete;
    GdalErrorCapture& operator=(const GdalErrorCapture&) = delete;

    // A failure was reported since the object was made.
    bool failed() const { return !m_last.empty(); }
    // GDAL's own words for the latest failure, empty when there was none.
    QString message() const { return QString::fromStdString(m_last); }
    // "GDAL: " and GDAL's words for the latest failure, or `fallback` when it gave none.
    QString reason(const QString& fallback) const;
    // What the system said when GDAL first failed, if it was an error only a write gives (a
    // full disk or quota, a file too large, the disk itself); 0 otherwise. Other values of
    // errno are not kept: GDAL looks for many files that are not there, and one of those
    // failed looks may be all that errno still holds.
    int writeErrno() const { return m_writeErrno; }

private:
    static void CPL_STDCALL Handler(CPLErr level, CPLErrorNum number, const char* message);
    std::string m_last;
    int m_writeErrno = 0;
};

// Why GDAL could not write a file into `folder`, as the program's other files say it ("disco
// lleno", "sin permiso para escribir en la carpeta", "la carpeta es de solo lectura"): what
// the folder is now, and else the error of the failing write, kept by `errors` or still in
// errno; nothing when neither tells. Asked right after the failure and before the
// half-written file is removed, which a full disk may need to show.
std::optional<LocalWriteError> GdalWriteCause(const GdalErrorCapture& errors,
                                              const QString& folder);
