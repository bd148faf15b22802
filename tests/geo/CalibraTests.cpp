// The OziExplorer and CompeGPS calibration files: their bytes and their writing.
#include "download/AreaRecalc.h"
#include "geo/uCalibra.h"
#include "tests/geo/DecimalCommaLocale.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <ostream>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

using ::testing::_;
using ::testing::Return;

// What the calibration run hands to the writers.
const QString kOziProjection = QStringLiteral("(UTM) Universal Transverse Mercator");
const QString kOziDatum = QStringLiteral("European 1950 (Spain and Portugal)");
const QString kCompeProjection = QStringLiteral("UTM");
const QString kCompeDatum = QStringLiteral("European 1950");
const QString kZoneLetter = QStringLiteral("T");
constexpr int32_t kZone = 30;

const QString kOziCaption = QStringLiteral("Generar fichero de calibración para OziExplorer");
const QString kOziText =
    QStringLiteral("El fichero de calibración para OziExplorer ya existe. ¿ Sobreescribir ?");
const QString kCompeCaption = QStringLiteral("Generar fichero de calibración para CompeGPS");
const QString kCompeText =
    QStringLiteral("El fichero de calibración para CompeGPS ya existe. ¿ Sobreescribir ?");

// The image path in the sample files, written for the folder C:\Mapas.
const QByteArray kSampleImagePath("C:\\Mapas\\Prueba.bmp");

class MockQuestion : public OverwriteQuestion {
public:
    MOCK_METHOD(bool, confirmOverwrite, (const QString& caption, const QString& text), (override));
};

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray Golden(const char* name) {
    return ReadFile(QStringLiteral(MORVEL_TEST_DATA_DIR "/geo/") + QString::fromLatin1(name));
}

