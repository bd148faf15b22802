// The OziExplorer and CompeGPS calibration files: their bytes and their writing.
#include "geo/DatumChange.h"
#include "geo/uCalibra.h"
#include "job/AreaRecalc.h"
#include "job/WriteError.h"
#include "tests/geo/GeoTestTools.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <locale>
#include <memory>
#include <ostream>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '"' << b.toStdString() << '"';
}

namespace {

using ::testing::_;
using ::testing::Return;

class MockQuestion : public OverwriteQuestion {
public:
    MOCK_METHOD(bool, confirmOverwrite, (const QString& caption, const QString& text), (override));
};

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QByteArray Golden(const char* name) {
    return ReadFile(QStringLiteral(MORVEL_TEST_DATA_DIR "/geo/") + QString::fromLatin1(name));
}

// The sample .map file with line 3 holding the image's path in `folder` on this platform.
QByteArray GoldenMapIn(const QString& folder) {
    const QByteArray samplePath("C:\\Mapas\\Prueba.bmp");
    QByteArray golden = Golden("Prueba.map");
    EXPECT_EQ(golden.count(samplePath), 1);
    const QString path = QDir(folder).filePath(QStringLiteral("Prueba.bmp"));
    return golden.replace(samplePath, QDir::toNativeSeparators(path).toLatin1());
}

// The lines of a file, each required to end in CR LF with no other line break inside.
QList<QByteArray> Lines(const QByteArray& bytes) {
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    for (QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        line.chop(1);
        EXPECT_FALSE(line.contains('\r')) << line.toStdString();
    }
    return lines;
}

// Everything in a folder, hidden files included, so that a temporary file left behind shows.
QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// The lists of a job from 585000 E, 4730000 N; by default the sample files' job:
// orthophoto, 5 by 5 tiles of 5000 m.
CalibrationLists ListsFor(MapKind kind = MapKind::Orto, int coverage = 0, int tiles = 5) {
    DownloadJob job;
    job.kind = kind;
    AreaInputs in;
    in.eastingText = QStringLiteral("585000");
    in.northingText = QStringLiteral("730000");
    in.acrossPosition = tiles - 1;
    in.downPosition = tiles - 1;
    in.coveragePosition = coverage;
    in.serverBase = QStringLiteral("http://maps.test");
    return BuildCalibrationLists(RecalcArea(job, in).job);
}

QByteArray MapBytes(const CalibrationLists& l, const QString& folder = QDir::tempPath(),
                    const QString& title = QStringLiteral("Prueba"), int32_t zone = 30) {
    return OziExplorerMapBytes(l.points, l.corners,
                               QStringLiteral("(UTM) Universal Transverse Mercator"),
                               QStringLiteral("European 1950 (Spain and Portugal)"), title, folder,
                               QStringLiteral("Prueba.map"), QStringLiteral("Prueba.bmp"), zone);
}

QByteArray ImpBytes(const CalibrationLists& l,
                    const QString& image = QStringLiteral("Prueba.bmp")) {
    return CompeGpsImpBytes(l.points, l.corners, QStringLiteral("UTM"),
                            QStringLiteral("European 1950"), QStringLiteral("T"),
                            QStringLiteral("/nowhere"), QStringLiteral("Prueba.imp"), image, 30);
}

bool WriteMap(const CalibrationLists& l, const QString& folder, OverwriteQuestion& question,
              QString* error) {
    return WriteOziExplorerMap(
        l.points, l.corners, QStringLiteral("(UTM) Universal Transverse Mercator"),
        FileDatum::Ed50(QStringLiteral("European 1950 (Spain and Portugal)")),
        QStringLiteral("Prueba"), folder, QStringLiteral("Prueba.map"),
        QStringLiteral("Prueba.bmp"), 30, question, error);
}

bool WriteImp(const CalibrationLists& l, const QString& folder, OverwriteQuestion& question,
              QString* error) {
    return WriteCompeGpsImp(l.points, l.corners, QStringLiteral("UTM"),
                            FileDatum::Ed50(QStringLiteral("European 1950")), QStringLiteral("T"),
                            folder, QStringLiteral("Prueba.imp"), QStringLiteral("Prueba.bmp"), 30,
                            question, error);
}

const QByteArray kEmptyPointLine(
    ",xy,     ,     ,in, deg,    ,        ,,    ,        ,, grid,   ,           ,           ,");

// ---- The bytes of the files ----

TEST(CalibrationBytes, DefaultJobGivesTheSampleFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray expected = GoldenMapIn(dir.path());
    EXPECT_EQ(MapBytes(ListsFor(), dir.path()), expected);
    EXPECT_EQ(MapBytes(ListsFor(), dir.path() + QDir::separator()), expected);
#ifdef Q_OS_WIN
    EXPECT_EQ(MapBytes(ListsFor(), QStringLiteral("C:\\Mapas")), Golden("Prueba.map"));
#endif
    EXPECT_EQ(ImpBytes(ListsFor()), Golden("Prueba.imp"));
}

TEST(CalibrationBytes, EmptyEntriesKeepTheirNumbers) {
    // Entry 1 empty and entry 2 full, then both empty: the .map keeps its 60 lines and
    // numbers each line after its entry; the .imp drops the lines and keeps "P1=".
    QList<QByteArray> map = Lines(GoldenMapIn(QDir::tempPath()));
    QList<QByteArray> imp = Lines(Golden("Prueba.imp"));
    ASSERT_EQ(map.size(), 60);
    ASSERT_EQ(imp.size(), 17);
    CalibrationLists l = ListsFor();
    for (const int entry : {0, 1}) {
        l.points[entry] = {};
        map[9 + entry] = "Point0" + QByteArray::number(entry + 1) + kEmptyPointLine;
        imp.removeAt(14);
        EXPECT_EQ(Lines(MapBytes(l)), map) << "entries emptied: " << entry + 1;
        EXPECT_EQ(Lines(ImpBytes(l)), imp) << "entries emptied: " << entry + 1;
    }
}

TEST(OziExplorerMapBytes, PointsNameTheZoneAndWideNumbersAreWrittenWhole) {
    // Only the point lines follow the zone given: the corners are always converted in zone 30.
    CalibrationLists l = ListsFor();
    l.points[2] = {123456, -7, -1, 2147483647};
    QList<QByteArray> expected = Lines(GoldenMapIn(QDir::tempPath()));
    ASSERT_EQ(expected.size(), 60);
    expected[9].replace(" grid, 30,", " grid, 31,");
    expected[10].replace(" grid, 30,", " grid, 31,");
    expected[11] = "Point03,xy,123456,   -7,in, deg,    ,        ,N,    ,        ,W, grid, 31,"
                   "         -1, 2147483647,N";
    EXPECT_EQ(Lines(MapBytes(l, QDir::tempPath(), QStringLiteral("Prueba"), 31)), expected);
}

TEST(CalibrationBytes, OneTileOfEveryCoverage) {
    // 100 .. 10000 m over a 400-pixel tile, for every coverage of the three map kinds.
    const struct {
        MapKind kind;
        int position;
        const char* scale;
    } coverages[] = {{MapKind::Orto, 4, "MM1B,0.25"}, {MapKind::Orto, 3, "MM1B,0.625"},
                     {MapKind::Orto, 2, "MM1B,1.25"}, {MapKind::Orto, 1, "MM1B,2.5"},
                     {MapKind::Carto, 0, "MM1B,5"},   {MapKind::MDT, 3, "MM1B,10"},
                     {MapKind::Orto, 0, "MM1B,12.5"}, {MapKind::MDT, 2, "MM1B,15"},
                     {MapKind::MDT, 1, "MM1B,20"},    {MapKind::MDT, 0, "MM1B,25"}};
    for (const auto& c : coverages) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << static_cast<int>(c.kind) << " position " << c.position);
        const CalibrationLists l = ListsFor(c.kind, c.position, 1);
        const QList<QByteArray> map = Lines(MapBytes(l));
        ASSERT_EQ(map.size(), 60);
        EXPECT_EQ(map[53], c.scale);
        EXPECT_EQ(map[59], "IWH,Map Image Width/Height,400,400");
        const QList<QByteArray> imp = Lines(ImpBytes(l));
        ASSERT_EQ(imp.size(), 17);
        EXPECT_TRUE(imp[15].startsWith("P1=400.00000000,400.00000000,30T,")) << imp[15].data();
    }
}

