// `Morvel --batch` as a user or cron starts it: the program built in this tree, without a
// display, against a map server on 127.0.0.1 that the test runs meanwhile. Each exit
// status is reached for real, and what the run leaves in its folder is looked at.
#include "download/UGatorade.h"
#include "job/AreaRecalc.h"
#include "job/MapKinds.h"
#include "run/JobRecord.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestMapServer.h"
#include "tools/MapHttpServer.h"
#include "ui/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <iostream>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Fault = TestMapServer::Fault;

// The longest wait for a child. Waits run the event loop, so that the test's server
// answers meanwhile.
constexpr int kRunTimeoutMs = 120000;
// The summary of a run of the test's settings whose BMP and three files were written.
const QString kAllWritten =
    QStringLiteral(" Fichero BMP grabado. Calibración para OziExplorer grabada. Calibración para "
                   "CompeGPS grabada. Fichero de georreferencia grabado.");
const QString kNoneWritten = QStringLiteral(
    " Fichero BMP no grabado. Calibración para OziExplorer no grabada. Calibración para "
    "CompeGPS no grabada. Fichero de georreferencia no grabado.");

struct Change {
    const char* section;
    const char* key;
    QString value;
};
using Changes = QList<Change>;

struct Ended {
    int code = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

// The lines of standard output with each stamp replaced by "<stamp>".
QStringList Unstamped(const QString& out) {
    static const QRegularExpression stamp(
        QStringLiteral("\\d\\d/\\d\\d/\\d{4}( \\d\\d:\\d\\d:\\d\\d)?(?=\\. )"));
    QString text = out;
    text.replace(stamp, QStringLiteral("<stamp>"));
    QStringList lines = text.split(u'\n');
    if (lines.value(lines.size() - 1).isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

// What a stopped or killed write could leave behind: answers being received, tiles, the
// BMP and the record being written.
QStringList TemporaryFiles(const QString& folder) {
    QStringList out;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name.endsWith(QLatin1String(".jpg1")) || name.contains(QLatin1String(".jpg.")) ||
            name.contains(QLatin1String(".morvel.")) ||
            (name.contains(QLatin1String(".bmp.")) && !name.endsWith(QLatin1String(".aux.xml")))) {
            out << name;
        }
    }
    return out;
}

class BatchProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(work.isValid());
        ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("mapas")));
    }

    QString folder() const { return work.filePath(QStringLiteral("mapas")); }
    QString inFolder(const QString& name) const { return QDir(folder()).filePath(name); }
    QStringList folderFiles() const {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                        QDir::Name);
    }

    // Orthophoto tiles of 5 km from 585000 / 4730000 into the folder, on the test's
    // server, with the BMP, both calibration files and the world file; then the changes.
    QByteArray Settings(int across, int down, const Changes& changes = {}) const {
        IniFile ini(QStringLiteral("unused.ini"));
        // Loaded, so that a change replaces a key rather than adding it again.
        ini.loadFromBytes({});
        ini.writeInteger("Mosaicos", "Cobertura", 0);
        ini.writeInteger("Mosaicos", "MosaicosAlto", down - 1);
        ini.writeInteger("Mosaicos", "MosaicosAncho", across - 1);
        ini.writeString("Mosaicos", "UTMSupIzqX", QStringLiteral("585000"));
        ini.writeString("Mosaicos", "UTMSupIzqY", QStringLiteral("730000"));
        ini.writeInteger("Mosaicos", "TipoMosaico", 1);
        ini.writeString("Aplicacion", "Carpeta", folder());
        ini.writeString("Aplicacion", "Fichero", QStringLiteral("Prueba"));
        ini.writeFlag("Aplicacion", "GrabarBMP", true);
        ini.writeString("Aplicacion", "Servidor", server.baseUrl());
        ini.writeFlag("Calibracion", "OziExplorer", true);
        ini.writeFlag("Calibracion", "CompeGPS", true);
        ini.writeFlag("Calibracion", "Georreferencia", true);
        for (const Change& change : changes) {
            ini.writeString(change.section, change.key, change.value);
        }
        return ini.contents();
    }
    // Writes the settings as the run's Morvel.ini.
    QString WriteSettings(const QByteArray& text) const {
        const QString path = work.filePath(QStringLiteral("Morvel.ini"));
        WriteAll(path, text);
        return path;
    }

    // The job of Settings(), for the tiles' places on the server.
    DownloadJob Job(int across, int down) const {
        DownloadJob job;
        AreaInputs in;
        in.eastingText = QStringLiteral("585000");
        in.northingText = QStringLiteral("730000");
        in.acrossPosition = across - 1;
        in.downPosition = down - 1;
        in.coveragePosition = 0;
        in.serverBase = server.baseUrl();
        AreaResult r = RecalcArea(job, in);
        EXPECT_TRUE(r.complete());
        return r.job;
    }
    QPair<int, int> TileKey(const DownloadJob& job, int column, int row) const {
        const TileRect b = TileBounds(job, column, row);
        return {b.xmin, b.ymin};
    }
    void setFault(const DownloadJob& job, int column, int row, Fault fault, int attempts = -1) {
        const QPair<int, int> key = TileKey(job, column, row);
        server.setFault(key.first, key.second, fault, attempts);
    }
    // Requests for each tile since `from`, by its (xmin, ymin).
    QHash<QPair<int, int>, int> RequestsByTile(qsizetype from = 0) const {
        QHash<QPair<int, int>, int> out;
        const QStringList all = server.requests();
        for (qsizetype i = from; i < all.size(); ++i) {
            const MapTileQuery q = ParseMapTileQuery(all[i].toLatin1());
            ++out[{q.xminKey, q.yminKey}];
        }
        return out;
    }

    // No display, and nothing between the child and the server on loopback. The
    // sanitizers' options come from the test's own environment.
    static QProcessEnvironment ChildEnvironment() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "http_proxy", "https_proxy",
              "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
            env.remove(QString::fromLatin1(name));
        }
        return env;
    }

    std::unique_ptr<QProcess> Start(const QStringList& args) {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(args);
        process->setWorkingDirectory(work.path());
        process->setProcessEnvironment(ChildEnvironment());
        QSignalSpy started(process.get(), &QProcess::started);
        process->start();
        EXPECT_TRUE(started.count() == 1 || started.wait(kRunTimeoutMs));
        return process;
    }

    Ended Finish(QProcess& process, int timeoutMs = kRunTimeoutMs) {
        QSignalSpy finished(&process, &QProcess::finished);
        if (process.state() != QProcess::NotRunning && !finished.wait(timeoutMs)) {
            ADD_FAILURE() << "the program did not end in " << timeoutMs << " ms";
            process.kill();
            finished.wait(kRunTimeoutMs);
        }
        Ended ended;
        ended.code = process.exitCode();
        ended.status = process.exitStatus();
        ended.out = QString::fromUtf8(process.readAllStandardOutput());
        ended.err = QString::fromUtf8(process.readAllStandardError());
        // Every child runs under the sanitizers of this build.
        EXPECT_FALSE(ended.err.contains(QLatin1String("Sanitizer")) ||
                     ended.err.contains(QLatin1String("runtime error")))
            << ended.err.toStdString();
        return ended;
    }

    Ended Run(const QStringList& args) {
        const std::unique_ptr<QProcess> process = Start(args);
        return Finish(*process);
    }

    TestMapServer server;
    QTemporaryDir work; // the child's current directory
    // Morvel itself; or its window-less entry with the tests' quick fetch limits, where the
    // tiles wait out every retry or a stall.
    QString program = QStringLiteral(MORVEL_EXECUTABLE);
};

