#pragma once

#include <QString>
#include <QStringList>

#include <string>

// One file of the folder written under a temporary name beside it, so that a failed or
// stopped write never leaves a half file under the real name nor loses the file it replaces.
// The temporary name keeps the extension, which some of GDAL's drivers go by.
class OutputFile {
public:
    OutputFile(const QString& folder, const QString& fileName);
    // Removes the temporary file, and any side file GDAL made beside it, unless committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Where to write, as GDAL takes paths.
    const std::string& temporaryPath() const { return m_temporaryGdal; }
    // A path as GDAL takes it (temporaryPath()) as Qt opens files.
    static QString QtPath(const std::string& gdalPath);

    // The temporary name of a file, hidden: ".<base>-<tag>.<extension>", where the tag is
    // eight letters or digits.
    static QString TemporaryName(const QString& fileName, const QString& tag);
    // The text with the temporary file, and the side files named after it, called by the
    // file's own name: what GDAL says of them is said of the file the user knows.
    QString withOwnName(const QString& text) const;

    // Puts the file on the disk, renames it over the real name and puts the folder's new entry
    // on the disk too; false, with the reason, when it cannot (and the temporary file is then
    // removed).
    bool commit(QString* error);

private:
    void removeTemporary() const;

    QString m_folder;
    QString m_final;
    QString m_temporary;
    std::string m_temporaryGdal;
    bool m_committed = false;
};

// True when `name` is the name of a temporary file OutputFile makes for an export, or of a
// file SQLite or GDAL makes beside one: a point, the export's base name, '-', eight lower-case
// letters or digits, '.', an export's extension; then nothing, SQLite's "-journal", "-wal"
// or "-shm", or GDAL's ".ovr", ".ovr.tmp", ".msk.ovr.tmp" or ".aux.xml".
bool IsOutputTemporaryFile(const QString& name);

// Removes from `folder` what exports killed on the way left there (see IsOutputTemporaryFile);
// returns the names removed.
QStringList RemoveOutputTemporaryFiles(const QString& folder);