TEST(OziExplorerMapBytes, ScaleOfANonTerminatingQuotientOrAZeroWideImage) {
    CalibrationLists l = ListsFor();
    l.corners[1] = {3, 0, 586000, 4730000};
    EXPECT_EQ(Lines(MapBytes(l))[53], "MM1B,333.333333333");
    l.corners[1] = {7, 0, 685000, 4730000};
    EXPECT_EQ(Lines(MapBytes(l))[53], "MM1B,14285.7142857");
    l.corners[1].x = 0;
    EXPECT_EQ(Lines(MapBytes(l))[53], "MM1B,0");
}

TEST(CalibrationBytes, TitleAndImageNameInWindows1252) {
    // An empty title leaves line 2 empty and the rest as in the sample.
    QList<QByteArray> expected = Lines(GoldenMapIn(QDir::tempPath()));
    expected[1].clear();
    EXPECT_EQ(Lines(MapBytes(ListsFor(), QDir::tempPath(), QString())), expected);

    // ASCII and U+00A0..U+00FF as themselves, the euro sign at 0x80, curly quotes at
    // 0x93/0x94, S caron at 0x8A. Not in the code page: Greek, an emoji (one "?" for its two
    // UTF-16 units) and U+0080, whose byte means the euro sign.
    const QString title = QStringLiteral("Año é € “x” Š Ω 😀 \u0080 ~");
    EXPECT_EQ(Lines(MapBytes(ListsFor(), QDir::tempPath(), title))[1],
              "A\xF1o \xE9 \x80 \x93x\x94 \x8A ? ? ? ~");
    EXPECT_EQ(Lines(ImpBytes(ListsFor(), QStringLiteral("Año€.bmp")))[8], "Bitmap=A\xF1o\x80.bmp");
}