TEST_F(BatchProcess, EveryTileAndFileGivesZeroAndTheSettingsStayAsTheyWere) {
    const QByteArray settings = Settings(2, 2);
    const QString ini = WriteSettings(settings);
    // Files of an earlier month are replaced without a question; links in the place of two
    // are replaced too, and what they name is left as it was.
    WriteAll(inFolder(QStringLiteral("Prueba.bmp")), "old");
    WriteAll(inFolder(QStringLiteral("Prueba.map")), "old");
    QTemporaryDir victim;
    for (const QString& name : {QStringLiteral("Prueba.imp"), QStringLiteral("Prueba.bpw")}) {
        WriteAll(victim.filePath(name), "victim's");
        ASSERT_TRUE(QFile::link(victim.filePath(name), inFolder(name)));
    }

    const Ended r = Run({QStringLiteral("--batch")});
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, QString());
    // The estimate first, from nothing measured yet (the test's cache folder is empty).
    EXPECT_EQ(Unstamped(r.out).value(0),
              "Estimación: 4 mosaicos, 160 KB aprox.; tiempo sin medir aún; BMP 1,9 MB");
    EXPECT_EQ(Unstamped(r.out).mid(1),
              (QStringList{
                  "<stamp>. Comienzo de la descarga", "<stamp>. Descargado mosaico A01.jpg",
                  "<stamp>. Descargado mosaico A02.jpg", "<stamp>. Descargado mosaico B01.jpg",
                  "<stamp>. Descargado mosaico B02.jpg", "<stamp>. Fin de la descarga",
                  "<stamp>. Fichero BMP grabado", "<stamp>. Generada calibración para OZiExplorer",
                  "<stamp>. Generada calibración para CompeGPS",
                  "<stamp>. Sustituido el enlace Prueba.imp: lo que nombraba queda como estaba",
                  "<stamp>. Generado fichero de georreferencia",
                  "<stamp>. Sustituido el enlace Prueba.bpw: lo que nombraba queda como estaba",
                  "Resumen: 4 de 4 mosaicos descargados, 0 con fallo." + kAllWritten}));
    // Not a terminal: no progress figure.
    EXPECT_FALSE(r.out.contains(u'\r'));

    EXPECT_EQ(folderFiles(), (QStringList{"A01.jpg", "A02.jpg", "B01.jpg", "B02.jpg", "Prueba.bmp",
                                          "Prueba.bmp.aux.xml", "Prueba.bpw", "Prueba.imp",
                                          "Prueba.map", "Prueba.prj"}));
    // 800 x 800 pixels of three bytes after the two headers.
    EXPECT_EQ(QFileInfo(inFolder(QStringLiteral("Prueba.bmp"))).size(), 54 + 800 * 800 * 3);
    EXPECT_TRUE(ReadAll(inFolder(QStringLiteral("Prueba.map"))).startsWith("OziExplorer"));
    EXPECT_TRUE(ReadAll(inFolder(QStringLiteral("Prueba.imp"))).startsWith("CompeGPS"));
    EXPECT_FALSE(QFileInfo(inFolder(QStringLiteral("Prueba.bpw"))).isSymLink());
    EXPECT_EQ(
        FolderSnapshot(victim.path()),
        (std::map<QString, QByteArray>{{"Prueba.bpw", "victim's"}, {"Prueba.imp", "victim's"}}));
    EXPECT_EQ(ReadAll(ini), settings);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{"Morvel.ini"});
}

// The record stays, and the next run asks only for the tile that failed.
TEST_F(BatchProcess, AFailedTileGivesOneAndTheNextRunGoesOnFromTheRecord) {
    program = QStringLiteral(MORVEL_QUICK_BATCH); // ten attempts in milliseconds, not 26 s
    QTemporaryDir elsewhere;
    const QString ini = QDir(elsewhere.path()).filePath(QStringLiteral("mes.ini"));
    WriteAll(ini, Settings(3, 1));
    const DownloadJob job = Job(3, 1);
    setFault(job, 2, 1, Fault::EmptyBody);

    const Ended failed = Run({QStringLiteral("--batch"), QStringLiteral("--settings"), ini});
    EXPECT_EQ(failed.status, QProcess::NormalExit);
    EXPECT_EQ(failed.code, 1);
    const QStringList lines = Unstamped(failed.out);
    EXPECT_TRUE(lines.contains(
        QStringLiteral("<stamp>. Fallo en la descarga del mosaico A02.jpg: respuesta vacía")))
        << failed.out.toStdString();
    EXPECT_EQ(lines.value(lines.size() - 1),
              "Resumen: 2 de 3 mosaicos descargados, 1 con fallo." + kNoneWritten);
    EXPECT_EQ(folderFiles(), (QStringList{"A01.jpg", "A03.jpg", "Prueba.morvel"}));
    EXPECT_EQ(RequestsByTile().value(TileKey(job, 2, 1)), FetchLimits::kAttempts);

    server.clearFaults();
    const qsizetype before = server.requests().size();
    const Ended resumed = Run({QStringLiteral("--batch"), QStringLiteral("--settings=") + ini});
    EXPECT_EQ(resumed.code, 0) << resumed.err.toStdString();
    EXPECT_EQ(RequestsByTile(before), (QHash<QPair<int, int>, int>{{TileKey(job, 2, 1), 1}}));
    // The estimate from what the first run measured, kept in the cache folder.
    EXPECT_TRUE(Unstamped(resumed.out).value(0).startsWith("Estimación: 3 mosaicos, "));
    EXPECT_FALSE(Unstamped(resumed.out).value(0).contains("sin medir"))
        << resumed.out.toStdString();
    EXPECT_EQ(
        Unstamped(resumed.out).mid(2, 3),
        (QStringList{"<stamp>. Reutilizado mosaico A01.jpg", "<stamp>. Descargado mosaico A02.jpg",
                     "<stamp>. Reutilizado mosaico A03.jpg"}));
    EXPECT_FALSE(QFileInfo::exists(inFolder(QStringLiteral("Prueba.morvel"))));
    EXPECT_TRUE(QFileInfo::exists(inFolder(QStringLiteral("Prueba.bmp"))));
}

