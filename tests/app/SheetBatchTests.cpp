// `Morvel --batch` on a set of sheets, as a user or cron starts it: the program built in
// this tree without a display, against a map server on 127.0.0.1 that the test runs
// meanwhile. A track's sheets run to the end with every sheet's files and an index GDAL
// reads; a second run fetches nothing; a run killed in the middle of a sheet resumes to
// the very BMPs of one never killed; and a set too large or keys that mean nothing are
// refused before anything is asked for.
#include "run/FolderLock.h"
#include "run/SheetSetRecord.h"
#include "tests/support/LongTracks.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestMapServer.h"
#include "tools/MapHttpServer.h"
#include "ui/IniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>

#include <signal.h>
#include <sys/resource.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr int kTimeoutMs = 180000;

struct Key {
    const char* key;
    QString value;
};

struct Exit {
    int code = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QStringList out; // lines, without the stamps' date and time
    QString err;
};

// A straight track along the parallel 42.75° N from 1.92° W to 1.62° W, some 24.5 km:
// with 1000 m tiles and 300 m of margin it spans 26 tiles across and one or two down,
// three sheets or six.
QByteArray TrackGpx() {
    QByteArray gpx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<gpx version=\"1.1\" creator=\"Morvel tests\" "
                     "xmlns=\"http://www.topografix.com/GPX/1/1\">\n<trk><name>Recta</name>"
                     "<trkseg>\n";
    for (int i = 0; i <= 6; ++i) {
        gpx += QStringLiteral("<trkpt lat=\"42.750000\" lon=\"%1\"/>\n")
                   .arg(-1.92 + 0.05 * i, 0, 'f', 6)
                   .toUtf8();
    }
    return gpx + "</trkseg></trk>\n</gpx>\n";
}

class SheetBatch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(work.isValid());
        ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("mapas")));
        ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("rutas")));
        WriteAll(work.filePath(QStringLiteral("rutas/recta.gpx")), TrackGpx());
    }

    // Orthophoto tiles of 1000 m named "Ruta", with the BMP, the OziExplorer file and the
    // world file, into `folder` (the test's when empty); then the keys given.
    void WriteSettings(const QList<Key>& keys, const QString& folder = {},
                       int connections = 2) const {
        IniFile ini(QStringLiteral("unused.ini"));
        ini.loadFromBytes({});
        ini.writeInteger("Mosaicos", "Cobertura", 1);
        ini.writeInteger("Mosaicos", "TipoMosaico", 1);
        ini.writeString("Mosaicos", "UTMSupIzqX", QStringLiteral("585000"));
        ini.writeString("Mosaicos", "UTMSupIzqY", QStringLiteral("730000"));
        ini.writeString("Aplicacion", "Carpeta", folder.isEmpty() ? mapas() : folder);
        ini.writeString("Aplicacion", "Fichero", QStringLiteral("Ruta"));
        ini.writeFlag("Aplicacion", "GrabarBMP", true);
        ini.writeString("Aplicacion", "Servidor", server.baseUrl());
        ini.writeFlag("Calibracion", "OziExplorer", true);
        ini.writeFlag("Calibracion", "Georreferencia", true);
        ini.writeInteger("Aplicacion", "Conexiones", connections);
        for (const Key& k : keys) {
            ini.writeString("Mosaicos", k.key, k.value);
        }
        WriteAll(work.filePath(QStringLiteral("Morvel.ini")), ini.contents());
    }
    QString mapas() const { return work.filePath(QStringLiteral("mapas")); }
    QString inMapas(const QString& name) const { return QDir(mapas()).filePath(name); }

    // `inChild` runs in the child before the program starts (to set its limits).
    std::unique_ptr<QProcess> Start(const std::function<void()>& inChild = {}) {
        auto process = std::make_unique<QProcess>();
        if (inChild) {
            process->setChildProcessModifier(inChild);
        }
        process->setProgram(QStringLiteral(MORVEL_EXECUTABLE));
        process->setArguments({QStringLiteral("--batch")});
        process->setWorkingDirectory(work.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("http_proxy"));
        process->setProcessEnvironment(env);
        process->start();
        EXPECT_TRUE(process->waitForStarted(kTimeoutMs));
        return process;
    }
    Exit Finish(QProcess& process) {
        QSignalSpy finished(&process, &QProcess::finished);
        if (process.state() != QProcess::NotRunning && !finished.wait(kTimeoutMs)) {
            ADD_FAILURE() << "the program did not end";
            process.kill();
            finished.wait(kTimeoutMs);
        }
        Exit e;
        e.code = process.exitCode();
        e.status = process.exitStatus();
        // At midnight sharp a line's stamp is the date alone.
        static const QRegularExpression stamp(
            QStringLiteral("^\\d\\d/\\d\\d/\\d{4}( \\d\\d:\\d\\d:\\d\\d)?(?=\\. )"));
        for (QString line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
            if (!line.isEmpty()) {
                e.out << line.remove(stamp);
            }
        }
        e.err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_FALSE(e.err.contains(QLatin1String("Sanitizer")) ||
                     e.err.contains(QLatin1String("runtime error")))
            << e.err.toStdString();
        return e;
    }
    Exit Run() {
        const std::unique_ptr<QProcess> process = Start();
        return Finish(*process);
    }

    // The tiles asked for since `from`, by their (xmin, ymin), each once.
    std::set<std::pair<int, int>> Asked(qsizetype from = 0) const {
        std::set<std::pair<int, int>> out;
        const QStringList all = server.requests();
        for (qsizetype i = from; i < all.size(); ++i) {
            const MapTileQuery q = ParseMapTileQuery(all[i].toLatin1());
            out.insert({q.xminKey, q.yminKey});
        }
        return out;
    }
    static std::set<std::pair<int, int>> TilesOf(const Sheet& s) {
        std::set<std::pair<int, int>> out;
        for (int row = 0; row < s.down; ++row) {
            for (int column = 0; column < s.across; ++column) {
                out.insert({s.easting + column * s.tileSize,
                            s.northing - kNorthingOffset - (row + 1) * s.tileSize});
            }
        }
        return out;
    }

    // ogrinfo's summary of a file, and its exit code.
    static std::pair<int, QString> OgrInfo(const QString& path) {
        QProcess ogr;
        ogr.start(QStringLiteral("ogrinfo"), {"-ro", "-al", path});
        ogr.waitForFinished(kTimeoutMs);
        return {ogr.exitCode(), QString::fromUtf8(ogr.readAllStandardOutput())};
    }

    TestMapServer server;
    QTemporaryDir work;
};

