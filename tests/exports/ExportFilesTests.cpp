// What every export does with the folder: the file under its name and a line for the log,
// or a reason and nothing left behind; a stop leaves nothing either.
#include "exports/OutputFile.h"
#include "job/WriteError.h"
#include "tests/exports/ExportTestSupport.h"
#include "tests/geo/GeoTestTools.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>
#include <vector>

namespace {

// A limit to the size of the files this process writes while it lives; a write past it fails
// (EFBIG) rather than ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_handler)(int);
};

struct Format {
    ExportFormat format;
    const char* fileName;
    // The log line up to where the area's own figures begin.
    const char* logStart;
    // The formats moved to WGS 84 cannot be written without the datum change.
    bool needsDatum;
};

void PrintTo(const Format& f, std::ostream* os) {
    *os << f.fileName;
}

const Format kFormats[] = {
    {ExportFormat::GeoTiff, "Prueba.tif", ". Exportado Prueba.tif (GeoTIFF, ED50 / UTM 30N)",
     false},
    {ExportFormat::GeoPackage, "Prueba.gpkg",
     ". Exportado Prueba.gpkg (GeoPackage, ED50 / UTM 30N)", false},
    {ExportFormat::MbTiles, "Prueba.mbtiles",
     ". Exportado Prueba.mbtiles (MBTiles, Web Mercator con ", true},
    {ExportFormat::GarminKmz, "Prueba.kmz", ". Exportado Prueba.kmz (KMZ de Garmin, WGS 84 con ",
     true},
    {ExportFormat::PrintPdf, "Prueba.pdf",
     ". Exportado Prueba.pdf (PDF para imprimir, 1 hoja A4 a 1:25.000, ETRS89 / UTM 30N con ",
     true},
};

class EveryExport : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        input = MakeExportInput(ExportCase{}, dir.path());
    }
    QString file() const { return dir.filePath(QLatin1String(GetParam().fileName)); }
    QString shown() const { return QDir::toNativeSeparators(file()); }

    QTemporaryDir dir;
    ExportInput input;
};

TEST_P(EveryExport, WritesItsFileAndOneLogLineNamingTheDatumChange) {
    const ExportResult result = ExportNow(GetParam().format, input);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_FALSE(result.stopped);
    EXPECT_TRUE(result.error.isEmpty());
    ASSERT_EQ(result.logLines.size(), 1);
    const QString line = result.logLines.first();
    EXPECT_TRUE(line.startsWith(QLatin1String(GetParam().logStart))) << line.toStdString();
    EXPECT_EQ(line.contains(input.datum.name), GetParam().needsDatum) << line.toStdString();
    EXPECT_TRUE(line.endsWith(u')')) << line.toStdString();
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QLatin1String(GetParam().fileName)});
    QJsonObject report;
    EXPECT_TRUE(
        GdalInfo(GetParam().format == ExportFormat::GarminKmz
                     ? QStringLiteral("/vsizip/") + file() + QStringLiteral("/files/f01_01.jpg")
                     : file(),
                 &report));
}

TEST_P(EveryExport, ReplacesAnOlderFileOfTheSameName) {
    WriteAll(file(), QByteArray("not a map"));
    const ExportResult result = ExportNow(GetParam().format, input);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_NE(ReadAll(file()).left(9), QByteArray("not a map"));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QLatin1String(GetParam().fileName)});
}

TEST_P(EveryExport, FolderWhereTheFileGoesIsAnErrorAndLeavesNothing) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QLatin1String(GetParam().fileName)));
    const ExportResult result = ExportNow(GetParam().format, input);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.stopped);
    EXPECT_TRUE(result.logLines.isEmpty());
    EXPECT_EQ(result.error,
              QStringLiteral("No se ha podido exportar %1: ya existe una carpeta con ese nombre")
                  .arg(shown()));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QLatin1String(GetParam().fileName)});
    EXPECT_TRUE(FolderEntries(file()).isEmpty());
}

TEST_P(EveryExport, FolderRefusingFilesKeepsTheOlderFile) {
    WriteAll(file(), QByteArray("older map"));
    ReadOnlyFolder readOnly(dir.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this system lets every file be written";
    }
    const ExportResult result = ExportNow(GetParam().format, input);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.error, QStringLiteral("No se ha podido exportar %1: sin permiso para escribir "
                                           "en la carpeta")
                                .arg(shown()));
    EXPECT_EQ(ReadAll(file()), QByteArray("older map"));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QLatin1String(GetParam().fileName)});
}