struct RefusedCase {
    const char* name;
    bool settingsFile;
    Change change; // "%1" in the value stands for the test's folder
    QStringList args;
    const char* message; // "%1" stands for the test's folder
};
void PrintTo(const RefusedCase& c, std::ostream* out) {
    *out << c.name;
}

class BatchRefused : public BatchProcess, public ::testing::WithParamInterface<RefusedCase> {};

// Status 2: the message on standard error, and nothing written anywhere.
TEST_P(BatchRefused, GivesTwoAndWritesNothing) {
    const RefusedCase& c = GetParam();
    QByteArray settings;
    if (c.settingsFile) {
        settings = Settings(2, 1, {{c.change.section, c.change.key, c.change.value.arg(folder())}});
        WriteSettings(settings);
    }
    const Ended r = Run(c.args);
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QString::fromUtf8(c.message).arg(folder()) + u'\n');
    EXPECT_EQ(r.out, QString());
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(folderFiles().isEmpty()) << folderFiles().join(' ').toStdString();
    const QStringList expected =
        settings.isEmpty() ? QStringList{"mapas"} : QStringList{"Morvel.ini", "mapas"};
    EXPECT_EQ(QDir(work.path())
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              expected);
    if (!settings.isEmpty()) {
        EXPECT_EQ(ReadAll(work.filePath(QStringLiteral("Morvel.ini"))), settings);
    }
}

const QStringList kBatch{QStringLiteral("--batch")};

INSTANTIATE_TEST_SUITE_P(
    Table, BatchRefused,
    ::testing::Values(RefusedCase{"CornerOutOfRange",
                                  true,
                                  {"Mosaicos", "UTMSupIzqX", "700000"},
                                  kBatch,
                                  "Coordenadas UTM X fuera de límites"},
                      RefusedCase{"CornerNoNumber",
                                  true,
                                  {"Mosaicos", "UTMSupIzqY", "73O000"},
                                  kBatch,
                                  "Introduzca coordenadas UTM válidas"},
                      RefusedCase{"BmpName",
                                  true,
                                  {"Aplicacion", "Fichero", "Mapa:mes"},
                                  kBatch,
                                  "El nombre del fichero BMP no puede contener «:»"},
                      // Too long for the folder with what it is to write: refused before
                      // the first tile, not at the BMP after the last.
                      RefusedCase{"NameTooLong",
                                  true,
                                  {"Aplicacion", "Fichero", QString(300, u'a')},
                                  kBatch,
                                  "El nombre del fichero BMP es demasiado largo para la carpeta "
                                  "destino: con los ficheros que se van a grabar, admite hasta "
                                  "234 caracteres"},
                      RefusedCase{"MissingFolder",
                                  true,
                                  {"Aplicacion", "Carpeta", "%1/no/existe"},
                                  kBatch,
                                  "La carpeta destino no existe: %1/no/existe"},
                      RefusedCase{"NoSettingsFile",
                                  false,
                                  {},
                                  kBatch,
                                  "No se puede leer el fichero de configuración Morvel.ini"},
                      // Never read whole: settings are a few hundred bytes.
                      RefusedCase{"SettingsOver1MB",
                                  true,
                                  {"Aplicacion", "Nota", QString(1024 * 1024, u'x') + "%1"},
                                  kBatch,
                                  "No se ha leído el fichero de configuración Morvel.ini: ocupa "
                                  "más de 1 MB"},
                      RefusedCase{
                          "StrayArgument",
                          true,
                          {"Aplicacion", "Fichero", "Prueba"},
                          {"--batch", "--settings", "Morvel.ini", "otro"},
                          "Argumento inesperado: otro\nLas opciones se describen con --help."}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

struct UnwritableCase {
    const char* name;
    const char* blocked; // a folder stands where this file goes
    const char* error;   // the start of standard error; "%1" stands for the test's folder; "":
                         // nothing on standard error
    QString written;     // what the summary says after the tiles
    QStringList files;   // the folder's contents afterwards
    int failed = 0;      // tiles failed
};
void PrintTo(const UnwritableCase& c, std::ostream* out) {
    *out << c.name;
}

class BatchUnwritable : public BatchProcess,
                        public ::testing::WithParamInterface<UnwritableCase> {};

// Status 3: what could be written is, and the record stays for another go.
TEST_P(BatchUnwritable, GivesThree) {
    const UnwritableCase& c = GetParam();
    WriteSettings(Settings(2, 1));
    ASSERT_TRUE(QDir(folder()).mkdir(QString::fromUtf8(c.blocked)));
    const Ended r = Run({QStringLiteral("--batch")});
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, 3);
    if (*c.error) {
        EXPECT_TRUE(r.err.startsWith(QString::fromUtf8(c.error).arg(folder())))
            << r.err.toStdString();
    } else { // a failed tile is told in the log only
        EXPECT_EQ(r.err, QString());
    }
    const QStringList lines = Unstamped(r.out);
    EXPECT_EQ(lines.value(lines.size() - 1),
              QStringLiteral("Resumen: %1 de 2 mosaicos descargados, %2 con fallo.")
                      .arg(2 - c.failed)
                      .arg(c.failed) +
                  c.written);
    EXPECT_EQ(folderFiles(), c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BatchUnwritable,
    ::testing::Values(
        UnwritableCase{"Bmp",
                       "Prueba.bmp",
                       "No se ha podido grabar el fichero BMP %1/Prueba.bmp: ",
                       kNoneWritten,
                       {"A01.jpg", "A02.jpg", "Prueba.bmp", "Prueba.morvel"}},
        UnwritableCase{"CompeGps",
                       "Prueba.imp",
                       "No se ha generado el fichero de calibración de CompeGPS\n",
                       " Fichero BMP grabado. Calibración para OziExplorer grabada. Calibración "
                       "para CompeGPS no grabada. Fichero de georreferencia grabado.",
                       {"A01.jpg", "A02.jpg", "Prueba.bmp", "Prueba.bmp.aux.xml", "Prueba.bpw",
                        "Prueba.imp", "Prueba.map", "Prueba.morvel", "Prueba.prj"}},
        // A folder where a tile goes: the tile cannot be written on our side.
        UnwritableCase{
            "Tile", "A02.jpg", "", kNoneWritten, {"A01.jpg", "A02.jpg", "Prueba.morvel"}, 1}),
    [](const ::testing::TestParamInfo<UnwritableCase>& info) { return info.param.name; });

// A folder that stops taking files while the run goes on (once the first tile is in): what
// fails for one cause is one line on standard error, in Spanish, naming the files; nothing
// of the toolkit's English (the folder's lock it cannot remove) reaches it.
TEST_F(BatchProcess, AFolderThatStopsTakingFilesIsToldInSpanishOncePerCause) {
    std::unique_ptr<ScratchDisk> disk;
    std::unique_ptr<ReadOnlyFolder> readOnly;
    const struct {
        const char* what;
        std::function<bool(QString* folder)> before; // false when this system cannot
        std::function<bool(const QString& folder)> during;
        const char* error; // "%1" is the folder
    } table[] = {
        {"a disk that fills up",
         [&](QString* f) {
             disk = std::make_unique<ScratchDisk>(4 << 20);
             *f = disk->path();
             return disk->active();
         },
         // Room for the last tile, and for nothing as large as the BMP or a SQLite file.
         [&](const QString&) { return disk->fill(24 * 1024); },
         "No se han podido grabar Prueba.bmp, Prueba.gpkg y Prueba.mbtiles en la carpeta %1: "
         "disco lleno\n"},
        {"the permission lost",
         [&](QString* f) {
             *f = folder();
             return true;
         },
         [&](const QString& f) {
             readOnly = std::make_unique<ReadOnlyFolder>(f);
             return readOnly->active();
         },
         "No se pueden grabar los mosaicos en la carpeta %1: sin permiso para escribir en la "
         "carpeta. Se ha detenido la descarga; los mosaicos ya descargados se conservan\n"},
    };
    const DownloadJob job = Job(2, 1);
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        QString where;
        if (!row.before(&where)) {
            std::cout << "skipped: " << row.what << " cannot be made here\n";
            continue;
        }
        WriteSettings(Settings(2, 1,
                               {{"Aplicacion", "Carpeta", where},
                                {"Exportar", "GeoPackage", "SI"},
                                {"Exportar", "MBTiles", "SI"}}));
        server.clearFaults();
        setFault(job, 2, 1, Fault::Held);
        const std::unique_ptr<QProcess> process = Start({QStringLiteral("--batch")});
        QString out;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                out += QString::fromUtf8(process->readAllStandardOutput());
                return out.contains(QLatin1String(". Descargado mosaico A01.jpg"));
            },
            kRunTimeoutMs));
        const bool made = row.during(where);
        server.releaseHeld();
        const Ended r = Finish(*process);
        readOnly.reset();
        disk.reset();
        if (!made) {
            std::cout << "skipped: " << row.what << " cannot be made here\n";
            continue;
        }
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err, QString::fromUtf8(row.error).arg(where));
    }
}