// The sample .map file with line 3 holding the image's path in `folder` on this platform.
QByteArray GoldenMapIn(const QString& folder) {
    QByteArray golden = Golden("Prueba.map");
    EXPECT_EQ(golden.count(kSampleImagePath), 1);
    const QString path =
        QDir::toNativeSeparators(QDir(folder).filePath(QStringLiteral("Prueba.bmp")));
    return golden.replace(kSampleImagePath, path.toLatin1());
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
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

DownloadJob JobFor(MapKind kind, int coverage, int across, int down) {
    DownloadJob job;
    job.kind = kind;
    AreaInputs in;
    in.eastingText = QStringLiteral("585000");
    in.northingText = QStringLiteral("730000");
    in.acrossPosition = across - 1;
    in.downPosition = down - 1;
    in.coveragePosition = coverage;
    in.serverBase = QStringLiteral("http://maps.test");
    return RecalcArea(job, in).job;
}

// The default job: orthophoto, 5 by 5 tiles of 5000 m from 585000 E, 4730000 N.
CalibrationLists DefaultLists() {
    return BuildCalibrationLists(JobFor(MapKind::Orto, 0, 5, 5));
}

QByteArray MapBytes(const CalibrationLists& l, const QString& folder,
                    const QString& title = QStringLiteral("Prueba"), int32_t zone = kZone) {
    return OziExplorerMapBytes(l.points, l.corners, kOziProjection, kOziDatum, title, folder,
                               QStringLiteral("Prueba.map"), QStringLiteral("Prueba.bmp"), zone);
}

QByteArray ImpBytes(const CalibrationLists& l, const QString& image = QStringLiteral("Prueba.bmp"),
                    int32_t zone = kZone) {
    return CompeGpsImpBytes(l.points, l.corners, kCompeProjection, kCompeDatum, kZoneLetter,
                            QStringLiteral("/nowhere"), QStringLiteral("Prueba.imp"), image, zone);
}

bool WriteMap(const CalibrationLists& l, const QString& folder, OverwriteQuestion& question,
              QString* error = nullptr) {
    return WriteOziExplorerMap(l.points, l.corners, kOziProjection, kOziDatum,
                               QStringLiteral("Prueba"), folder, QStringLiteral("Prueba.map"),
                               QStringLiteral("Prueba.bmp"), kZone, question, error);
}

bool WriteImp(const CalibrationLists& l, const QString& folder, OverwriteQuestion& question,
              QString* error = nullptr) {
    return WriteCompeGpsImp(l.points, l.corners, kCompeProjection, kCompeDatum, kZoneLetter, folder,
                            QStringLiteral("Prueba.imp"), QStringLiteral("Prueba.bmp"), kZone,
                            question, error);
}

// ---- The bytes of the files ----

TEST(OziExplorerMapBytes, DefaultJobGivesTheSampleFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray expected = GoldenMapIn(dir.path());
    EXPECT_EQ(MapBytes(DefaultLists(), dir.path()), expected);
    // A trailing separator gives the same path, with one separator before the name.
    EXPECT_EQ(MapBytes(DefaultLists(), dir.path() + QDir::separator()), expected);
    EXPECT_EQ(MapBytes(DefaultLists(), dir.path() + u'/'), expected);
#ifdef Q_OS_WIN
    EXPECT_EQ(MapBytes(DefaultLists(), QStringLiteral("C:\\Mapas")), Golden("Prueba.map"));
#endif
}

TEST(CompeGpsImpBytes, DefaultJobGivesTheSampleFile) {
    EXPECT_EQ(ImpBytes(DefaultLists()), Golden("Prueba.imp"));
}

TEST(OziExplorerMapBytes, EmptyTitleLeavesLineTwoEmpty) {
    const QList<QByteArray> lines = Lines(MapBytes(DefaultLists(), QDir::tempPath(), QString()));
    ASSERT_EQ(lines.size(), 60);
    EXPECT_EQ(lines[1], QByteArray());
    EXPECT_EQ(lines[0], "OziExplorer Map Data File Version 2.2");
    EXPECT_EQ(lines[3], "1 ,Map Code,");
}

TEST(CalibrationBytes, EmptyFirstEntryKeepsItsNumber) {
    CalibrationLists l = DefaultLists();
    l.points[0] = {};

    const QList<QByteArray> map = Lines(MapBytes(l, QDir::tempPath()));
    ASSERT_EQ(map.size(), 60);
    EXPECT_EQ(map[9], "Point01,xy,     ,     ,in, deg,    ,        ,,    ,        ,, grid,   ,"
                      "           ,           ,");
    EXPECT_EQ(map[10], "Point02,xy, 2000, 2000,in, deg,    ,        ,N,    ,        ,W, grid, 30,"
                       "     610000,    4705000,N");

    const QList<QByteArray> imp = Lines(ImpBytes(l));
    ASSERT_EQ(imp.size(), 16);
    EXPECT_EQ(imp[13], "<Calibration>");
    EXPECT_EQ(imp[14], "P1=2000.00000000,2000.00000000,30T,610000.00000000,4705000.00000000");
    EXPECT_EQ(imp[15], "</Calibration>");
}

TEST(CalibrationBytes, OnlyEmptyEntries) {
    CalibrationLists l = DefaultLists();
    l.points = {};

    const QList<QByteArray> imp = Lines(ImpBytes(l));
    ASSERT_EQ(imp.size(), 15);
    EXPECT_EQ(imp[13], "<Calibration>");
    EXPECT_EQ(imp[14], "</Calibration>");

    const QList<QByteArray> map = Lines(MapBytes(l, QDir::tempPath()));
    ASSERT_EQ(map.size(), 60);
    for (int k = 1; k <= 30; ++k) {
        const QByteArray number = QByteArray::number(k).rightJustified(2, '0');
        EXPECT_EQ(map[8 + k], "Point" + number +
                                  ",xy,     ,     ,in, deg,    ,        ,,    ,        ,, grid,   "
                                  ",           ,           ,");
    }
    // The corners still describe the image.
    EXPECT_EQ(map[45], "MMPXY,1,0,0");
    EXPECT_EQ(map[59], "IWH,Map Image Width/Height,2000,2000");
}

TEST(CalibrationBytes, OneTileJob) {
    // Orthophoto position 4 is 100 m tiles.
    const CalibrationLists l = BuildCalibrationLists(JobFor(MapKind::Orto, 4, 1, 1));

    const QList<QByteArray> map = Lines(MapBytes(l, QDir::tempPath()));
    ASSERT_EQ(map.size(), 60);
    EXPECT_EQ(map[53], "MM1B,0.25");
    EXPECT_EQ(map[59], "IWH,Map Image Width/Height,400,400");
    EXPECT_EQ(map[46], "MMPXY,2,400,0");

    const QList<QByteArray> imp = Lines(ImpBytes(l));
    ASSERT_EQ(imp.size(), 17);
    EXPECT_EQ(imp[9], "BitmapWidth=400");
    EXPECT_EQ(imp[10], "BitmapHeight=400");
    EXPECT_TRUE(imp[15].startsWith("P1=400.00000000,400.00000000,30T,")) << imp[15].toStdString();
}

TEST(OziExplorerMapBytes, NumbersWiderThanTheirFieldAreWrittenWhole) {
    CalibrationLists l = DefaultLists();
    l.points[2] = {123456, -7, -1, 2147483647};
    const QList<QByteArray> map = Lines(MapBytes(l, QDir::tempPath(), QStringLiteral("x"), 31));
    EXPECT_EQ(map[11], "Point03,xy,123456,   -7,in, deg,    ,        ,N,    ,        ,W, grid, 31,"
                       "         -1, 2147483647,N");
    EXPECT_TRUE(map[9].contains(", grid, 31,     585000,")) << map[9].toStdString();
}

TEST(OziExplorerMapBytes, CornersAreConvertedInZoneThirty) {
    // The point lines name the zone given; the corners' degrees do not depend on it.
    const QList<QByteArray> in30 = Lines(MapBytes(DefaultLists(), QDir::tempPath()));
    const QList<QByteArray> in31 =
        Lines(MapBytes(DefaultLists(), QDir::tempPath(), QStringLiteral("Prueba"), 31));
    for (int line = 49; line < 53; ++line) {
        EXPECT_EQ(in31[line], in30[line]);
    }
    EXPECT_EQ(in30[49], "MMPLL,1,-1.961965,42.717036");
}

TEST(OziExplorerMapBytes, ScaleOfANonTerminatingQuotient) {
    CalibrationLists l = DefaultLists();
    l.corners[1] = {3, 0, 586000, 4730000}; // 1000 m over 3 pixels
    EXPECT_EQ(Lines(MapBytes(l, QDir::tempPath()))[53], "MM1B,333.333333333");
    l.corners[1] = {7, 0, 685000, 4730000}; // 100000 m over 7 pixels
    EXPECT_EQ(Lines(MapBytes(l, QDir::tempPath()))[53], "MM1B,14285.7142857");
}

TEST(OziExplorerMapBytes, ZeroWideImageHasScaleZero) {
    CalibrationLists l = DefaultLists();
    l.corners[1].x = 0;
    EXPECT_EQ(Lines(MapBytes(l, QDir::tempPath()))[53], "MM1B,0");
}

struct CoverageScale {
    MapKind kind;
    int position;
    const char* scale; // coverage / 400 pixels
};

void PrintTo(const CoverageScale& c, std::ostream* os) {
    *os << "kind " << static_cast<int>(c.kind) << " position " << c.position;
}

class ScaleForCoverage : public ::testing::TestWithParam<CoverageScale> {};

TEST_P(ScaleForCoverage, MetresPerPixel) {
    const CoverageScale c = GetParam();
    const CalibrationLists l = BuildCalibrationLists(JobFor(c.kind, c.position, 5, 5));
    EXPECT_EQ(Lines(MapBytes(l, QDir::tempPath()))[53], QByteArray("MM1B,") + c.scale);
}

// Every coverage of the three map kinds: 100 .. 10000 m per 400-pixel tile.
INSTANTIATE_TEST_SUITE_P(
    EveryCoverage, ScaleForCoverage,
    ::testing::Values(CoverageScale{MapKind::Orto, 4, "0.25"},
                      CoverageScale{MapKind::Orto, 3, "0.625"},
                      CoverageScale{MapKind::Orto, 2, "1.25"},
                      CoverageScale{MapKind::Orto, 1, "2.5"}, CoverageScale{MapKind::Carto, 0, "5"},
                      CoverageScale{MapKind::MDT, 3, "10"}, CoverageScale{MapKind::Orto, 0, "12.5"},
                      CoverageScale{MapKind::MDT, 2, "15"}, CoverageScale{MapKind::MDT, 1, "20"},
                      CoverageScale{MapKind::MDT, 0, "25"}));

TEST(CalibrationBytes, TextsInWindows1252) {
    const QByteArray map = MapBytes(DefaultLists(), QDir::tempPath(), QStringLiteral("Peñalara Ω"));
    EXPECT_EQ(Lines(map)[1], "Pe\xF1"
                             "alara ?");
    const QByteArray imp = ImpBytes(DefaultLists(), QStringLiteral("Año€.bmp"));
    EXPECT_EQ(Lines(imp)[8], "Bitmap=A\xF1o\x80.bmp");
    EXPECT_FALSE(map.startsWith("\xEF\xBB\xBF"));
}

TEST(CalibrationBytes, DecimalCommaLocaleStillWritesPoints) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray expectedMap = GoldenMapIn(dir.path());
    const QByteArray expectedImp = Golden("Prueba.imp");

    DecimalCommaLocale comma;
    EXPECT_EQ(MapBytes(DefaultLists(), dir.path()), expectedMap);
    EXPECT_EQ(ImpBytes(DefaultLists()), expectedImp);

    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).Times(0);
    ASSERT_TRUE(WriteMap(DefaultLists(), dir.path(), question));
    ASSERT_TRUE(WriteImp(DefaultLists(), dir.path(), question));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.map"))), expectedMap);
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.imp"))), expectedImp);

    // Writing left the program's locale alone.
    EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    EXPECT_EQ(std::use_facet<std::numpunct<char>>(std::locale()).decimal_point(), ',');
    if (!comma.cLocaleActive()) {
        GTEST_SKIP() << "no C library locale with a decimal comma could be set";
    }
    EXPECT_EQ(std::localeconv()->decimal_point[0], ',');
}