// Digits grouped with "." and decimals after ",", as in Spain or Germany.
class CommaPunct : public std::numpunct<char> {
protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(CalibrationBytes, DecimalCommaLocaleStillWritesPoints) {
    const QByteArray expectedMap = GoldenMapIn(QDir::tempPath());
    const QByteArray expectedImp = Golden("Prueba.imp");
    const QLocale savedQt;
    const std::locale savedStd;
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    const QByteArray savedLocPath = qgetenv("LOCPATH");
    QTemporaryDir compiled;

    // Every locale a number formatter may follow: Qt's default, the C++ global one and the C
    // library's. This system may lack a German C locale: one is compiled then (localedef may
    // warn and still make it).
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", compiled.filePath("de")});
        qputenv("LOCPATH", compiled.path().toLocal8Bit());
        std::setlocale(LC_ALL, "de");
    }
    const bool cComma = std::localeconv()->decimal_point[0] == ',';
    const QByteArray map = MapBytes(ListsFor());
    const QByteArray imp = ImpBytes(ListsFor());
    const QString qtPointAfter = QLocale().decimalPoint();
    const char stdPointAfter = std::use_facet<std::numpunct<char>>(std::locale()).decimal_point();
    const char cPointAfter = std::localeconv()->decimal_point[0];

    std::locale::global(savedStd);
    std::setlocale(LC_ALL, savedC.c_str());
    savedLocPath.isNull() ? qunsetenv("LOCPATH") : qputenv("LOCPATH", savedLocPath);
    QLocale::setDefault(savedQt);