struct InfoCase {
    QStringList args;
    int code;
    QStringList shown;  // texts of standard output (standard error for a status other than 0)
    QStringList absent; // and texts it must not have
};
void PrintTo(const InfoCase& c, std::ostream* out) {
    *out << (c.args.isEmpty() ? "no arguments" : c.args.join(' ').toStdString());
}

class BatchInfo : public BatchProcess, public ::testing::WithParamInterface<InfoCase> {};

// Help, version and wrong arguments need no display, and are in Spanish whatever the
// locale (the tests run under C); the windows still say how to get one.
TEST_P(BatchInfo, WithoutADisplay) {
    const InfoCase& c = GetParam();
    const Ended r = Run(c.args);
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, c.code);
    const QString shown = c.code == 0 ? r.out : r.err;
    for (const QString& text : c.shown) {
        EXPECT_TRUE(shown.contains(text)) << text.toStdString() << " in " << shown.toStdString();
    }
    for (const QString& text : c.absent) {
        EXPECT_FALSE(shown.contains(text)) << text.toStdString() << " in " << shown.toStdString();
    }
}

const QStringList kEnglish{"Usage", "Options:", "Displays", "Unknown", "display was found"};

INSTANTIATE_TEST_SUITE_P(
    Table, BatchInfo,
    ::testing::Values(
        InfoCase{{"--version"}, 0, {"Morvel 1.0.4\n"}, {}},
        InfoCase{{"-v"}, 0, {"Morvel 1.0.4\n"}, {}},
        InfoCase{{"--help"},
                 0,
                 {"Uso: ", "Opciones:", "--batch", "--settings <FICHERO>", "--version",
                  "Muestra esta ayuda sobre las opciones.", "Muestra la información de versión.",
                  "Estado de salida de --batch", "  3    no se pudo grabar algún fichero"},
                 kEnglish},
        InfoCase{{"-h", "--settings", "otro.ini"}, 0, {"--batch"}, kEnglish},
        InfoCase{{"--help-all"},
                 0,
                 {"--batch", "-qmljsdebugger", "Muestra la ayuda con las opciones propias de Qt."},
                 {}},
        InfoCase{{"--bogus"},
                 2,
                 {"Opción desconocida «bogus».", "Las opciones se describen con --help."},
                 kEnglish},
        InfoCase{{"--batch", "--settings"}, 2, {"Falta valor tras «--settings»."}, kEnglish},
        InfoCase{{},
                 1,
                 {"no se ha encontrado ninguna pantalla", "xvfb-run -a -s '-screen 0 1280x900x24'"},
                 kEnglish}));

struct StopCase {
    int signal;
    int code;
    const char* name;
};
void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.name;
}

class BatchStopped : public BatchProcess, public ::testing::WithParamInterface<StopCase> {};

