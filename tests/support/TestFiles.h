#pragma once

// Folders and files for the tests of every floor.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>

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

// Gives the process a view of the mounts of its own, so that a ScratchDisk is seen by its
// threads and the programs it starts, and goes with it whatever way it ends. Called first
// thing in main(), before any thread is made (a thread keeps the view it was made with);
// false where the process may not (not root).
bool PrivateMounts();

// A small file system of the test's own (tmpfs) on a fresh folder while it lives: a disk that
// fills up or turns read-only, which root cannot be kept from writing in otherwise.
class ScratchDisk {
public:
    explicit ScratchDisk(qint64 bytes);
    ~ScratchDisk();
    ScratchDisk(const ScratchDisk&) = delete;
    ScratchDisk& operator=(const ScratchDisk&) = delete;

    // False where no file system can be mounted here; the test is then skipped.
    bool active() const { return active_; }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    // Fills the disk with a file of its own until `freeBytes` are left, about.
    bool fill(qint64 freeBytes) const;
    // Mounted again read-only: what is there stays readable, nothing more is written.
    bool makeReadOnly() const;

private:
    QTemporaryDir dir_;
    bool active_ = false;
};

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

// Every entry of `folder` with its bytes (a link as what it names), to tell that nothing in
// it changed.
std::map<QString, QByteArray> FolderSnapshot(const QString& folder);
// A zip of one member, `name`, that unpacks to blanks, at least `unpackedBytes` of them
// (a few more, to a whole number of the deflate's longest copies): about a thousandth of
// that on disk, which makes a zip bomb of a large size. Its sizes and CRC are true; with
// `zip64` they are given in the ZIP64 fields, and so is the directory.
QByteArray BlankZip(const QByteArray& name, qint64 unpackedBytes, bool zip64 = false);
// The size of that member unpacked.
qint64 BlankZipUnpackedBytes(qint64 unpackedBytes);
