// The settings file below the window: reading rules, the keys written, and how the file
// is replaced. What the window makes of a file is tested with the window.
#include "ui/IniFile.h"
#include "ui/Settings.h"

#include "job/WriteError.h"

#include "UiTestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace {

StoredSettings ReadText(const QByteArray& text) {
    IniFile ini(QStringLiteral("unused.ini"));
    ini.loadFromBytes(text);
    return ReadSettings(ini);
}

QByteArray Written(const StoredSettings& s, const QByteArray& existing = {}) {
    IniFile ini(QStringLiteral("unused.ini"));
    ini.loadFromBytes(existing);
    WriteSettings(ini, s);
    return ini.contents();
}

TEST(IniIntegerTest, ReadsWholeNumbersOnly) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    // "0x" followed by digits is hexadecimal; a whole number too long for 64 bits saturates.
    const std::pair<const char*, int64_t> numbers[] = {{"12", 12},
                                                       {"-3", -3},
                                                       {"+4", 4},
                                                       {"0x1F", 31},
                                                       {"0X1f", 31},
                                                       {" 7 ", 7},
                                                       {"99999999999999999999999", kMax},
                                                       {"0xFFFFFFFFFFFFFFFFFFFF", kMax}};
    for (const auto& [text, value] : numbers) {
        EXPECT_EQ(ParseIniInteger(QString::fromUtf8(text)), value) << text;
    }
    for (const char* text : {"0x", "0x7G", "abc", "12ab", "1.5", "", "-"}) {
        EXPECT_EQ(ParseIniInteger(QString::fromUtf8(text)), std::nullopt) << text;
    }
}

// Out of range gives 0, no number the default; names match in any case, the first of
// duplicate keys counts.
TEST(ReadSettingsTest, DefaultsRangesAndFlags) {
    using Field = int (*)(const StoredSettings&);
    const Field down = [](const StoredSettings& s) { return s.tilesDownPosition; };
    const Field across = [](const StoredSettings& s) { return s.tilesAcrossPosition; };
    const Field kind = [](const StoredSettings& s) { return static_cast<int>(s.kind); };
    const Field coverage = [](const StoredSettings& s) { return s.coveragePosition; };
    const Field bmp = [](const StoredSettings& s) { return int{s.saveBmp}; };
    const struct {
        const char* file;
        Field field;
        int expected;
    } cases[] = {
        {"[Mosaicos]\nMosaicosAlto=12", down, 0},
        {"[Mosaicos]\nMosaicosAlto=abc", down, 4},
        {"[Mosaicos]\nMosaicosAlto=0x9", down, 9},
        {"[Mosaicos]\nMosaicosAncho=-1", across, 0},
        {"[Mosaicos]\nTipoMosaico=2", kind, 2},
        {"[Mosaicos]\nTipoMosaico=", kind, 1},
        {"[Mosaicos]\nCobertura=5", coverage, 0},
        {"[Mosaicos]\nCobertura=99999999999999999999", coverage, 0},
        {"[Aplicacion]\nCobertura=3", coverage, 0}, // another section's key
        {"[mOSAICOS]\nCOBERTURA=2", coverage, 2},
        {"[Mosaicos]\nCobertura=1\nCobertura=2", coverage, 1},
        {"[Mosaicos]\nCobertura=1\n[Mosaicos]\nMosaicosAlto=2", down, 2},
        {"", bmp, 1}, // only the exact "SI" is on
        {"[Aplicacion]\nGrabarBMP=SI", bmp, 1},
        {"[Aplicacion]\nGrabarBMP=Si", bmp, 0},
        {"[Aplicacion]\nGrabarBMP=SIN", bmp, 0},
        {"[Aplicacion]\nGrabarBMP=", bmp, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.field(ReadText(c.file)), c.expected) << c.file;
    }
}