// ---- Writing the files ----

TEST(WriteOziExplorerMap, WritesTheFileWithoutAsking) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).Times(0);
    QString error;
    ASSERT_TRUE(WriteMap(DefaultLists(), dir.path(), question, &error)) << error.toStdString();
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.map"))), GoldenMapIn(dir.path()));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("Prueba.map")});

    // The same folder given with its trailing separator names the same file.
    EXPECT_CALL(question, confirmOverwrite(kOziCaption, kOziText)).WillOnce(Return(true));
    ASSERT_TRUE(WriteMap(DefaultLists(), dir.path() + QDir::separator(), question));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("Prueba.map")});
}

TEST(WriteCompeGpsImp, WritesTheFileWithoutAsking) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).Times(0);
    ASSERT_TRUE(WriteImp(DefaultLists(), dir.path(), question));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Prueba.imp"))), Golden("Prueba.imp"));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("Prueba.imp")});
}

// Both writers behave alike around the file; each case runs for both.
struct Writer {
    const char* name;
    const char* fileName;
    QString caption;
    QString text;
    bool (*write)(const CalibrationLists&, const QString&, OverwriteQuestion&, QString*);
};

void PrintTo(const Writer& w, std::ostream* os) {
    *os << w.name;
}

class FileHandling : public ::testing::TestWithParam<Writer> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        target_ = dir_.filePath(QString::fromLatin1(GetParam().fileName));
    }
    bool Write(OverwriteQuestion& question, QString* error, const QString& folder) {
        return GetParam().write(DefaultLists(), folder, question, error);
    }
    bool Write(OverwriteQuestion& question, QString* error) {
        return Write(question, error, dir_.path());
    }

    QTemporaryDir dir_;
    QString target_;
    const QByteArray old_ = QByteArray("old calibration\r\n");
};