TEST_F(SheetBatch, ATracksSheetsRunToZeroAndASecondRunFetchesNothing) {
    // A relative track is the settings file's folder's.
    WriteSettings({{"Ruta", QStringLiteral("rutas/recta.gpx")}, {"Margen", "300"}});
    const Exit r = Run();
    EXPECT_EQ(r.status, QProcess::NormalExit);
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.out.join('\n').toStdString();
    EXPECT_EQ(r.err, QString());

    const std::optional<SheetSetRecord> record = LoadSheetSetRecord(inMapas("Ruta.morvel"));
    ASSERT_TRUE(record);
    const int count = static_cast<int>(record->sheets.size());
    ASSERT_TRUE(count == 3 || count == 6) << count;
    EXPECT_EQ(record->finishedCount(), count);
    EXPECT_EQ(record->sourceKind, SheetSource::Kind::Track);
    EXPECT_EQ(record->trackPath,
              QDir::toNativeSeparators(work.filePath(QStringLiteral("rutas/recta.gpx"))));
    int tiles = 0;
    std::set<std::pair<int, int>> every;
    for (const SheetSetRecord::Entry& e : record->sheets) {
        tiles += e.sheet.tiles();
        const std::set<std::pair<int, int>> own = TilesOf(e.sheet);
        every.insert(own.begin(), own.end());
    }
    EXPECT_EQ(Asked(), every);
    EXPECT_EQ(server.requests().size(), tiles);

    // The track's sheets being cut, the estimates before the first request; the summary
    // naming the sheets.
    const QString last = QStringLiteral("Ruta_%1").arg(count, 2, 10, QChar(u'0'));
    EXPECT_EQ(r.out.value(0),
              QStringLiteral("Calculando las hojas de la ruta «recta.gpx» (7 puntos)…"));
    EXPECT_TRUE(r.out.value(1).startsWith(
        QStringLiteral("Estimación: %1 hojas, %2 mosaicos, ").arg(count).arg(tiles)))
        << r.out.value(1).toStdString();
    EXPECT_EQ(
        r.out.value(2),
        QStringLiteral(". Comienzo de la descarga de %1 hojas: Ruta_01 … %2").arg(count).arg(last));
    EXPECT_EQ(r.out.back(), QStringLiteral("Resumen: Hojas: %1 (Ruta_01 … %2), %1 de %1 hojas "
                                           "terminadas; %3 de %3 mosaicos descargados, 0 con "
                                           "fallo. Índice de las hojas grabado. Vista general "
                                           "grabada.")
                                .arg(count)
                                .arg(last)
                                .arg(tiles));

    // Every sheet's files in its folder; the index and the overview beside them.
    for (const SheetSetRecord::Entry& e : record->sheets) {
        const QString name = e.sheet.name;
        QStringList expected;
        for (int row = 0; row < e.sheet.down; ++row) {
            for (int column = 1; column <= e.sheet.across; ++column) {
                expected << QStringLiteral("%1%2.jpg")
                                .arg(QChar(u'A' + row))
                                .arg(column, 2, 10, QChar(u'0'));
            }
        }
        for (const char* ending : {".bmp", ".bmp.aux.xml", ".bpw", ".map", ".prj"}) {
            expected << name + QLatin1String(ending);
        }
        expected.sort();
        EXPECT_EQ(QDir(inMapas(name)).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        EXPECT_TRUE(ReadAll(QDir(inMapas(name)).filePath(name + ".map")).startsWith("OziExplorer"));
    }
    for (const QString& index :
         {QStringLiteral("Ruta_hojas.kml"), QStringLiteral("Ruta_hojas.geojson")}) {
        const auto [code, info] = OgrInfo(inMapas(index));
        EXPECT_EQ(code, 0) << index.toStdString();
        EXPECT_TRUE(info.contains(QStringLiteral("Feature Count: %1").arg(count)))
            << info.toStdString();
        EXPECT_TRUE(info.contains(QStringLiteral("Ruta_02/Ruta_02.bmp"))) << info.toStdString();
        EXPECT_TRUE(info.contains(QStringLiteral("POLYGON"))) << info.toStdString();
    }
    const QImage overview(inMapas(QStringLiteral("Ruta_hojas.png")));
    EXPECT_EQ(std::max(overview.width(), overview.height()), 2000);

    // Again: nothing is asked for, and the folder holds the same.
    const QStringList before =
        QDir(mapas()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    const QByteArray firstBmp = ReadAll(QDir(inMapas("Ruta_01")).filePath("Ruta_01.bmp"));
    const Exit again = Run();
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(server.requests().size(), tiles);
    EXPECT_TRUE(again.out.contains(QStringLiteral(". Hojas ya terminadas: %1 de %1").arg(count)));
    EXPECT_EQ(again.out.back(), r.out.back());
    EXPECT_EQ(
        QDir(mapas()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
        before);
    EXPECT_EQ(ReadAll(QDir(inMapas("Ruta_01")).filePath("Ruta_01.bmp")), firstBmp);
}

// Killed in the middle of the second sheet, the set keeps its record; the next run fetches
// nothing of the first sheet and only what the second lacks, and ends with the BMPs of a
// set never killed, byte for byte.
TEST_F(SheetBatch, AKillInTheSecondSheetResumesToTheSameBmps) {
    // A box of 21 x 2 tiles: sheets of 10, 10 and 1 across.
    const QList<Key> box{{"Hasta", QStringLiteral("606000,728000")}};
    QTemporaryDir whole;
    WriteSettings(box, whole.path());
    ASSERT_EQ(Run().code, 0);
    const qsizetype uninterrupted = server.requests().size();
    ASSERT_EQ(uninterrupted, 42);

    // Only the second sheet's tiles come slowly, so that the kill lands in it without
    // the first sheet's twenty tiles taking as long.
    const std::optional<SheetSetRecord> reference =
        LoadSheetSetRecord(QDir(whole.path()).filePath(QStringLiteral("Ruta.morvel")));
    ASSERT_TRUE(reference);
    ASSERT_EQ(reference->sheets.size(), 3U);
    for (const auto& [xmin, ymin] : TilesOf(reference->sheets[1].sheet)) {
        server.setFault(xmin, ymin, TestMapServer::Fault::Slow);
    }
    WriteSettings(box, {}, 1);
    server.setSlowPace(6, 30);
    const std::unique_ptr<QProcess> process = Start();
    const QString recordPath = inMapas(QStringLiteral("Ruta.morvel"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<SheetSetRecord> r = LoadSheetSetRecord(recordPath);
            return r && r->sheets[0].finished && r->sheets[1].record.vouched() >= 3;
        },
        kTimeoutMs));
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), SIGKILL), 0);
    EXPECT_EQ(Finish(*process).status, QProcess::CrashExit);
    const std::optional<SheetSetRecord> record = LoadSheetSetRecord(recordPath);
    ASSERT_TRUE(record);
    ASSERT_TRUE(record->sheets[0].finished);
    ASSERT_FALSE(record->sheets[1].finished);
    ASSERT_LT(record->sheets[1].record.vouched(), 20);

    server.clearFaults();
    const qsizetype from = server.requests().size();
    const Exit resumed = Run();
    EXPECT_EQ(resumed.code, 0) << resumed.err.toStdString();
    // Nothing of the first sheet, nothing the record vouches for of the second. (The
    // request the kill cut short may still reach the server meanwhile: it is one of those
    // missing, as only a tile that came is recorded.)
    std::set<std::pair<int, int>> missing = TilesOf(record->sheets[2].sheet);
    const Sheet& second = record->sheets[1].sheet;
    for (int row = 1; row <= second.down; ++row) {
        for (int column = 1; column <= second.across; ++column) {
            if (!record->sheets[1].record.vouchesFor(column, row)) {
                missing.insert({second.easting + (column - 1) * second.tileSize,
                                second.northing - kNorthingOffset - row * second.tileSize});
            }
        }
    }
    EXPECT_EQ(Asked(from), missing);
    EXPECT_EQ(resumed.out.filter(QStringLiteral(". Reutilizado mosaico ")).size(),
              record->sheets[1].record.vouched());
    for (const QString& name : QStringList{"Ruta_01", "Ruta_02", "Ruta_03"}) {
        const QString bmp = name + u'/' + name + QStringLiteral(".bmp");
        EXPECT_EQ(ReadAll(inMapas(bmp)), ReadAll(QDir(whole.path()).filePath(bmp)))
            << name.toStdString();
    }
    EXPECT_EQ(LoadSheetSetRecord(recordPath)->finishedCount(), 3);
}