    EXPECT_EQ(map, expectedMap);
    EXPECT_EQ(imp, expectedImp);
    // Writing left the program's locale alone.
    EXPECT_EQ(qtPointAfter, QStringLiteral(","));
    EXPECT_EQ(stdPointAfter, ',');
    if (!cComma) {
        GTEST_SKIP() << "no C library locale with a decimal comma could be set";
    }
    EXPECT_EQ(cPointAfter, ',');
}

// ---- Writing the files: both writers behave alike around the file ----

struct Writer {
    const char* name;
    const char* fileName;
    QString caption;
    QString text;
    bool (*write)(const CalibrationLists&, const QString&, OverwriteQuestion&, QString*);
    QByteArray (*expected)(const QString& folder);
};

void PrintTo(const Writer& w, std::ostream* os) {
    *os << w.name;
}

class FileHandling : public ::testing::TestWithParam<Writer> {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    bool Write(const QString& folder) {
        error_.clear();
        return GetParam().write(ListsFor(), folder, question_, &error_);
    }
    bool Write() { return Write(dir_.path()); }
    void WriteOld() {
        QFile file(target_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(old_), old_.size());
    }
    void ExpectOnly(const QByteArray& content) {
        EXPECT_EQ(ReadFile(target_), content);
        EXPECT_EQ(FolderEntries(dir_.path()),
                  QStringList{QString::fromLatin1(GetParam().fileName)});
    }
    void ExpectQuestion(bool answer) {
        EXPECT_CALL(question_, confirmOverwrite(GetParam().caption, GetParam().text))
            .WillOnce(Return(answer));
    }

    QTemporaryDir dir_;
    const QString target_ = dir_.filePath(QString::fromLatin1(GetParam().fileName));
    const QByteArray old_ = QByteArray("old calibration\r\n");
    MockQuestion question_;
    QString error_;
};

TEST_P(FileHandling, AsksBeforeReplacingAnExistingFile) {
    // A new file is written without asking.
    EXPECT_CALL(question_, confirmOverwrite(_, _)).Times(0);
    ASSERT_TRUE(Write()) << error_.toStdString();
    ExpectOnly(GetParam().expected(dir_.path()));

    // Refused: the old file stays as it was.
    WriteOld();
    ExpectQuestion(false);
    EXPECT_FALSE(Write());
    EXPECT_FALSE(error_.isEmpty());
    ExpectOnly(old_);

    // Confirmed, with the folder given with a trailing separator: the same file is replaced.
    ExpectQuestion(true);
    ASSERT_TRUE(Write(dir_.path() + QDir::separator())) << error_.toStdString();
    ExpectOnly(GetParam().expected(dir_.path()));
}

TEST_P(FileHandling, MissingOrEmptyFolderWritesNothing) {
    EXPECT_CALL(question_, confirmOverwrite(_, _)).Times(0);
    const QString missing = dir_.filePath(QStringLiteral("missing"));
    for (const QString& folder : {missing, QString()}) {
        EXPECT_FALSE(Write(folder)) << folder.toStdString();
        EXPECT_FALSE(error_.isEmpty());
    }
    EXPECT_TRUE(FolderEntries(dir_.path()).isEmpty());
}

TEST_P(FileHandling, WriteErrorKeepsTheOldFileAndLeavesNoPartialFile) {
#ifdef Q_OS_UNIX
    WriteOld();
    ExpectQuestion(true);
    // A file size limit below either file's size makes writing fail midway, as on a full
    // disk; the signal that would end the process is ignored meanwhile.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 200;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    const bool limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    const bool written = limited && Write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    ASSERT_TRUE(limited);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error_.endsWith(LocalWriteErrorFor(EFBIG).reason)) << error_.toStdString();
    ExpectOnly(old_);

    // A folder where the file goes is named as the cause.
    ASSERT_TRUE(QFile::remove(target_));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QString::fromLatin1(GetParam().fileName)));
    ExpectQuestion(true);
    EXPECT_FALSE(Write());
    EXPECT_TRUE(error_.endsWith(LocalWriteErrorFor(EISDIR).reason)) << error_.toStdString();
