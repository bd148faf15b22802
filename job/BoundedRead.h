#pragma once

// Reading a file that someone else may have put in place of the one expected: in a map
// folder a tile or a record can be a link to a device, a pipe that never answers, or a file
// of gigabytes. A file is opened without following a link at its name and without waiting,
// looked at through the open descriptor, and read only when it is a regular file of at most
// the size the caller can believe.

#include <QByteArray>
#include <QString>

// Why a file was not read.
enum class ReadRefusal {
    None,
    Missing,
    Link,       // the name is a symbolic link (when links are refused)
    NotRegular, // a folder, a device, a pipe, a socket
    TooLarge,
    Unreadable, // no permission, or an input/output error
};

struct BoundedRead {
    QByteArray bytes;
    ReadRefusal refusal = ReadRefusal::None;
    int error = 0; // errno with Unreadable

    bool ok() const { return refusal == ReadRefusal::None; }
    // The refusal in a few Spanish words ("el fichero es un enlace").
    QString reason() const;
};

enum class LinkPolicy {
    Refuse, // files in the destination folder: never read through a link
    Follow, // the user's own settings file may well be a link
};

// The whole file at `path`, at most `maxBytes`.
BoundedRead ReadBoundedFile(const QString& path, qint64 maxBytes,
                            LinkPolicy links = LinkPolicy::Refuse);

// The whole file behind an open descriptor, from its start, at most `maxBytes`; the
// descriptor is left open.
BoundedRead ReadOpenFile(int fd, qint64 maxBytes);

// The size and SHA-256 of a file read as ReadBoundedFile reads it, but a slice at a time:
// for files too large to hold whole, such as a sheet's BMP.
struct BoundedDigest {
    ReadRefusal refusal = ReadRefusal::None;
    int error = 0;
    qint64 size = 0;
    QByteArray sha256;

    bool ok() const { return refusal == ReadRefusal::None; }
    QString reason() const;
};

BoundedDigest DigestBoundedFile(const QString& path, qint64 maxBytes);