// Stopped while tiles arrive: transfers abandoned, nothing half-written, the record kept.
TEST_P(BatchStopped, LeavesNoTemporaryFileAndKeepsTheRecord) {
    const StopCase& c = GetParam();
    WriteSettings(Settings(3, 3, {{"Aplicacion", "Conexiones", "2"}}));
    server.setFaultForAll(Fault::Slow);
    server.setSlowPace(40, 50); // two seconds a tile
    const std::unique_ptr<QProcess> process = Start({QStringLiteral("--batch")});
    QString out;
    QObject::connect(process.get(), &QProcess::readyReadStandardOutput, process.get(),
                     [&] { out += QString::fromUtf8(process->readAllStandardOutput()); });
    // A tile done, and answers being received.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return out.contains(QLatin1String("Descargado mosaico")) &&
                   !QDir(folder()).entryList({QStringLiteral("*.jpg.*")}).isEmpty();
        },
        kRunTimeoutMs));
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), c.signal), 0);
    Ended r = Finish(*process);
    r.out = out + r.out;
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, c.code);
    const QStringList lines = Unstamped(r.out);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2],
              QStringLiteral("<stamp>. Descarga detenida por la señal ") + c.name);
    EXPECT_TRUE(lines.last().contains(QLatin1String("sin descargar")))
        << lines.last().toStdString();
    EXPECT_EQ(TemporaryFiles(folder()), QStringList());
    const std::optional<JobRecord> record =
        LoadJobRecord(inFolder(QStringLiteral("Prueba.morvel")));
    ASSERT_TRUE(record);
    EXPECT_GE(record->count(TileState::Fetched), 1);
    EXPECT_EQ(record->count(TileState::Failed), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, BatchStopped,
                         ::testing::Values(StopCase{SIGINT, 130, "SIGINT"},
                                           StopCase{SIGTERM, 143, "SIGTERM"}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                             return std::string(info.param.name);
                         });

// Killed halfway, the run leaves its record; the next run asks only for what the record
// does not have, and ends with the BMP an uninterrupted run makes.
TEST_F(BatchProcess, AKilledRunIsResumedToTheSameBmp) {
    QTemporaryDir whole;
    WriteSettings(Settings(3, 2, {{"Aplicacion", "Carpeta", whole.path()}}));
    ASSERT_EQ(Run({QStringLiteral("--batch")}).code, 0);
    const QByteArray uninterrupted = ReadAll(QDir(whole.path()).filePath("Prueba.bmp"));
    ASSERT_FALSE(uninterrupted.isEmpty());

    WriteSettings(Settings(3, 2, {{"Aplicacion", "Conexiones", "1"}}));
    server.setFaultForAll(Fault::Slow);
    server.setSlowPace(10, 60);
    const std::unique_ptr<QProcess> process = Start({QStringLiteral("--batch")});
    const QString recordPath = inFolder(QStringLiteral("Prueba.morvel"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<JobRecord> r = LoadJobRecord(recordPath);
            return r && r->count(TileState::Fetched) >= 2;
        },
        kRunTimeoutMs));
    process->kill();
    EXPECT_EQ(Finish(*process).status, QProcess::CrashExit);
    const std::optional<JobRecord> record = LoadJobRecord(recordPath);
    ASSERT_TRUE(record);
    ASSERT_LT(record->count(TileState::Fetched), 6);

    server.clearFaults();
    const qsizetype before = server.requests().size();
    const Ended resumed = Run({QStringLiteral("--batch")});
    EXPECT_EQ(resumed.code, 0) << resumed.err.toStdString();
    const DownloadJob job = Job(3, 2);
    QHash<QPair<int, int>, int> missing;
    int taken = 0;
    for (int row = 1; row <= 2; ++row) {
        for (int column = 1; column <= 3; ++column) {
            if (record->state(column, row) == TileState::Fetched) {
                ++taken;
            } else {
                missing.insert(TileKey(job, column, row), 1);
            }
        }
    }
    EXPECT_EQ(RequestsByTile(before), missing);
    EXPECT_EQ(resumed.out.count(QLatin1String(". Reutilizado mosaico ")), taken);
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Prueba.bmp"))), uninterrupted);
    EXPECT_FALSE(QFileInfo::exists(recordPath));
}

// Every way the test server can misbehave, in one 3 x 3 run with three transfers at once:
// every tile comes after its failing answers, those that are no tile (an error page, a
// picture cut short, an empty answer) included. The stalled answer costs the quick limits'
// 5 s without progress (the program's own are 30 s).
TEST_F(BatchProcess, EveryServerFaultInOneRunIsAskedAgainUntilTheTileComes) {
    program = QStringLiteral(MORVEL_QUICK_BATCH);
    WriteSettings(Settings(3, 3, {{"Aplicacion", "Conexiones", "3"}}));
    const DownloadJob job = Job(3, 3);
    // The answers each tile gets, one request after the other; then its tile.
    const QList<Fault> redirectLoop(6, Fault::Redirect); // one redirect beyond the limit
    QHash<QPair<int, int>, QList<Fault>> answers{
        {TileKey(job, 1, 1), {Fault::Stall}},
        {TileKey(job, 2, 1), {Fault::Http500, Fault::Http404, Fault::Reset}},
        {TileKey(job, 3, 1), {Fault::HtmlPage}},
        {TileKey(job, 1, 2), redirectLoop + QList<Fault>{Fault::Busy429, Fault::Busy503}},
        {TileKey(job, 2, 2), {Fault::TruncatedJpeg}},
        {TileKey(job, 3, 2),
         {Fault::SmallJpeg, Fault::LargeJpeg, Fault::HugeHeaderJpeg, Fault::GreyJpeg}},
        {TileKey(job, 1, 3), {Fault::ManyScans}},
        {TileKey(job, 2, 3), {Fault::Oversized, Fault::Slow}},
        {TileKey(job, 3, 3), {Fault::EmptyBody}},
    };
    // Beyond the fetcher's 16 MiB, so that the answer is cut and asked for again.
    server.setOversizedBytes(17 * 1024 * 1024);
    // The server sees each request before it answers it.
    QObject scope;
    QObject::connect(&server, &TestMapServer::requestArrived, &scope,
                     [this, &answers](const QString& target) {
                         const MapTileQuery q = ParseMapTileQuery(target.toLatin1());
                         QList<Fault>& left = answers[{q.xminKey, q.yminKey}];
                         if (!left.isEmpty()) {
                             server.setFault(q.xminKey, q.yminKey, left.takeFirst(), 1);
                         }
                     });

    const Ended r = Run({QStringLiteral("--batch")});
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, 0);
    const QStringList lines = Unstamped(r.out);
    QStringList fetched;
    for (const char* name : {"A01", "A02", "A03", "B01", "B02", "B03", "C01", "C02", "C03"}) {
        fetched << QStringLiteral("<stamp>. Descargado mosaico %1.jpg").arg(name);
    }
    EXPECT_EQ(lines.filter(QStringLiteral(". Descargado mosaico ")), fetched);
    EXPECT_EQ(lines.value(lines.size() - 1),
              "Resumen: 9 de 9 mosaicos descargados, 0 con fallo." + kAllWritten);
    // Each answer was used up: the faults were asked for again until the tile came.
    for (auto it = answers.cbegin(); it != answers.cend(); ++it) {
        EXPECT_TRUE(it->isEmpty()) << it.key().first << ' ' << it.key().second;
    }
    const QHash<QPair<int, int>, int> requests = RequestsByTile();
    EXPECT_EQ(requests.value(TileKey(job, 1, 1)), 2);
    EXPECT_EQ(requests.value(TileKey(job, 2, 1)), 4);
    EXPECT_EQ(requests.value(TileKey(job, 3, 1)), 2);
    EXPECT_EQ(requests.value(TileKey(job, 1, 2)), 9);
    EXPECT_EQ(requests.value(TileKey(job, 2, 2)), 2);
    EXPECT_EQ(requests.value(TileKey(job, 3, 2)), 4);
    EXPECT_EQ(requests.value(TileKey(job, 1, 3)), 2);
    EXPECT_EQ(requests.value(TileKey(job, 2, 3)), 2);
    EXPECT_EQ(requests.value(TileKey(job, 3, 3)), 2);
    EXPECT_FALSE(QFileInfo::exists(inFolder(QStringLiteral("Prueba.morvel"))));
    EXPECT_EQ(TemporaryFiles(folder()), QStringList());
}