#else
    GTEST_SKIP() << "needs a file size limit";
#endif
}

INSTANTIATE_TEST_SUITE_P(
    BothWriters, FileHandling,
    ::testing::Values(
        Writer{"OziExplorer", "Prueba.map",
               QStringLiteral("Generar fichero de calibración para OziExplorer"),
               QStringLiteral(
                   "El fichero de calibración para OziExplorer ya existe. ¿ Sobreescribir ?"),
               &WriteMap, &GoldenMapIn},
        Writer{
            "CompeGPS", "Prueba.imp",
            QStringLiteral("Generar fichero de calibración para CompeGPS"),
            QStringLiteral("El fichero de calibración para CompeGPS ya existe. ¿ Sobreescribir ?"),
            &WriteImp, [](const QString&) { return Golden("Prueba.imp"); }}),
    [](const ::testing::TestParamInfo<Writer>& info) { return std::string(info.param.name); });

// ---- The files on WGS 84 ----

std::unique_ptr<DatumChange> ChangeFor(const CalibrationLists& l) {
    QString error;
    auto change = DatumChange::ForArea(l.corners[0].easting, l.corners[2].northing,
                                       l.corners[2].easting, l.corners[0].northing, &error);
    EXPECT_TRUE(change) << error.toStdString();
    return change;
}

bool WriteMapWgs84(const CalibrationLists& l, const QString& folder, const DatumChange& change,
                   OverwriteQuestion& question, QString* error) {
    return WriteOziExplorerMap(
        l.points, l.corners, QStringLiteral("(UTM) Universal Transverse Mercator"),
        FileDatum::Wgs84(change), QStringLiteral("Prueba"), folder, QStringLiteral("Prueba.map"),
        QStringLiteral("Prueba.bmp"), 30, question, error);
}

bool WriteImpWgs84(const CalibrationLists& l, const QString& folder, const DatumChange& change,
                   OverwriteQuestion& question, QString* error) {
    return WriteCompeGpsImp(l.points, l.corners, QStringLiteral("UTM"), FileDatum::Wgs84(change),
                            QStringLiteral("T"), folder, QStringLiteral("Prueba.imp"),
                            QStringLiteral("Prueba.bmp"), 30, question, error);
}

// PROJ's own transformation over the sample area, and its result for a point of the lists.
PlainProj SampleProj(const char* target) {
    return PlainProj(-1.97, 42.48, -1.65, 42.72, target);
}

PJ_XY Transformed(const PlainProj& proj, const CalibrationPoint& p) {
    return proj(p.easting, p.northing);
}

// Both numbers of a text "a,b".
bool TwoNumbers(const QByteArray& text, double* a, double* b) {
    const QList<QByteArray> parts = text.split(',');
    bool okA = false;
    bool okB = false;
    if (parts.size() == 2) {
        *a = parts[0].trimmed().toDouble(&okA);
        *b = parts[1].trimmed().toDouble(&okB);
    }
    return okA && okB;
}

class Wgs84Files : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(change_);
        EXPECT_CALL(question_, confirmOverwrite(_, _)).Times(0);
    }

    const CalibrationLists lists_ = ListsFor();
    const std::unique_ptr<DatumChange> change_ = ChangeFor(lists_);
    QTemporaryDir dir_;
    MockQuestion question_;
    QString error_;
};

