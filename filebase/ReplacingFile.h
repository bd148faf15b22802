#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/types.h>

// Letters or digits after the point of a temporary file's name (see CreateFreshFile).
constexpr int kFreshSuffixLength = 8;

// A fresh file beside `path`, named `path` + "." + eight lower-case letters or digits, as
// mkstemp makes one but with `mode` as the user's umask trims it (mkstemp's files are private
// to their owner), made exclusively and never through a link. Returns the descriptor, or -1
// with errno set; `name` gets the name made.
int CreateFreshFile(const QByteArray& path, int access, mode_t mode, QByteArray* name);

// One file of the destination folder, saved whole or not at all: written to a temporary file
// beside it, put on the disk and only then renamed over its name. Whatever stands at the name
// is replaced, never written through: a link there goes and what it names is left as it was
// (QSaveFile writes a link's target, which may be any file of the user's). A folder there is
// refused, as is a file the user made read-only; a file's permissions carry over to the new
// one. Reasons are the short Spanish ones of the files of a run.
class ReplacingFile {
public:
    explicit ReplacingFile(QString path);
    // Abandons a file not committed.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Makes the temporary file; false with the reason.
    bool open(QString* error);
    // Where the content goes once open.
    QIODevice& device() { return m_file; }

    // Writes out what is buffered and puts the data on the disk, the long part of a commit;
    // false with the reason, and the file is abandoned.
    bool sync(QString* error);
    // Syncs unless done, then renames the file over its name; false with the reason, and the
    // file is abandoned with the name keeping what it had.
    bool commit(QString* error);
    // Drops the temporary file; the name keeps what it had.
    void cancel();

    // After a commit: what stood at the name was a link, now replaced by the file.
    bool replacedLink() const { return m_replacedLink; }

private:
    bool fail(QString* error, const QString& reason);
    bool giveName(int* savedErrno);

    QString m_path;
    QFile m_file;
    QByteArray m_temporary; // none while the file has no name (made unnamed where it can be)
    bool m_synced = false;
    bool m_replacedLink = false;
};