TEST_P(FileHandling, RefusedOverwriteKeepsTheOldFile) {
    WriteFile(target_, old_);
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(GetParam().caption, GetParam().text))
        .WillOnce(Return(false));
    QString error;
    EXPECT_FALSE(Write(question, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadFile(target_), old_);
    EXPECT_EQ(FolderEntries(dir_.path()), QStringList{QString::fromLatin1(GetParam().fileName)});
}

TEST_P(FileHandling, ConfirmedOverwriteReplacesTheFile) {
    WriteFile(target_, old_);
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(GetParam().caption, GetParam().text))
        .WillOnce(Return(true));
    QString error;
    ASSERT_TRUE(Write(question, &error)) << error.toStdString();
    const QByteArray now = ReadFile(target_);
    EXPECT_NE(now, old_);
    EXPECT_EQ(Lines(now).size(), QByteArray(GetParam().fileName).endsWith(".map") ? 60 : 17);
}

TEST_P(FileHandling, MissingFolderWritesNothing) {
    const QString missing = dir_.filePath(QStringLiteral("missing"));
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).Times(0);
    QString error;
    EXPECT_FALSE(Write(question, &error, missing));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(FolderEntries(dir_.path()).isEmpty());
}

TEST_P(FileHandling, EmptyFolderIsRefused) {
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).Times(0);
    QString error;
    EXPECT_FALSE(Write(question, &error, QString()));
    EXPECT_FALSE(error.isEmpty());
}