TEST_F(Wgs84Files, MapKeepsTheLayoutAndCarriesEtrs89Coordinates) {
    ASSERT_TRUE(WriteMapWgs84(lists_, dir_.path(), *change_, question_, &error_))
        << error_.toStdString();
    const QList<QByteArray> lines = Lines(ReadFile(dir_.filePath(QStringLiteral("Prueba.map"))));
    // The two ED50 points, then the image's other two corners as points 3 and 4.
    CalibrationLists four = lists_;
    four.points[2] = lists_.corners[1];
    four.points[3] = lists_.corners[3];
    QList<QByteArray> expected = Lines(MapBytes(four, dir_.path()));
    ASSERT_EQ(lines.size(), 60);
    ASSERT_EQ(expected.size(), 60);

    EXPECT_EQ(lines[4], "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84");
    expected[4] = lines[4];

    // Point lines: the ED50 line up to the zone, then each grid value right-aligned in 11
    // characters with two decimals.
    const PlainProj grid = SampleProj("EPSG:25830");
    const QRegularExpression gridValue(QStringLiteral("^ *\\d+\\.\\d\\d$"));
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(testing::Message() << "point " << k + 1);
        const QByteArray& line = lines[9 + k];
        const qsizetype prefix = expected[9 + k].indexOf(" grid, 30,") + 10;
        ASSERT_EQ(line.left(prefix), expected[9 + k].left(prefix));
        ASSERT_EQ(line.size(), prefix + 11 + 1 + 11 + 2) << line.toStdString();
        EXPECT_TRUE(line.endsWith(",N"));
        const QString easting = QString::fromLatin1(line.mid(prefix, 11));
        const QString northing = QString::fromLatin1(line.mid(prefix + 12, 11));
        EXPECT_TRUE(gridValue.match(easting).hasMatch()) << easting.toStdString();
        EXPECT_TRUE(gridValue.match(northing).hasMatch()) << northing.toStdString();
        const PJ_XY want = Transformed(grid, four.points[static_cast<std::size_t>(k)]);
        EXPECT_NEAR(easting.toDouble(), want.x, 0.005 + 1e-6);
        EXPECT_NEAR(northing.toDouble(), want.y, 0.005 + 1e-6);
        expected[9 + k] = line;
    }

    // Corners: longitude and latitude with eight decimals.
    const PlainProj geographic = SampleProj("EPSG:4258");
    const QRegularExpression cornerLine(
        QStringLiteral("^MMPLL,\\d,-?\\d+\\.\\d{8},-?\\d+\\.\\d{8}$"));
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(testing::Message() << "corner " << k + 1);
        const QByteArray& line = lines[49 + k];
        ASSERT_TRUE(line.startsWith("MMPLL," + QByteArray::number(k + 1) + ','))
            << line.toStdString();
        EXPECT_TRUE(cornerLine.match(QString::fromLatin1(line)).hasMatch()) << line.toStdString();
        double longitude = 0.0;
        double latitude = 0.0;
        ASSERT_TRUE(TwoNumbers(line.mid(8), &longitude, &latitude)) << line.toStdString();
        const PJ_XY want = Transformed(geographic, lists_.corners[static_cast<std::size_t>(k)]);
        EXPECT_NEAR(longitude, want.x, 5e-9 + 1e-12);
        EXPECT_NEAR(latitude, want.y, 5e-9 + 1e-12);
        expected[49 + k] = line;
    }

    // Everything else stays as on ED50: pixels, scale, image size.
    EXPECT_EQ(lines, expected);
}