// The keys a file may have beyond the twelve: each is read with its own rule and written
// back only when the file had it, or when the user chose what it stands for.
TEST(ReadSettingsTest, KeysWrittenBackOnlyWhenTheFileHadThem) {
    const struct {
        const char* file;
        int connections;
        CalibrationDatum datum;
        bool worldFile;
        QList<QByteArray> writtenBack;
    } cases[] = {
        {"", 2, CalibrationDatum::Ed50, false, {}},
        {"[Aplicacion]\nConexiones=4", 4, CalibrationDatum::Ed50, false, {"Conexiones=4"}},
        {"[Aplicacion]\nConexiones=7", 2, CalibrationDatum::Ed50, false, {"Conexiones=2"}},
        {"[Aplicacion]\nConexiones=0", 2, CalibrationDatum::Ed50, false, {"Conexiones=2"}},
        {"[Aplicacion]\nConexiones=1", 1, CalibrationDatum::Ed50, false, {"Conexiones=1"}},
        {"[Calibracion]\nDatum=WGS84", 2, CalibrationDatum::Wgs84, false, {"Datum=WGS84"}},
        {"[Calibracion]\nDatum=ED50", 2, CalibrationDatum::Ed50, false, {"Datum=ED50"}},
        {"[Calibracion]\nDatum=wgs84", 2, CalibrationDatum::Ed50, false, {"Datum=ED50"}},
        {"[Calibracion]\nGeorreferencia=SI",
         2,
         CalibrationDatum::Ed50,
         true,
         {"Georreferencia=SI"}},
        {"[Calibracion]\nGeorreferencia=NO",
         2,
         CalibrationDatum::Ed50,
         false,
         {"Georreferencia=NO"}},
    };
    for (const auto& c : cases) {
        const StoredSettings s = ReadText(c.file);
        EXPECT_EQ(s.connectionsOrDefault(), c.connections) << c.file;
        EXPECT_EQ(s.datum, c.datum) << c.file;
        EXPECT_EQ(s.worldFile, c.worldFile) << c.file;
        const QByteArray out = Written(s);
        for (const char* key : {"Conexiones=", "Datum=", "Georreferencia="}) {
            const bool expected =
                std::any_of(c.writtenBack.begin(), c.writtenBack.end(),
                            [key](const QByteArray& line) { return line.startsWith(key); });
            EXPECT_EQ(out.contains(key), expected) << c.file << " " << key;
        }
        for (const QByteArray& line : c.writtenBack) {
            EXPECT_TRUE(out.contains(line + "\n")) << c.file;
        }
    }
    // Chosen by the user, WGS 84 and the world file are written back into any file.
    StoredSettings chosen = ReadText("");
    chosen.datum = CalibrationDatum::Wgs84;
    chosen.worldFile = true;
    const QByteArray out = Written(chosen);
    EXPECT_TRUE(out.contains("[Calibracion]\n")) << out.constData();
    EXPECT_TRUE(out.contains("Datum=WGS84\n"));
    EXPECT_TRUE(out.contains("Georreferencia=SI\n"));
}

// The exports' keys in [Exportar]: only the exact word SI turns one on; each is written back
// when the file had it (as it stands then) or once it is on.
TEST(ReadSettingsTest, ExportKeysOnlyWhenTheFileHadThemOrTheyAreOn) {
    const char* const keys[] = {"GeoTIFF=", "GeoPackage=", "MBTiles=", "KMZ=", "PDF="};
    const struct {
        const char* file;
        std::array<bool, 5> on;
        QList<QByteArray> writtenBack;
    } cases[] = {
        {"", {}, {}},
        {"[Exportar]\nGeoTIFF=SI\nKMZ=NO",
         {true, false, false, false, false},
         {"GeoTIFF=SI", "KMZ=NO"}},
        {"[exportar]\ngeopackage=SI\nMBTiles=si",
         {false, true, false, false, false},
         {"GeoPackage=SI", "MBTiles=NO"}},
        {"[Exportar]\nPDF=SI", {false, false, false, false, true}, {"PDF=SI"}},
        {"[Calibracion]\nKMZ=SI", {}, {}},
    };
    for (const auto& c : cases) {
        const StoredSettings s = ReadText(c.file);
        for (size_t i = 0; i < c.on.size(); ++i) {
            EXPECT_EQ(s.exports.at(i).on, c.on.at(i)) << c.file << " " << keys[i];
        }
        // Names are matched without regard to case: a file's own spelling may stay.
        const QByteArray out = Written(s).toLower();
        for (const char* key : keys) {
            const QByteArray lower = QByteArray(key).toLower();
            const bool expected = std::any_of(
                c.writtenBack.begin(), c.writtenBack.end(),
                [&lower](const QByteArray& l) { return l.toLower().startsWith(lower); });
            EXPECT_EQ(out.contains("\n" + lower), expected) << c.file << " " << key;
        }
        for (const QByteArray& line : c.writtenBack) {
            EXPECT_TRUE(out.contains("\n" + line.toLower() + "\n"))
                << c.file << " " << line.constData();
        }
        EXPECT_EQ(out.contains("[exportar]"), !c.writtenBack.isEmpty()) << c.file;
    }
    // Ticked by the user, an export is written into any file.
    StoredSettings ticked = ReadText("");
    ticked.exports.at(static_cast<size_t>(ExportFormat::MbTiles)).on = true;
    const QByteArray out = Written(ticked);
    EXPECT_TRUE(out.contains("[Exportar]\nMBTiles=SI\n")) << out.constData();
    EXPECT_FALSE(out.contains("GeoTIFF="));
}