// A disk that is full or read-only, or a folder that stops taking files while the export is
// written, is told by its cause as for the other files, naming the export's own file: GDAL's
// and SQLite's words ("database disk image is malformed", "writing a dirty block") and the
// temporary file they name never reach the user.
TEST_P(EveryExport, AFolderThatStopsTakingFilesIsToldByItsCause) {
    struct Hostile {
        const char* what;
        int cause;
        // Makes the folder hostile before the export, or at its first report, and says where
        // it is; false when this system cannot.
        std::function<bool(QString* folder, bool started)> make;
    };
    std::unique_ptr<ScratchDisk> disk;
    std::unique_ptr<ReadOnlyFolder> readOnly;
    std::unique_ptr<FileSizeLimit> sizeLimit;
    const Hostile cases[] = {
        {"a read-only disk", EROFS,
         [&](QString* folder, bool started) {
             if (!started) {
                 disk = std::make_unique<ScratchDisk>(1 << 20);
                 *folder = disk->path();
             }
             return started || (disk->active() && disk->makeReadOnly());
         }},
        {"a full disk", ENOSPC,
         [&](QString* folder, bool started) {
             if (!started) {
                 disk = std::make_unique<ScratchDisk>(4 << 20);
                 *folder = disk->path();
             }
             return started || (disk->active() && disk->fill(8 * 1024));
         }},
        // Seen by errno only: the disk has room and the folder takes files.
        {"a file size limit", EFBIG,
         [&](QString*, bool started) {
             if (!started) {
                 sizeLimit = std::make_unique<FileSizeLimit>(16 * 1024);
             }
             return true;
         }},
        {"the permission lost midway", EPERM,
         [&](QString* folder, bool started) {
             if (started) {
                 readOnly = std::make_unique<ReadOnlyFolder>(*folder);
             }
             return !started || readOnly->active();
         }},
    };
    for (const Hostile& h : cases) {
        SCOPED_TRACE(h.what);
        QTemporaryDir plain;
        QString folder = plain.path();
        if (!h.make(&folder, false)) {
            std::cout << "skipped: " << h.what << " cannot be made here\n";
            continue;
        }
        ExportInput hostile = input;
        hostile.job.folder = folder;
        // Noise, which no format makes small.
        QRandomGenerator noise(7);
        for (int y = 0; y < hostile.image.height(); ++y) {
            auto* line = hostile.image.scanLine(y);
            for (qsizetype x = 0; x < hostile.image.bytesPerLine(); ++x) {
                line[x] = static_cast<uchar>(noise.bounded(256));
            }
        }
        std::atomic<bool> stop{false};
        bool started = false;
        bool made = true;
        const ExportResult result = WriteExport(GetParam().format, hostile, stop, [&](double) {
            if (!started) {
                started = true;
                made = h.make(&folder, true);
            }
        });
        const QStringList left = FolderEntries(folder);
        sizeLimit.reset();
        readOnly.reset();
        disk.reset();
        if (!made) {
            std::cout << "skipped: " << h.what << " cannot be made here\n";
            continue;
        }
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error.toStdString(),
                  QStringLiteral("No se ha podido exportar %1: %2")
                      .arg(QDir::toNativeSeparators(PathPrefix(folder) + GetParam().fileName),
                           LocalWriteErrorFor(h.cause).reason)
                      .toStdString());
        // Nothing of the export stays, but where the folder no longer lets it be removed.
        if (h.cause != EPERM) {
            EXPECT_TRUE(left.filter(QRegularExpression(QStringLiteral("^\\."))).isEmpty())
                << left.join(u' ').toStdString();
        }
    }
}

// GDAL reads braces and archive extensions in paths: a folder may hold them all.
TEST_P(EveryExport, WritesIntoAFolderNamedWithWhatGdalReadsInPaths) {
    for (const char* name : {"a}b", "{c", "{}[]*?", "mapas.kmz", "copia.zip"}) {
        SCOPED_TRACE(name);
        const QString folder = dir.filePath(QString::fromUtf8(name));
        ASSERT_TRUE(QDir().mkpath(folder));
        ExportInput inside = input;
        inside.job.folder = folder;
        const ExportResult result = ExportNow(GetParam().format, inside);
        EXPECT_TRUE(result.ok) << result.error.toStdString();
        EXPECT_EQ(FolderEntries(folder), QStringList{QLatin1String(GetParam().fileName)});
    }
}

TEST_P(EveryExport, StopAskedBeforeOrOnTheWayLeavesNoFile) {
    for (const bool before : {true, false}) {
        SCOPED_TRACE(before ? "before" : "on the way");
        std::atomic<bool> stop{before};
        std::vector<double> reports;
        const ExportResult result = WriteExport(GetParam().format, input, stop, [&](double done) {
            reports.push_back(done);
            stop = true;
        });
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.stopped);
        EXPECT_TRUE(result.logLines.isEmpty());
        EXPECT_TRUE(FolderEntries(dir.path()).isEmpty())
            << FolderEntries(dir.path()).join(u' ').toStdString();
        // Asked before, nothing is done at all; on the way, the first report stops the work.
        EXPECT_EQ(reports.size(), before ? 0u : 1u);
    }
}

TEST_P(EveryExport, ReportsProgressUpToTheWhole) {
    const std::atomic<bool> stop{false};
    std::vector<double> reports;
    const ExportResult result =
        WriteExport(GetParam().format, input, stop, [&](double done) { reports.push_back(done); });
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_GE(reports.front(), 0.0);
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);
}

