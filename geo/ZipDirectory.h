#pragma once

// The table of contents at the end of a zip file (a KMZ): its members and the sizes the zip
// declares for them, read without unpacking anything, so that a file which would unpack to
// far more than it takes on disk is refused before any reader inflates it.

#include <QString>

#include <cstdint>
#include <vector>

class QIODevice;

struct ZipMember {
    QString name;
    uint64_t packedBytes = 0;
    uint64_t unpackedBytes = 0;
};

struct ZipDirectory {
    bool found = false; // an end record was there: the file is laid out as a zip
    std::vector<ZipMember> members;
    QString error; // why the directory cannot be taken, in a few Spanish words
};

// Reads the directory of `file` (open for reading, seekable). A file without the end record
// is not a zip (found false, no error); a directory that points outside the file, is cut
// short or holds more than `maxMembers` members gives the error. Sizes past 4 GiB are read
// from the ZIP64 fields.
ZipDirectory ReadZipDirectory(QIODevice& file, int maxMembers);