// The print's scale and paper in [Imprimir]: a scale of the three, the paper's exact name;
// anything else counts as the default, 1:25.000 on A4. Both keys are written back when the
// file had either, or the user chose them.
TEST(ReadSettingsTest, PrintScaleAndPaper) {
    const struct {
        const char* file;
        int32_t scale;
        PrintPaper paper;
        bool writtenBack;
    } cases[] = {
        {"", 25000, PrintPaper::A4, false},
        {"[Imprimir]\nEscala=50000\nPapel=A3", 50000, PrintPaper::A3, true},
        {"[imprimir]\nescala=10000", 10000, PrintPaper::A4, true},
        {"[Imprimir]\nEscala=20000\nPapel=a3", 25000, PrintPaper::A4, true},
        {"[Imprimir]\nEscala=0x2710", 10000, PrintPaper::A4, true},
        {"[Imprimir]\nEscala=4294977296", 25000, PrintPaper::A4, true},
        {"[Imprimir]\nPapel=Carta", 25000, PrintPaper::A4, true},
        {"[Exportar]\nEscala=50000", 25000, PrintPaper::A4, false},
    };
    for (const auto& c : cases) {
        const StoredSettings s = ReadText(c.file);
        EXPECT_EQ(s.printScale, c.scale) << c.file;
        EXPECT_EQ(s.printPaper, c.paper) << c.file;
        // Names are matched without regard to case: a file's own spelling may stay.
        const QByteArray out = Written(s).toLower();
        EXPECT_EQ(out.contains("[imprimir]\n"), c.writtenBack) << c.file << out.constData();
        if (c.writtenBack) {
            EXPECT_TRUE(out.contains(QByteArray("\nescala=") + QByteArray::number(c.scale) +
                                     "\npapel=" + (c.paper == PrintPaper::A3 ? "a3" : "a4") + "\n"))
                << c.file << out.constData();
        }
    }
    StoredSettings chosen = ReadText("");
    chosen.printScale = 10000;
    chosen.printPaper = PrintPaper::A3;
    chosen.printStored = true;
    EXPECT_TRUE(Written(chosen).contains("[Imprimir]\nEscala=10000\nPapel=A3\n"));
}

TEST(ReadSettingsTest, Utf8ElseWindows1252) {
    const std::pair<QByteArray, QString> cases[] = {
        {"C:\\Mapas\\A\xC3\xB1o", QStringLiteral("C:\\Mapas\\Año")},
        {"C:\\Mapas\\A\xF1o", QStringLiteral("C:\\Mapas\\Año")},
        // 1252's own letters at 80..9F; 81 is a free place.
        {"\x80 \x9F \x81", QString::fromUtf16(u"\u20AC \u0178 \u0081")},
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(ReadText("[Aplicacion]\nCarpeta=" + bytes + "\n").folder, expected);
    }
}

TEST(ReadSettingsTest, LongValueIsCutAt2047CharactersWithoutSplittingAPair) {
    EXPECT_EQ(ReadText("[Aplicacion]\nFichero=" + QByteArray(5000, 'n')).bmpName,
              QString(IniFile::kMaxValueLength, u'n'));
    // 2046 letters, then a character outside the basic plane (two UTF-16 units).
    const QByteArray value = QByteArray(2046, 'a') + "\xF0\x9F\x97\xBA" + "tail";
    EXPECT_EQ(ReadText("[Aplicacion]\nFichero=" + value).bmpName, QString(2046, u'a'));
}

TEST(ReadSettingsTest, NulByteDoesNotHideTheRestOfTheFile) {
    static const char raw[] = "[Mosaicos]\nUTMSupIzqX=58\0"
                              "5000\nCobertura=3\n";
    const StoredSettings s = ReadText(QByteArray(raw, sizeof(raw) - 1));
    EXPECT_EQ(s.coveragePosition, 3);
    EXPECT_EQ(s.eastingText, "58 5000");
}

// Unlike the defaults (CompeGPS aside, set where read back), so that a key not written
// or not read shows.
StoredSettings Sample() {
    StoredSettings s;
    s.coveragePosition = 3;
    s.tilesDownPosition = 0;
    s.tilesAcrossPosition = 9;
    s.eastingText = QStringLiteral("600000");
    s.northingText = QStringLiteral("700000");
    s.folder = QStringLiteral("C:\\Mapas\\Año");
    s.bmpName = QStringLiteral("Sierra");
    s.deleteTiles = true;
    s.saveBmp = false;
    s.kind = MapKind::MDT;
    s.saveOzi = true;
    return s;
}