// On a terminal the figure stands below the log, is cleared before each line and drawn
// again after it, and goes before the summary.
TEST_F(BatchProcess, OnATerminalAProgressFigureFollowsTheLog) {
    WriteSettings(Settings(2, 1));
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const int screen = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(screen, 0);
    // Raw, so that the line ends reach the test as the program wrote them.
    termios mode{};
    ::tcgetattr(screen, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(screen, TCSANOW, &mode);

    auto process = std::make_unique<QProcess>();
    process->setProgram(QStringLiteral(MORVEL_EXECUTABLE));
    process->setArguments({QStringLiteral("--batch")});
    process->setWorkingDirectory(work.path());
    process->setProcessEnvironment(ChildEnvironment());
    process->setChildProcessModifier([screen] { ::dup2(screen, STDOUT_FILENO); });
    process->start();
    const Ended r = Finish(*process);
    ::close(screen);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();

    QByteArray shown;
    ::fcntl(terminal, F_SETFL, ::fcntl(terminal, F_GETFL) | O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
        shown.append(buffer, n);
    }
    ::close(terminal);
    const QString figure1 = QStringLiteral("\r  1/2");
    const QString figure2 = QStringLiteral("\r  2/2");
    const QString clear = QStringLiteral("\r     \r");
    EXPECT_EQ(Unstamped(QString::fromUtf8(shown)).join(u'\n') + u'\n',
              "Estimación: 2 mosaicos, 80 KB aprox.; tiempo sin medir aún; BMP 960 KB\n"
              "<stamp>. Comienzo de la descarga\n\r  0/2" +
                  figure1 + clear + "<stamp>. Descargado mosaico A01.jpg\n" + figure1 + figure2 +
                  clear + "<stamp>. Descargado mosaico A02.jpg\n" + figure2 + clear +
                  "<stamp>. Fin de la descarga\n" + figure2 + clear +
                  "<stamp>. Fichero BMP grabado\n" + figure2 + clear +
                  "<stamp>. Generada calibración para OZiExplorer\n" + figure2 + clear +
                  "<stamp>. Generada calibración para CompeGPS\n" + figure2 + clear +
                  "<stamp>. Generado fichero de georreferencia\n" + figure2 + clear +
                  "Resumen: 2 de 2 mosaicos descargados, 0 con fallo." + kAllWritten + u'\n');
}

// Two areas in one folder: "Norte" is killed halfway, "Sur" runs there and keeps its tiles
// (named as Norte's), and Norte goes on to the BMP an uninterrupted run makes.
TEST_F(BatchProcess, TwoAreasInOneFolderResumeToTheirOwnBmp) {
    const Change norte{"Aplicacion", "Fichero", "Norte"};
    QTemporaryDir whole;
    WriteSettings(Settings(3, 2, {norte, {"Aplicacion", "Carpeta", whole.path()}}));
    ASSERT_EQ(Run({QStringLiteral("--batch")}).code, 0);
    const QByteArray uninterrupted = ReadAll(QDir(whole.path()).filePath("Norte.bmp"));
    ASSERT_FALSE(uninterrupted.isEmpty());

    WriteSettings(Settings(3, 2, {norte, {"Aplicacion", "Conexiones", "1"}}));
    server.setFaultForAll(Fault::Slow);
    server.setSlowPace(10, 60);
    const std::unique_ptr<QProcess> process = Start({QStringLiteral("--batch")});
    const QString recordPath = inFolder(QStringLiteral("Norte.morvel"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<JobRecord> r = LoadJobRecord(recordPath);
            return r && r->vouched() >= 2;
        },
        kRunTimeoutMs));
    process->kill();
    Finish(*process);
    server.clearFaults();

    WriteSettings(
        Settings(3, 2, {{"Aplicacion", "Fichero", "Sur"}, {"Mosaicos", "UTMSupIzqX", "605000"}}));
    ASSERT_EQ(Run({QStringLiteral("--batch")}).code, 0);

    WriteSettings(Settings(3, 2, {norte}));
    const qsizetype before = server.requests().size();
    const Ended resumed = Run({QStringLiteral("--batch")});
    EXPECT_EQ(resumed.code, 0) << resumed.err.toStdString();
    EXPECT_EQ(server.requests().size() - before, 6);
    EXPECT_FALSE(resumed.out.contains(QLatin1String("Reutilizado")));
    EXPECT_TRUE(resumed.out.contains(
        QLatin1String(". Mosaico A01.jpg no reutilizado: el fichero ha cambiado")));
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Norte.bmp"))), uninterrupted);
}

struct HostileCase {
    const char* name;
    const char* file; // the tile recorded as done, or the record
    enum { ZeroDevice, Pipe, LinkOutside } kind;
    const char* logged; // the line that says what was not taken
};
void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name;
}

class BatchHostileFile : public BatchProcess, public ::testing::WithParamInterface<HostileCase> {
protected:
    // Finish(), no longer than `timeoutMs`, killing the child should its resident memory
    // pass `maxBytes` meanwhile.
    Ended FinishWithin(QProcess& process, int timeoutMs, qint64 maxBytes) {
        const QString status = QStringLiteral("/proc/%1/status").arg(process.processId());
        qint64 peak = 0;
        QTimer watch;
        watch.callOnTimeout([&] {
            const QByteArray text = ReadAll(status);
            const qsizetype at = text.indexOf("VmRSS:");
            if (at >= 0) {
                const qint64 kb = text.mid(at + 6).trimmed().split(' ').value(0).toLongLong();
                peak = std::max(peak, kb * 1024);
            }
            if (peak > maxBytes) {
                process.kill();
            }
        });
        watch.start(20);
        const Ended r = Finish(process, timeoutMs);
        EXPECT_LE(peak, maxBytes);
        return r;
    }
};

