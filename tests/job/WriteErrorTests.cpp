// The one table of reasons the user reads when a file of ours cannot be written, and the
// errno it is read from when Qt's own file classes fail.
#include "job/WriteError.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct ReasonCase {
    int error;
    const char* reason;
    bool folderUnwritable; // every later file in the folder would fail alike
};

// Each cause by its name, in Spanish; the system's own words never reach the user.
const ReasonCase kReasons[] = {
    {ENOSPC, "disco lleno", true},
    {EDQUOT, "disco lleno", true},
    {EACCES, "sin permiso para escribir en la carpeta", true},
    {EPERM, "sin permiso para escribir en la carpeta", true},
    {EROFS, "la carpeta es de solo lectura", true},
    {ENOENT, "la carpeta no existe", true},
    {ENOTDIR, "la carpeta no existe", true},
    {EEXIST, "el fichero temporal ya existe", false},
    {ELOOP, "el fichero es un enlace", false},
    {EISDIR, "ya existe una carpeta con ese nombre", false},
    {EFBIG, "el fichero es más grande de lo que admite el disco", false},
    {ENAMETOOLONG, "el nombre es demasiado largo", false},
    {EIO, "error de lectura o escritura del disco", false},
    {EMFILE, "demasiados ficheros abiertos", false},
    {ENFILE, "demasiados ficheros abiertos", false},
    {EBUSY, "el fichero está en uso", false},
    {ETXTBSY, "el fichero está en uso", false},
    {ENOMEM, "memoria insuficiente", false},
    {9999, "error 9999 del sistema", false},
};

TEST(LocalWriteErrorTest, EveryCauseHasItsSpanishReason) {
    for (const ReasonCase& c : kReasons) {
        const LocalWriteError e = LocalWriteErrorFor(c.error);
        EXPECT_EQ(e.reason, QString::fromUtf8(c.reason)) << c.error;
        EXPECT_EQ(e.folderUnwritable, c.folderUnwritable) << c.error;
    }
}

// Qt's texts for these are English, or "Unknown error" for a full disk: the reason comes
// from the errno the failing call left, or from what stands where the file goes.
TEST(LocalWriteErrorTest, FileDevicesGiveTheReasonOfTheirFailure) {
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly)) {
        GTEST_SKIP() << "no /dev/full here";
    }
    errno = 0;
    const bool written = full.write(QByteArray(100, 'x')) == 100 && full.flush();
    const int writeErrno = errno;
    EXPECT_FALSE(written);
    EXPECT_EQ(DeviceWriteError(full, writeErrno).reason, LocalWriteErrorFor(ENOSPC).reason);
    EXPECT_TRUE(DeviceWriteError(full, writeErrno).folderUnwritable);

    QTemporaryDir dir;
    const QFile folder(dir.path());
    EXPECT_EQ(DeviceWriteError(folder, 0).reason, LocalWriteErrorFor(EISDIR).reason);
    EXPECT_EQ(DeviceWriteError(folder, ENOSPC).reason, LocalWriteErrorFor(EISDIR).reason);
    const QFile missing(dir.filePath(QStringLiteral("no/x.bmp")));
    EXPECT_EQ(DeviceWriteError(missing, ENOENT).reason, LocalWriteErrorFor(ENOENT).reason);
    // Nothing known at all still says what failed, in Spanish.
    EXPECT_EQ(DeviceWriteError(missing, 0).reason, QStringLiteral("error al escribir el fichero"));
}

// A step whose errno cannot be trusted (GDAL's, SQLite's) is explained by what the folder is
// now: a disk that is full is said so, one with room enough for a file is not.
TEST(FolderRefusalTest, SaysWhatKeepsTheFolderFromTakingFiles) {
    for (const qint64 left : {qint64(2) << 20, qint64(64) << 10}) {
        const ScratchDisk disk(4 << 20);
        if (!disk.active() || !disk.fill(left)) {
            GTEST_SKIP() << "no disk of the test's own here";
        }
        const std::optional<LocalWriteError> refusal = FolderRefusal(disk.path());
        ASSERT_EQ(refusal.has_value(), left < (1 << 20)) << left;
        if (refusal) {
            EXPECT_EQ(refusal->reason, LocalWriteErrorFor(ENOSPC).reason);
            EXPECT_TRUE(refusal->folderUnwritable);
        }
    }
    QTemporaryDir dir;
    EXPECT_FALSE(FolderRefusal(dir.path()).has_value());
    EXPECT_EQ(FolderRefusal(dir.filePath(QStringLiteral("no")))->reason,
              LocalWriteErrorFor(ENOENT).reason);
}

} // namespace