TEST(WriteSettingsTest, NewFileHasTheTwelveKeysInOrder) {
    // Written by hand from the table of keys: sections in the order of their first key.
    const QByteArray golden = ReadAll(QStringLiteral(MORVEL_TEST_DATA_DIR "/ui/settings-new.ini"));
    ASSERT_FALSE(golden.isEmpty());
    EXPECT_EQ(Written(Sample()), golden);
}

TEST(WriteSettingsTest, ExistingFileKeepsItsLayoutAndSavingAgainChangesNothing) {
    const QByteArray out = Written(Sample(), "; Morvel\r\n[APLICACION]\r\nfichero=Viejo\r\nOtra=1"
                                             "\r\n\r\n\r\n\r\n[Mosaicos]\r\nCobertura=1\r\n"
                                             "Cobertura=2\r\n");
    // Comment, foreign key and the file's own spelling stay; values are replaced where
    // they stood; duplicates fold into the first, the one read; CR LF stays.
    EXPECT_TRUE(out.startsWith("; Morvel\r\n"));
    EXPECT_TRUE(out.contains("[APLICACION]\r\nfichero=Sierra\r\nOtra=1\r\n")) << out.constData();
    EXPECT_TRUE(out.contains("[Mosaicos]\r\nCobertura=3\r\n"));
    EXPECT_EQ(out.count("Cobertura="), 1);
    EXPECT_FALSE(out.contains("\n\n")) << "every line ends with CR LF";
    EXPECT_LT(out.indexOf("[APLICACION]"), out.indexOf("[Mosaicos]"));
    EXPECT_EQ(Written(Sample(), out), out);
}

// A key written twice into a file that did not exist yet is one key.
TEST(WriteSettingsTest, AKeyWrittenTwiceIntoANewFileIsOneKey) {
    const CurrentDirScope cwd;
    IniFile ini(cwd.file("nuevo.ini"));
    ini.writeString("Aplicacion", "Fichero", QStringLiteral("uno"));
    ini.writeString("Aplicacion", "Fichero", QStringLiteral("dos"));
    EXPECT_EQ(ini.contents().count("Fichero="), 1) << ini.contents().constData();
    EXPECT_EQ(ini.value("Aplicacion", "Fichero"), QStringLiteral("dos"));
}

TEST(WriteSettingsTest, SavedFileReadsBackAndLeavesNoTemporaryFile) {
    const CurrentDirScope cwd;
    WriteAll(cwd.file("Morvel.ini"), "[Aplicacion]\nFichero=Viejo\n");
    StoredSettings s = Sample();
    s.saveCompe = true;
    s.server = QStringLiteral("https://mapas.example");
    s.bmpName = QStringLiteral("uno\ndos"); // a line break cannot stand in a value
    {
        IniFile ini(SettingsPath());
        WriteSettings(ini, s);
        ASSERT_TRUE(ini.save());
    }
    EXPECT_EQ(QDir(cwd.path()).entryList(QDir::Files), QStringList{"Morvel.ini"});
    const StoredSettings back = ReadSettings(IniFile(SettingsPath()));
    EXPECT_EQ(back.bmpName, "uno dos");
    s.bmpName = back.bmpName;
    EXPECT_EQ(Written(back), Written(s));
}

// Unlike the files of a run, Morvel.ini is written through a link: users keep it linked to
// a file of their own on purpose.
TEST(WriteSettingsTest, ALinkedFileIsWrittenThroughTheLink) {
    const CurrentDirScope cwd;
    QTemporaryDir own;
    const QString mine = own.filePath(QStringLiteral("mio.ini"));
    WriteAll(mine, "[Aplicacion]\nFichero=Viejo\n");
    ASSERT_TRUE(QFile::link(mine, cwd.file(QStringLiteral("Morvel.ini"))));
    {
        IniFile ini(SettingsPath());
        ini.writeString("Aplicacion", "Fichero", QStringLiteral("Nuevo"));
        ASSERT_TRUE(ini.save());
    }
    EXPECT_TRUE(QFileInfo(cwd.file(QStringLiteral("Morvel.ini"))).isSymLink());
    EXPECT_EQ(ReadAll(mine), "[Aplicacion]\nFichero=Nuevo\n");
}

// A file that cannot be saved says why, as every file of the program does.
TEST(WriteSettingsTest, UnsavedFileGivesTheCause) {
    const CurrentDirScope cwd;
    ASSERT_TRUE(QDir(cwd.path()).mkdir(QStringLiteral("Morvel.ini")));
    IniFile ini(SettingsPath());
    WriteSettings(ini, Sample());
    QString error;
    EXPECT_FALSE(ini.save(&error));
    EXPECT_EQ(error, LocalWriteErrorFor(EISDIR).reason);
}

} // namespace