// A tile the record vouches for, or the record itself, made a link to a device that never
// ends, a pipe nobody writes, or a link to a picture outside the folder: the run reads none
// of them, ends in a bounded time without growing, and makes the BMP a clean run makes.
TEST_P(BatchHostileFile, IsNotReadAndTheRunEndsWithTheRightBmp) {
    const HostileCase& c = GetParam();
    QTemporaryDir whole;
    WriteSettings(Settings(2, 2, {{"Aplicacion", "Carpeta", whole.path()}}));
    ASSERT_EQ(Run({QStringLiteral("--batch")}).code, 0);
    const QDir clean(whole.path());
    const QByteArray uninterrupted = ReadAll(clean.filePath("Prueba.bmp"));

    // The folder of a run that had every tile and was stopped before its BMP.
    JobRecord record = JobRecord::ForJob(Job(2, 2));
    for (const char* tile : {"A01", "A02", "B01", "B02"}) {
        const QString name = QString::fromLatin1(tile) + ".jpg";
        ASSERT_TRUE(QFile::copy(clean.filePath(name), inFolder(name)));
        record.setFetched(name.mid(1, 2).toInt(), tile[0] - 'A' + 1,
                          TileStamp::Of(ReadAll(clean.filePath(name))));
    }
    const QString recordPath = inFolder(QStringLiteral("Prueba.morvel"));
    ASSERT_TRUE(SaveJobRecord(recordPath, record));
    ASSERT_TRUE(QFile::copy(recordPath, clean.filePath("Prueba.morvel")));

    const QString target = inFolder(QString::fromLatin1(c.file));
    const bool isRecord = target == recordPath;
    ASSERT_TRUE(QFile::remove(target));
    switch (c.kind) {
    case HostileCase::ZeroDevice:
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), target));
        break;
    case HostileCase::Pipe:
        ASSERT_EQ(::mkfifo(QFile::encodeName(target).constData(), 0644), 0);
        break;
    case HostileCase::LinkOutside: // a tile of the grid, or the very record
        ASSERT_TRUE(QFile::link(clean.filePath(isRecord ? "Prueba.morvel" : "B02.jpg"), target));
        break;
    }
    WriteSettings(Settings(2, 2));
    const qsizetype before = server.requests().size();
    const std::unique_ptr<QProcess> process = Start({QStringLiteral("--batch")});
    const Ended r = FinishWithin(*process, 60000, 1024LL * 1024 * 1024);
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.logged))) << r.out.toStdString();
    EXPECT_EQ(server.requests().size() - before, isRecord ? 4 : 1);
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Prueba.bmp"))), uninterrupted);
    EXPECT_EQ(TemporaryFiles(folder()), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Table, BatchHostileFile,
    ::testing::Values(
        HostileCase{"TileLinkedToDevZero", "A01.jpg", HostileCase::ZeroDevice,
                    ". Mosaico A01.jpg no reutilizado: el fichero es un enlace"},
        HostileCase{"TileAPipe", "A01.jpg", HostileCase::Pipe,
                    ". Mosaico A01.jpg no reutilizado: no es un fichero normal"},
        HostileCase{"TileLinkedOutside", "A01.jpg", HostileCase::LinkOutside,
                    ". Mosaico A01.jpg no reutilizado: el fichero es un enlace"},
        HostileCase{"RecordLinkedToDevZero", "Prueba.morvel", HostileCase::ZeroDevice,
                    ". Registro de la descarga anterior no leído: el fichero es un enlace"},
        HostileCase{"RecordAPipe", "Prueba.morvel", HostileCase::Pipe,
                    ". Registro de la descarga anterior no leído: no es un fichero normal"},
        HostileCase{"RecordLinkedOutside", "Prueba.morvel", HostileCase::LinkOutside,
                    ". Registro de la descarga anterior no leído: el fichero es un enlace"}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// Two runs of one job at once: the second is refused at once with status 2 and a message,
// and the first makes its BMP undisturbed.
TEST_F(BatchProcess, ASecondRunInTheSameFolderIsRefused) {
    QTemporaryDir whole;
    WriteSettings(Settings(2, 1, {{"Aplicacion", "Carpeta", whole.path()}}));
    ASSERT_EQ(Run({QStringLiteral("--batch")}).code, 0);
    const QByteArray uninterrupted = ReadAll(QDir(whole.path()).filePath("Prueba.bmp"));

    WriteSettings(Settings(2, 1));
    server.setFaultForAll(Fault::Slow);
    server.setSlowPace(10, 500); // five seconds a tile
    const std::unique_ptr<QProcess> first = Start({QStringLiteral("--batch")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->canReadLine(); }, kRunTimeoutMs));
    const Ended second = Run({QStringLiteral("--batch")});
    ASSERT_EQ(first->state(), QProcess::Running) << "the first run ended too soon to tell";
    EXPECT_EQ(second.code, 2);
    EXPECT_EQ(second.err, QStringLiteral("Otra descarga está en curso en la carpeta %1 (proceso "
                                         "%2). Espere a que termine o elija otra carpeta\n")
                              .arg(folder())
                              .arg(first->processId()));
    EXPECT_TRUE(Unstamped(second.out).value(0).startsWith("Estimación: 2 mosaicos, "));
    EXPECT_EQ(Unstamped(second.out).size(), 1);
    const Ended r = Finish(*first);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Prueba.bmp"))), uninterrupted);
    EXPECT_EQ(folderFiles(), (QStringList{"A01.jpg", "A02.jpg", "Prueba.bmp", "Prueba.bmp.aux.xml",
                                          "Prueba.bpw", "Prueba.imp", "Prueba.map", "Prueba.prj"}));
}

// The exports honour the same keys as the window and need no BMP; the summary names each
// one asked for. A folder where one goes is status 3 with the reason on standard error, and
// the next run, from the record, writes it. The PDF is drawn without a display, at the
// scale and on the paper of [Imprimir].
TEST_F(BatchProcess, ExportsAreNamedInTheSummaryAndAFailedOneGivesThree) {
    WriteSettings(Settings(2, 1,
                           {{"Aplicacion", "GrabarBMP", "NO"},
                            {"Exportar", "GeoTIFF", "SI"},
                            {"Exportar", "GeoPackage", "SI"},
                            {"Exportar", "KMZ", "NO"},
                            {"Exportar", "PDF", "SI"},
                            {"Imprimir", "Escala", "50000"},
                            {"Imprimir", "Papel", "A3"}}));
    ASSERT_TRUE(QDir(folder()).mkdir(QStringLiteral("Prueba.gpkg")));
    const Ended failed = Run({QStringLiteral("--batch")});
    EXPECT_EQ(failed.code, 3);
    EXPECT_TRUE(failed.err.startsWith(
        QStringLiteral("No se ha podido exportar %1/Prueba.gpkg: ").arg(folder())))
        << failed.err.toStdString();
    QStringList lines = Unstamped(failed.out);
    EXPECT_EQ(lines.value(lines.size() - 1),
              QStringLiteral("Resumen: 2 de 2 mosaicos descargados, 0 con fallo. Fichero GeoTIFF "
                             "grabado. Fichero GeoPackage no grabado. Fichero PDF para imprimir "
                             "grabado."));
    EXPECT_TRUE(lines.contains("<stamp>. Exportado Prueba.tif (GeoTIFF, ED50 / UTM 30N)"));
    EXPECT_EQ(lines
                  .filter(QRegularExpression("^<stamp>. Exportado Prueba.pdf \\(PDF para "
                                             "imprimir, 1 hoja A3 a 1:50.000, ETRS89 / UTM 30N "
                                             "con ED50 to ETRS89 .*\\)$"))
                  .size(),
              1)
        << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.contains("<stamp>. Calibración no generada: no se grabó el fichero BMP"));

    ASSERT_TRUE(QDir(folder()).rmdir(QStringLiteral("Prueba.gpkg")));
    const Ended again = Run({QStringLiteral("--batch")});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    lines = Unstamped(again.out);
    EXPECT_EQ(lines.value(lines.size() - 1),
              QStringLiteral("Resumen: 2 de 2 mosaicos descargados, 0 con fallo. Fichero GeoTIFF "
                             "grabado. Fichero GeoPackage grabado. Fichero PDF para imprimir "
                             "grabado."));
    EXPECT_EQ(lines.filter("Reutilizado mosaico").size(), 2);
    EXPECT_EQ(folderFiles(),
              (QStringList{"A01.jpg", "A02.jpg", "Prueba.gpkg", "Prueba.pdf", "Prueba.tif"}));
}

