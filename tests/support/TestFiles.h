#pragma once

// Folders and files for the tests of every floor.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A fresh empty folder as the process's current directory while it lives.
class CurrentDirScope {
public:
    CurrentDirScope();
    ~CurrentDirScope();
    CurrentDirScope(const CurrentDirScope&) = delete;
    CurrentDirScope& operator=(const CurrentDirScope&) = delete;

    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Makes a folder refuse new files and renames while it lives: by its permissions, and
// where these do not bind (root) by the file system's immutable flag.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(QString path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // False when neither way works here; the test is then skipped.
    bool active() const { return active_; }

private:
    bool refusesNewFiles() const;
    bool setImmutable(bool on) const;

    QString path_;
    bool immutable_ = false;
    bool active_ = false;
};

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

// A zip of one member, `name`, that unpacks to blanks, at least `unpackedBytes` of them
// (a few more, to a whole number of the deflate's longest copies): about a thousandth of
// that on disk, which makes a zip bomb of a large size. Its sizes and CRC are true; with
// `zip64` they are given in the ZIP64 fields, and so is the directory.
QByteArray BlankZip(const QByteArray& name, qint64 unpackedBytes, bool zip64 = false);
// The size of that member unpacked.
qint64 BlankZipUnpackedBytes(qint64 unpackedBytes);