TEST_P(EveryExport, RefusesWhatItCannotPlace) {
    struct Broken {
        const char* what;
        std::function<void(ExportInput&)> spoil;
        QString reason;
        bool onlyMoved;
    };
    const Broken cases[] = {
        {"an image smaller than the area",
         [](ExportInput& in) { in.image = in.image.copy(0, 0, 800, 400); },
         QStringLiteral("la imagen (800 x 400 píxeles) no es la de la zona (800 x 800)"), false},
        {"a missing folder", [](ExportInput& in) { in.job.folder += QStringLiteral("/nowhere"); },
         QStringLiteral("no existe la carpeta"), false},
        {"no datum change for the area", [](ExportInput& in) { in.datum = {}; },
         QStringLiteral("no hay transformación de ED50 a ETRS89 para la zona"), true},
    };
    for (const Broken& b : cases) {
        SCOPED_TRACE(b.what);
        ExportInput spoilt = input;
        b.spoil(spoilt);
        const ExportResult result = ExportNow(GetParam().format, spoilt);
        if (b.onlyMoved && !GetParam().needsDatum) {
            EXPECT_TRUE(result.ok) << result.error.toStdString();
            QFile::remove(file());
            continue;
        }
        EXPECT_FALSE(result.ok);
        const QString where = QDir::toNativeSeparators(PathPrefix(spoilt.job.folder) +
                                                       QLatin1String(GetParam().fileName));
        EXPECT_EQ(result.error,
                  QStringLiteral("No se ha podido exportar %1: %2").arg(where, b.reason));
        EXPECT_TRUE(FolderEntries(dir.path()).isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryExport, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             QString name = QLatin1String(info.param.fileName);
                             return name.section(u'.', 1).toStdString();
                         });

// What a killed export leaves is known by its name alone, so that the next run in the folder
// removes it, and nothing else: the temporary files OutputFile makes and what SQLite and GDAL
// make beside them.
TEST(Exports, KnowTheirTemporaryFilesByTheirNames) {
    QTemporaryDir dir;
    for (const ExportFormat format : kExportFormats) {
        const OutputFile output(dir.path(), ExportFileName(format, QStringLiteral("Mapa de río")));
        const QString made =
            QFileInfo(QFile::decodeName(output.temporaryPath().c_str())).fileName();
        EXPECT_TRUE(IsOutputTemporaryFile(made)) << made.toStdString();
        EXPECT_TRUE(IsOutputTemporaryFile(made + QStringLiteral("-journal"))) << made.toStdString();
    }
    const struct {
        const char* name;
        bool ours;
    } names[] = {
        {".Prueba-2oxrkxgs.mbtiles", true},
        {".Prueba-2oxrkxgs.mbtiles-journal", true},
        {".Prueba-00000000.gpkg-wal", true},
        {".Prueba-k3x9q0za.gpkg-shm", true},
        {".a.b-k3x9q0za.tif.ovr.tmp", true},
        {".Prueba-k3x9q0za.tif.msk.ovr.tmp", true},
        {".Prueba-k3x9q0za.kmz", true},
        {"Prueba.mbtiles", false},
        {"Prueba-2oxrkxgs.mbtiles", false},      // not hidden
        {".Prueba-2OXRKXGS.mbtiles", false},     // upper case
        {".Prueba-2oxrkxg.mbtiles", false},      // seven
        {".Prueba-2oxrkxgs0.mbtiles", false},    // nine
        {".Prueba-2oxrkxgs.mbtiles.bak", false}, // the user's copy
        {".Prueba-2oxrkxgs.png", false},
        {".-2oxrkxgs.tif", false},
        {".Prueba-2oxrkxgs.mbtiles-journal2", false},
    };
    for (const auto& n : names) {
        EXPECT_EQ(IsOutputTemporaryFile(QString::fromUtf8(n.name)), n.ours) << n.name;
    }
}

// As a run will: off the thread that made the input, several at once, GDAL set up by
// whichever comes first.
TEST(Exports, RunOnWorkerThreadsAtOnce) {
    QTemporaryDir dir;
    const ExportInput input = MakeExportInput(ExportCase{}, dir.path());
    std::vector<QFuture<ExportResult>> running;
    for (const Format& f : kFormats) {
        running.push_back(
            QtConcurrent::run([&input, format = f.format] { return ExportNow(format, input); }));
    }
    for (QFuture<ExportResult>& r : running) {
        EXPECT_TRUE(r.result().ok) << r.result().error.toStdString();
    }
    EXPECT_EQ(FolderEntries(dir.path()),
              (QStringList{QStringLiteral("Prueba.gpkg"), QStringLiteral("Prueba.kmz"),
                           QStringLiteral("Prueba.mbtiles"), QStringLiteral("Prueba.pdf"),
                           QStringLiteral("Prueba.tif")}));
}

} // namespace
