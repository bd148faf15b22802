#pragma once

// Keeps a second run out of a destination folder while one runs there, whether in this
// process, in another window or in `Morvel --batch`. The whole folder is taken, not only one
// BMP name: the tile files (A01.jpg ...) are named alike for every job, so two runs in one
// folder would write, clean up and replace each other's tiles and temporary files. The lock
// is a file beside the maps (QLockFile); the lock of a process that died is taken over.

#include <QString>

#include <functional>
#include <memory>

class QLockFile;
class RunQuestions;

class FolderLock {
public:
    enum class Result {
        Held,        // this run has the folder
        Busy,        // another run has it: the message says so
        Unavailable, // no lock can be made there (a read-only folder): the run goes on
                     // without one, and its first write says what is wrong
    };

    FolderLock();
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // The name of the lock in a folder.
    static QString FileName();

    // Tries once, without waiting.
    Result tryLock(const QString& folder);
    // With Busy: why the run cannot start, in Spanish.
    QString busyMessage() const { return m_message; }
    void unlock();

private:
    std::unique_ptr<QLockFile> m_file;
    QString m_message;
};

// How a run's first step, taking its destination folder, ended.
enum class FolderTaken {
    Held,      // the folder is the run's
    Unlocked,  // no lock can be made there (see FolderLock::Result::Unavailable)
    Aborted,   // the run ended while the user was asked about a missing folder
    Busy,      // another run holds the folder: lock.busyMessage() says so
    Cancelled, // the user wanted no run for a missing folder, or it could not be made (the
               // reason was shown): nothing was written
};

// A run's first step, before it touches anything. For a missing `folder` the user is asked:
// it is made, or it is the current directory instead (`replaced` is called with it, before
// the lock is tried), or there is no run. Then the folder is locked for the run. `alive`
// says whether the run still goes on after a box.
FolderTaken TakeRunFolder(QString& folder, FolderLock& lock, RunQuestions& questions,
                          const std::function<bool()>& alive,
                          const std::function<void(const QString&)>& replaced);