TEST_F(Wgs84Files, ImpKeepsTheLayoutAndCarriesEtrs89Coordinates) {
    ASSERT_TRUE(WriteImpWgs84(lists_, dir_.path(), *change_, question_, &error_))
        << error_.toStdString();
    const QList<QByteArray> lines = Lines(ReadFile(dir_.filePath(QStringLiteral("Prueba.imp"))));
    QList<QByteArray> expected = Lines(ImpBytes(lists_));
    ASSERT_EQ(lines.size(), 17);
    ASSERT_EQ(expected.size(), 17);

    EXPECT_EQ(lines[5], "Datum=WGS 84");
    expected[5] = lines[5];

    const PlainProj grid = SampleProj("EPSG:25830");
    const QRegularExpression values(QStringLiteral("^\\d+\\.\\d{8},\\d+\\.\\d{8}$"));
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(testing::Message() << "point " << k + 1);
        const QByteArray& line = lines[14 + k];
        const qsizetype prefix = expected[14 + k].indexOf("30T,") + 4;
        ASSERT_EQ(line.left(prefix), expected[14 + k].left(prefix));
        const QByteArray ground = line.mid(prefix);
        EXPECT_TRUE(values.match(QString::fromLatin1(ground)).hasMatch()) << line.toStdString();
        double easting = 0.0;
        double northing = 0.0;
        ASSERT_TRUE(TwoNumbers(ground, &easting, &northing)) << line.toStdString();
        const PJ_XY want = Transformed(grid, lists_.points[static_cast<std::size_t>(k)]);
        EXPECT_NEAR(easting, want.x, 1e-6);
        EXPECT_NEAR(northing, want.y, 1e-6);
        expected[14 + k] = line;
    }
    EXPECT_EQ(lines, expected);
}

// GDAL's OziExplorer reader opens the image that line 3 names and places it by the .map's
// points, on the datum the .map names. Every corner lies where the program's own change
// puts it, to a tenth of a metre, for the sample area and for one of 100 km: the ED50
// square is a little turned on the ETRS89 grid, which two points alone would lose (a
// metre at the far corners of the large one).
TEST(Wgs84Map, GdalPlacesEveryCornerWhereTheChangeDoes) {
    const CalibrationLists sample = ListsFor();
    CalibrationLists large;
    const int32_t west = 500000;
    const int32_t east = 600000;
    const int32_t north = 4700000;
    const int32_t south = 4600000;
    const int32_t pixels = 1000; // 100 m a pixel: the image stays small
    large.points[0] = {0, 0, west, north};
    large.points[1] = {pixels, pixels, east, south};
    large.corners = {CalibrationPoint{0, 0, west, north}, CalibrationPoint{pixels, 0, east, north},
                     CalibrationPoint{pixels, pixels, east, south},
                     CalibrationPoint{0, pixels, west, south}};
    for (const CalibrationLists& lists : {sample, large}) {
        SCOPED_TRACE(testing::Message()
                     << "area " << lists.corners[2].easting - lists.corners[0].easting
                     << " m wide");
        QTemporaryDir dir;
        const std::unique_ptr<DatumChange> change = ChangeFor(lists);
        ASSERT_TRUE(change);
        MockQuestion question;
        QString error;
        ASSERT_TRUE(WriteWhiteBmp(dir.filePath(QStringLiteral("Prueba.bmp")), lists.corners[2].x,
                                  lists.corners[2].y));
        ASSERT_TRUE(WriteMapWgs84(lists, dir.path(), *change, question, &error))
            << error.toStdString();
        QJsonObject report;
        ASSERT_TRUE(GdalInfo(dir.filePath(QStringLiteral("Prueba.map")), &report));
        const QString wkt = report.value(QStringLiteral("coordinateSystem"))
                                .toObject()
                                .value(QStringLiteral("wkt"))
                                .toString();
        EXPECT_TRUE(wkt.contains(QStringLiteral("WGS 84"))) << wkt.toStdString();
        EXPECT_FALSE(wkt.contains(QStringLiteral("1950"))) << wkt.toStdString();
        const std::array<QPointF, 4> corners = ReportedCorners(report);
        for (std::size_t k = 0; k < corners.size(); ++k) {
            SCOPED_TRACE(testing::Message() << "corner " << k + 1);
            double easting = 0.0;
            double northing = 0.0;
            ASSERT_TRUE(change->toGrid(lists.corners[k].easting, lists.corners[k].northing,
                                       &easting, &northing));
            EXPECT_NEAR(corners[k].x(), easting, 0.1);
            EXPECT_NEAR(corners[k].y(), northing, 0.1);
        }
    }
}

// ---- Writing the WGS 84 files ----