// Status 2, the message on standard error, nothing asked for and nothing written.
TEST_F(SheetBatch, ASetTooLargeOrKeysThatMeanNothingAreRefused) {
    const struct {
        QList<Key> keys;
        const char* message;
    } table[] = {
        // 100 m tiles from 585000 / 4730000 to 690000 / 4640000: 105 x 90 sheets.
        {{{"Cobertura", "4"}, {"Hasta", "690000,640000"}},
         "El recuadro necesita 9.450 hojas de hasta 10 × 10 mosaicos de 100 m; el máximo es 400 "
         "hojas por descarga."},
        {{{"Hasta", "606000"}},
         "El valor «606000» de Hasta en [Mosaicos] no es válido: debe ser X,Y de la esquina "
         "inferior derecha, como UTMSupIzqX y UTMSupIzqY."},
        {{{"Hasta", "606000,728000"}, {"Ruta", "rutas/recta.gpx"}},
         "Hasta y Ruta no pueden ir juntas en [Mosaicos]: las hojas cubren un recuadro o siguen "
         "una ruta."},
        {{{"Hasta", "606000,728000"}, {"Solape", "3"}},
         "El solape debe estar entre 0 y 2 mosaicos."},
        {{{"Ruta", "rutas/recta.gpx"}, {"Margen", "mucho"}},
         "El valor «mucho» de Margen en [Mosaicos] no es válido: debe ser un número de metros."},
        {{{"Ruta", "rutas/falta.gpx"}}, nullptr},
    };
    for (const auto& row : table) {
        WriteSettings(row.keys);
        const Exit r = Run();
        EXPECT_EQ(r.code, 2) << r.err.toStdString();
        if (row.message) {
            EXPECT_EQ(r.err, QString::fromUtf8(row.message) + u'\n');
        } else {
            EXPECT_TRUE(r.err.startsWith(QStringLiteral("No se puede usar la ruta «falta.gpx»")))
                << r.err.toStdString();
        }
        EXPECT_TRUE(r.out.isEmpty()) << r.out.join('\n').toStdString();
    }
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(QDir(mapas()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

// A sheet's folder that is not the set's to write into: a link to a folder of the user's
// stops the set before anything with status 3, the victim's files byte for byte as they
// were (the tile clean-up on); one held by another run stops it with status 1 and the
// cause in the log. Either summary says what is there.
TEST_F(SheetBatch, ASheetFolderNotTheSetsStopsItSayingWhyAndWhatIsThere) {
    // 21 x 2 tiles of 1000 m: Ruta_01, Ruta_02 and Ruta_03.
    const QList<Key> box{{"Hasta", QStringLiteral("606000,728000")}, {"BorrarMosaico", "SI"}};
    QTemporaryDir victim;
    for (const char* file : {"Ruta_01.bmp", "A01.jpg", "Ruta_01.map"}) {
        WriteAll(victim.filePath(QLatin1String(file)), QByteArray("del usuario: ") + file);
    }
    const auto before = FolderSnapshot(victim.path());

    WriteSettings(box);
    ASSERT_TRUE(QFile::link(victim.path(), inMapas("Ruta_01")));
    const Exit linked = Run();
    EXPECT_EQ(linked.code, 3) << linked.err.toStdString();
    EXPECT_EQ(FolderSnapshot(victim.path()), before);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(linked.err.startsWith(QStringLiteral("No se puede usar la carpeta %1: es un enlace")
                                          .arg(QDir::toNativeSeparators(inMapas("Ruta_01")))))
        << linked.err.toStdString();
    EXPECT_TRUE(linked.out.back().endsWith(
        "0 de 3 hojas terminadas; 0 de 42 mosaicos descargados, 0 con fallo, 42 sin descargar. "
        "Sin terminar: Ruta_01, Ruta_02, Ruta_03. Índice de las hojas no grabado. Vista general "
        "no grabada."))
        << linked.out.back().toStdString();
    EXPECT_EQ(QDir(mapas()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"Ruta_01"});

    ASSERT_TRUE(QFile::remove(inMapas("Ruta_01")));
    ASSERT_TRUE(QDir(mapas()).mkdir("Ruta_02"));
    FolderLock other;
    ASSERT_EQ(other.tryLock(inMapas("Ruta_02")), FolderLock::Result::Held);
    const Exit held = Run();
    EXPECT_EQ(held.code, 1) << held.err.toStdString();
    EXPECT_TRUE(held.err.startsWith(QStringLiteral("Otra descarga está en curso en la carpeta")))
        << held.err.toStdString();
    EXPECT_TRUE(held.out.contains(QStringLiteral(". Descarga detenida: otra descarga está en "
                                                 "curso en la carpeta de la hoja Ruta_02 (%1)")
                                      .arg(QDir::toNativeSeparators(inMapas("Ruta_02")))))
        << held.out.join('\n').toStdString();
    EXPECT_TRUE(held.out.back().endsWith("1 de 3 hojas terminadas; 14 de 42 mosaicos descargados, "
                                         "0 con fallo, 28 sin descargar. Sin terminar: Ruta_02, "
                                         "Ruta_03. Índice de las hojas grabado. Vista general "
                                         "grabada."))
        << held.out.back().toStdString();
    EXPECT_TRUE(QFileInfo::exists(inMapas("Ruta_hojas.kml")));
    EXPECT_TRUE(QFileInfo::exists(inMapas("Ruta_hojas.png")));
}

// The set runs at the coverage it was chosen at ("CoberturaHojas"), whatever "Cobertura"
// says; a file without it cuts the set at Cobertura's, other sheets under the same names:
// the record is not gone on with, the user is told, and the sheets start anew.
TEST_F(SheetBatch, ASetRunsAtItsOwnCoverageAndARecordOfOtherSheetsIsNotGoneOn) {
    // Cobertura=1 is 1000 m; the box is 21 x 2 of those, or 5 x 1 of 5000 m.
    const QList<Key> box{{"Hasta", QStringLiteral("606000,728000")}};
    QList<Key> chosen = box;
    chosen << Key{"CoberturaHojas", QStringLiteral("5000")} << Key{"TipoHojas", "1"};
    WriteSettings(chosen);
    const Exit first = Run();
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    EXPECT_EQ(server.requests().size(), 5);
    for (const QString& target : server.requests()) {
        const MapTileQuery q = ParseMapTileQuery(target.toLatin1());
        EXPECT_EQ(q.ymax - q.ymin, 5000.0) << target.toStdString();
    }
    EXPECT_EQ(LoadSheetSetRecord(inMapas("Ruta.morvel"))->sheets.size(), 1u);

    WriteSettings(box);
    const Exit other = Run();
    EXPECT_EQ(other.code, 0) << other.err.toStdString();
    EXPECT_TRUE(other.err.startsWith(
        "El registro Ruta.morvel de la carpeta destino es de otras hojas con el mismo nombre (1 "
        "hoja de mosaicos de 5.000 m de ortofoto), no de las hojas de ahora (3 hojas de mosaicos "
        "de 1.000 m de ortofoto)."))
        << other.err.toStdString();
    EXPECT_TRUE(other.out.contains(
        ". El registro Ruta.morvel es de otras hojas con el mismo nombre (1 hoja de mosaicos de "
        "5.000 m de ortofoto): no se continúa, y las hojas de ahora (3 hojas de mosaicos de "
        "1.000 m de ortofoto) se descargan desde el principio"));
    EXPECT_EQ(server.requests().size(), 5 + 42);
    EXPECT_EQ(QImage(QDir(inMapas("Ruta_01")).filePath("Ruta_01.bmp")).size(), QSize(2800, 800));
    EXPECT_EQ(LoadSheetSetRecord(inMapas("Ruta.morvel"))->finishedCount(), 3);
}

// SIGTERM while a long track's sheets are cut (a zig-zag's cut once held it off for 82 s
// and ended with status 2): the program stops the cut and says so within a second, ends
// with 143, and has asked for nothing.
TEST_F(SheetBatch, SigtermWhileATrackIsCutEndsItWithinASecond) {
    ASSERT_TRUE(WriteNorthAndSouth(work.filePath(QStringLiteral("rutas/idas.gpx")), 300'000));
    WriteSettings({{"Cobertura", QStringLiteral("4")},
                   {"Ruta", QStringLiteral("rutas/idas.gpx")},
                   {"Margen", QStringLiteral("500")}});
    const std::unique_ptr<QProcess> process = Start();
    QByteArray out;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            out += process->readAllStandardOutput();
            return out.contains("Calculando las hojas de la ruta") ||
                   process->state() == QProcess::NotRunning;
        },
        kTimeoutMs));
    ASSERT_TRUE(out.contains("Calculando las hojas de la ruta «idas.gpx» (300.000 puntos)…"))
        << out.toStdString();
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), SIGTERM), 0);
    const QByteArray said = "Resumen: hojas de la ruta sin calcular, detenido por la señal "
                            "SIGTERM; ningún mosaico pedido.";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            out += process->readAllStandardOutput();
            return out.contains(said) || process->state() == QProcess::NotRunning;
        },
        kTimeoutMs));
    const qint64 stoppedMs = clock.elapsed();
    const Exit r = Finish(*process);
    EXPECT_LE(stoppedMs, 1000);
    EXPECT_EQ(r.code, 143) << r.err.toStdString();
    EXPECT_TRUE(out.endsWith(said + '\n')) << out.toStdString();
    EXPECT_FALSE(out.contains("Estimación"));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(QDir(mapas()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

// A KMZ of 1.5 MB that unpacks to 1.5 GB as the track: refused from its directory with
// status 2 and the reason, without unpacking. It once took 3.1 GB and, with 1 to 2.5 GB of
// address space, ended in std::bad_alloc (134). The program runs here with 1 GB; a
// sanitized build cannot (its shadow memory alone is far larger), so there the most memory
// it held is checked instead.
TEST_F(SheetBatch, AZipBombTrackIsRefusedWithinAGigabyte) {
    WriteAll(work.filePath(QStringLiteral("rutas/bomba.kmz")), BlankZip("doc.kml", 1'500'000'000));
    WriteSettings({{"Ruta", QStringLiteral("rutas/bomba.kmz")}});
    constexpr rlim_t kGigabyte = 1024ULL * 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
    const std::unique_ptr<QProcess> process = Start();
#else
    const std::unique_ptr<QProcess> process = Start([] {
        const rlimit limit{kGigabyte, kGigabyte};
        setrlimit(RLIMIT_AS, &limit);
    });
#endif
    const Exit r = Finish(*process);
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("No se puede usar la ruta «bomba.kmz»: «doc.kml» ocupa más de "
                                    "32 MB descomprimido.\n"));
    rusage children{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
    EXPECT_LT(rlim_t(children.ru_maxrss) * 1024, kGigabyte);
    EXPECT_TRUE(server.requests().isEmpty());
}

} // namespace