TEST_P(FileHandling, FolderInPlaceOfTheFileIsNotReplaced) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QString::fromLatin1(GetParam().fileName)));
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).WillOnce(Return(true));
    QString error;
    EXPECT_FALSE(Write(question, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(target_).isDir());
    EXPECT_EQ(FolderEntries(dir_.path()), QStringList{QString::fromLatin1(GetParam().fileName)});
}

#ifdef Q_OS_UNIX
// Limits the size of files the process may write, so that writing fails midway as on a
// full disk. The signal that would end the process is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return active_; }

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
    bool active_ = false;
};
#endif

TEST_P(FileHandling, WriteErrorKeepsTheOldFileAndLeavesNoPartialFile) {
#ifdef Q_OS_UNIX
    WriteFile(target_, old_);
    MockQuestion question;
    EXPECT_CALL(question, confirmOverwrite(_, _)).WillOnce(Return(true));
    QString error;
    bool written = true;
    {
        // Both files are longer than 200 bytes.
        FileSizeLimit limit(200);
        ASSERT_TRUE(limit.active());
        written = Write(question, &error);
    }
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadFile(target_), old_);
    EXPECT_EQ(FolderEntries(dir_.path()), QStringList{QString::fromLatin1(GetParam().fileName)});
#else
    GTEST_SKIP() << "needs a file size limit";
#endif
}

bool WriteMapWriter(const CalibrationLists& l, const QString& folder, OverwriteQuestion& q,
                    QString* error) {
    return WriteMap(l, folder, q, error);
}
bool WriteImpWriter(const CalibrationLists& l, const QString& folder, OverwriteQuestion& q,
                    QString* error) {
    return WriteImp(l, folder, q, error);
}

INSTANTIATE_TEST_SUITE_P(
    BothWriters, FileHandling,
    ::testing::Values(Writer{"OziExplorer", "Prueba.map", kOziCaption, kOziText, &WriteMapWriter},
                      Writer{"CompeGPS", "Prueba.imp", kCompeCaption, kCompeText, &WriteImpWriter}),
    [](const ::testing::TestParamInfo<Writer>& info) { return std::string(info.param.name); });

} // namespace