// Killed while its MBTiles is being written, a run leaves the export's temporary file behind;
// the next run in the folder removes it before it writes anything, and once it is over nothing
// of the killed run is left.
TEST_F(BatchProcess, AnExportKilledOnTheWayLeavesNothingOnceTheNextRunIsOver) {
    WriteSettings(
        Settings(3, 3, {{"Aplicacion", "GrabarBMP", "NO"}, {"Exportar", "MBTiles", "SI"}}));
    const auto exporting = [&] {
        return QDir(folder()).entryList({QStringLiteral(".Prueba-*.mbtiles*")},
                                        QDir::Files | QDir::Hidden);
    };
    const std::unique_ptr<QProcess> process = Start({QStringLiteral("--batch")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !exporting().isEmpty(); }, kRunTimeoutMs));
    process->kill();
    EXPECT_EQ(Finish(*process).status, QProcess::CrashExit);
    ASSERT_FALSE(exporting().isEmpty());

    const Ended again = Run({QStringLiteral("--batch")});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(folderFiles(),
              (QStringList{"A01.jpg", "A02.jpg", "A03.jpg", "B01.jpg", "B02.jpg", "B03.jpg",
                           "C01.jpg", "C02.jpg", "C03.jpg", "Prueba.mbtiles"}));
}

// SIGTERM while the new BMP is being synced (strace holds its fdatasync): the summary comes
// before the sync is over and says the BMP was not written; the old BMP and .map stay
// together, and the process ends only once nothing of the new BMP is left.
TEST_F(BatchProcess, ASignalDuringTheBmpSyncLeavesTheFolderAsTheSummarySays) {
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty()) {
        GTEST_SKIP() << "strace is not installed";
    }
    WriteSettings(Settings(2, 1));
    WriteAll(inFolder(QStringLiteral("Prueba.bmp")), "older bmp");
    WriteAll(inFolder(QStringLiteral("Prueba.map")), "older map");
    const QString trace = work.filePath(QStringLiteral("trace.txt"));
    // Each thread's first fdatasync waits four seconds: the folder lock's at the start, and
    // the BMP's on the thread that writes it.
    auto process = std::make_unique<QProcess>();
    process->setProgram(strace);
    process->setArguments({"-f", "-qq", "-o", trace, "-e", "trace=fdatasync,linkat,rename", "-e",
                           "inject=fdatasync:delay_enter=4000000:when=1",
                           QStringLiteral(MORVEL_EXECUTABLE), "--batch"});
    process->setWorkingDirectory(work.path());
    QProcessEnvironment env = ChildEnvironment();
    // LeakSanitizer's own tracing cannot work under strace's.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    process->setProcessEnvironment(env);
    process->start();
    ASSERT_TRUE(process->waitForStarted());
    QString out;
    QObject::connect(process.get(), &QProcess::readyReadStandardOutput, process.get(),
                     [&] { out += QString::fromUtf8(process->readAllStandardOutput()); });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return out.contains(QLatin1String(". Fin de la descarga")) &&
                   ReadAll(trace).count("fdatasync(") == 2;
        },
        kRunTimeoutMs))
        << out.toStdString();
    // The program is the first process of the trace.
    const pid_t program = ReadAll(trace).split(' ').value(0).toInt();
    ASSERT_GT(program, 0);
    ASSERT_EQ(::kill(program, SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return out.contains(QLatin1String("Resumen:")); }, 60000));
    // Shown before the sync was over: only the lock's delayed sync has returned.
    EXPECT_EQ(ReadAll(trace).count("(DELAYED)"), 1);
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Prueba.bmp"))), "older bmp");

    Ended r = Finish(*process);
    r.out = out + r.out;
    EXPECT_EQ(r.code, 143);
    const QStringList lines = Unstamped(r.out);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2],
              QStringLiteral("<stamp>. Descarga detenida por la señal SIGTERM"));
    EXPECT_EQ(lines.last(), "Resumen: 2 de 2 mosaicos descargados, 0 con fallo." + kNoneWritten);
    // The process waited for the sync, and the BMP never went into place.
    const QByteArray traced = ReadAll(trace);
    EXPECT_EQ(traced.count("(DELAYED)"), 2);
    EXPECT_FALSE(traced.contains("Prueba.bmp\"")) << traced.constData();
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Prueba.bmp"))), "older bmp");
    EXPECT_EQ(ReadAll(inFolder(QStringLiteral("Prueba.map"))), "older map");
    EXPECT_EQ(folderFiles(),
              (QStringList{"A01.jpg", "A02.jpg", "Prueba.bmp", "Prueba.map", "Prueba.morvel"}));
}

} // namespace