struct Wgs84Writer {
    const char* name;
    const char* fileName;
    QString caption;
    QString text;
    bool (*write)(const CalibrationLists&, const QString&, const DatumChange&, OverwriteQuestion&,
                  QString*);
};

void PrintTo(const Wgs84Writer& w, std::ostream* os) {
    *os << w.name;
}

class Wgs84FileHandling : public ::testing::TestWithParam<Wgs84Writer> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(change_);
    }
    bool Write(const CalibrationLists& l) {
        error_.clear();
        return GetParam().write(l, dir_.path(), *change_, question_, &error_);
    }
    void WriteOld() {
        QFile file(target_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(old_), old_.size());
    }
    void ExpectOnlyOld() {
        EXPECT_EQ(ReadFile(target_), old_);
        EXPECT_EQ(FolderEntries(dir_.path()),
                  QStringList{QString::fromLatin1(GetParam().fileName)});
    }

    const CalibrationLists lists_ = ListsFor();
    const std::unique_ptr<DatumChange> change_ = ChangeFor(lists_);
    QTemporaryDir dir_;
    const QString target_ = dir_.filePath(QString::fromLatin1(GetParam().fileName));
    const QByteArray old_ = QByteArray("old calibration\r\n");
    MockQuestion question_;
    QString error_;
};

TEST_P(Wgs84FileHandling, AsksBeforeReplacingAnExistingFile) {
    WriteOld();
    EXPECT_CALL(question_, confirmOverwrite(GetParam().caption, GetParam().text))
        .WillOnce(Return(false))
        .WillOnce(Return(true));
    EXPECT_FALSE(Write(lists_));
    EXPECT_FALSE(error_.isEmpty());
    ExpectOnlyOld();

    ASSERT_TRUE(Write(lists_)) << error_.toStdString();
    EXPECT_TRUE(ReadFile(target_).contains("WGS 84"));
    EXPECT_EQ(FolderEntries(dir_.path()), QStringList{QString::fromLatin1(GetParam().fileName)});
}

TEST_P(Wgs84FileHandling, APointTheChangeCannotMoveWritesNothing) {
    // A point beyond the area the operation was chosen for, or beyond any grid: neither the
    // question nor the file is touched.
    WriteOld();
    EXPECT_CALL(question_, confirmOverwrite(_, _)).Times(0);
    const CalibrationPoint outside[] = {
        {10, 10, 610001, 4720000}, {10, 10, 600000, 4704999}, {123456, -7, -1, 2147483647}};
    for (const CalibrationPoint& p : outside) {
        SCOPED_TRACE(testing::Message() << p.easting << " E, " << p.northing << " N");
        CalibrationLists l = lists_;
        l.points[2] = p;
        EXPECT_FALSE(Write(l));
        EXPECT_TRUE(error_.contains(QString::number(p.easting))) << error_.toStdString();
        ExpectOnlyOld();
    }
    // The corners are checked too.
    CalibrationLists l = lists_;
    l.corners[1].easting = 620000;
    EXPECT_FALSE(Write(l));
    EXPECT_TRUE(error_.contains(QStringLiteral("620000"))) << error_.toStdString();
    ExpectOnlyOld();
}

INSTANTIATE_TEST_SUITE_P(
    BothWriters, Wgs84FileHandling,
    ::testing::Values(
        Wgs84Writer{"OziExplorer", "Prueba.map",
                    QStringLiteral("Generar fichero de calibración para OziExplorer"),
                    QStringLiteral(
                        "El fichero de calibración para OziExplorer ya existe. ¿ Sobreescribir ?"),
                    &WriteMapWgs84},
        Wgs84Writer{
            "CompeGPS", "Prueba.imp",
            QStringLiteral("Generar fichero de calibración para CompeGPS"),
            QStringLiteral("El fichero de calibración para CompeGPS ya existe. ¿ Sobreescribir ?"),
            &WriteImpWgs84}),
    [](const ::testing::TestParamInfo<Wgs84Writer>& info) { return std::string(info.param.name); });

} // namespace
