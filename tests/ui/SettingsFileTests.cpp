// The settings file: reading rules, the keys written, and how the file is replaced.
#include "ui/IniFile.h"
#include "ui/Settings.h"

#include "UiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

StoredSettings ReadText(const QByteArray& text) {
    IniFile ini(QStringLiteral("unused.ini"));
    ini.loadFromBytes(text);
    return ReadSettings(ini);
}

// --- Integers ------------------------------------------------------------------------

struct IntegerCase {
    const char* text;
    std::optional<int64_t> expected;
};

class IniIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IniIntegerTest, ReadsWholeNumbersOnly) {
    const IntegerCase& c = GetParam();
    EXPECT_EQ(ParseIniInteger(QString::fromUtf8(c.text)), c.expected) << c.text;
}

// "0x" followed by digits is hexadecimal; anything that is not a whole number is missing.
INSTANTIATE_TEST_SUITE_P(
    Rules, IniIntegerTest,
    ::testing::Values(IntegerCase{"12", 12}, IntegerCase{"-3", -3}, IntegerCase{"+4", 4},
                      IntegerCase{"0x1F", 31}, IntegerCase{"0X1f", 31}, IntegerCase{"0x", {}},
                      IntegerCase{"0x7G", {}}, IntegerCase{"abc", {}}, IntegerCase{"12ab", {}},
                      IntegerCase{"1.5", {}}, IntegerCase{"", {}}, IntegerCase{"-", {}},
                      IntegerCase{" 7 ", 7},
                      // Too long for any integer, still a whole number: out of range.
                      IntegerCase{"99999999999999999999999", std::numeric_limits<int64_t>::max()},
                      IntegerCase{"0xFFFFFFFFFFFFFFFFFFFF", std::numeric_limits<int64_t>::max()}));

// --- Reading the twelve keys ---------------------------------------------------------

TEST(ReadSettingsTest, MissingFileGivesTheDefaults) {
    const CurrentDirScope cwd;
    const IniFile ini(SettingsPath());
    const StoredSettings s = ReadSettings(ini);
    EXPECT_EQ(s.coveragePosition, 0);
    EXPECT_EQ(s.tilesDownPosition, 4);
    EXPECT_EQ(s.tilesAcrossPosition, 4);
    EXPECT_EQ(s.eastingText, "585000");
    EXPECT_EQ(s.northingText, "730000");
    EXPECT_EQ(s.folder, QDir::toNativeSeparators(cwd.path()));
    EXPECT_EQ(s.bmpName, "Prueba");
    EXPECT_FALSE(s.deleteTiles);
    EXPECT_TRUE(s.saveBmp);
    EXPECT_EQ(s.kind, MapKind::Orto);
    EXPECT_FALSE(s.saveOzi);
    EXPECT_FALSE(s.saveCompe);
    EXPECT_FALSE(s.server.has_value());
}

struct IntegerKeyCase {
    const char* file;
    std::function<int(const StoredSettings&)> field;
    int expected;
    const char* why;
};

class IntegerKeyTest : public ::testing::TestWithParam<IntegerKeyCase> {};

TEST_P(IntegerKeyTest, AppliesDefaultAndRange) {
    const IntegerKeyCase& c = GetParam();
    EXPECT_EQ(c.field(ReadText(c.file)), c.expected) << c.why;
}

const auto kCoverage = [](const StoredSettings& s) { return s.coveragePosition; };
const auto kDown = [](const StoredSettings& s) { return s.tilesDownPosition; };
const auto kAcross = [](const StoredSettings& s) { return s.tilesAcrossPosition; };
const auto kKind = [](const StoredSettings& s) { return static_cast<int>(s.kind); };

INSTANTIATE_TEST_SUITE_P(
    Table, IntegerKeyTest,
    ::testing::Values(
        IntegerKeyCase{"[Mosaicos]\nMosaicosAlto=12\n", kDown, 0, "out of range gives 0, 1 tile"},
        IntegerKeyCase{"[Mosaicos]\nMosaicosAlto=abc\n", kDown, 4, "no number: the default 4"},
        IntegerKeyCase{"[Mosaicos]\nMosaicosAlto=0x9\n", kDown, 9, "hexadecimal 9"},
        IntegerKeyCase{"[Mosaicos]\nMosaicosAncho=9\n", kAcross, 9, "highest, ten tiles"},
        IntegerKeyCase{"[Mosaicos]\nMosaicosAncho=-1\n", kAcross, 0, "below range gives 0"},
        IntegerKeyCase{"[Mosaicos]\nTipoMosaico=7\n", kKind, 0, "7 gives Cartografia"},
        IntegerKeyCase{"[Mosaicos]\nTipoMosaico=2\n", kKind, 2, "M.D.T."},
        IntegerKeyCase{"[Mosaicos]\nTipoMosaico=\n", kKind, 1, "empty: the default"},
        IntegerKeyCase{"[Mosaicos]\nCobertura=5\n", kCoverage, 0, "only 0..4"},
        IntegerKeyCase{"[Mosaicos]\nCobertura=0x3\n", kCoverage, 3, "hexadecimal 3"},
        IntegerKeyCase{"[Mosaicos]\nCobertura=99999999999999999999\n", kCoverage, 0,
                       "huge number: out of range"},
        IntegerKeyCase{"[Aplicacion]\nCobertura=3\n", kCoverage, 0, "key of another section"},
        IntegerKeyCase{"[mOSAICOS]\nCOBERTURA=2\n", kCoverage, 2, "names in another case"},
        IntegerKeyCase{"[Mosaicos]\nCobertura=1\nCobertura=2\n", kCoverage, 1,
                       "first of duplicate keys"},
        IntegerKeyCase{"[Mosaicos]\nCobertura=1\n[Mosaicos]\nMosaicosAlto=2\n", kDown, 2,
                       "a section given twice"}));

struct FlagCase {
    const char* file;
    bool expected;
};

class FlagTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlagTest, OnlyExactSiIsOn) {
    EXPECT_EQ(ReadText(GetParam().file).saveBmp, GetParam().expected) << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(GrabarBMP, FlagTest,
                         ::testing::Values(FlagCase{"", true}, // missing: default "SI"
                                           FlagCase{"[Aplicacion]\nGrabarBMP=SI\n", true},
                                           FlagCase{"[Aplicacion]\nGrabarBMP=si\n", false},
                                           FlagCase{"[Aplicacion]\nGrabarBMP=Si\n", false},
                                           FlagCase{"[Aplicacion]\nGrabarBMP=SIN\n", false},
                                           FlagCase{"[Aplicacion]\nGrabarBMP=\n", false},
                                           FlagCase{"[Aplicacion]\nGrabarBMP=NO\n", false}));

TEST(ReadSettingsTest, OtherFlagsAndStrings) {
    const StoredSettings s = ReadText("[Mosaicos]\nBorrarMosaico=SI\nUTMSupIzqX=12ab56\n"
                                      "UTMSupIzqY= 700000 \n"
                                      "[Calibracion]\nOziExplorer=SI\nCompeGPS=no\n"
                                      "[Aplicacion]\nFichero=Mapa 1\nCarpeta=/data/mapas\n"
                                      "Servidor=http://10.0.0.5:81\n");
    EXPECT_TRUE(s.deleteTiles);
    EXPECT_TRUE(s.saveOzi);
    EXPECT_FALSE(s.saveCompe);
    EXPECT_EQ(s.eastingText, "12ab56"); // strings are taken unchecked
    EXPECT_EQ(s.northingText, "700000");
    EXPECT_EQ(s.bmpName, "Mapa 1");
    EXPECT_EQ(s.folder, "/data/mapas");
    EXPECT_EQ(s.server, QStringLiteral("http://10.0.0.5:81"));
}

// --- Text encoding and length ----------------------------------------------------------

struct DecodeCase {
    QByteArray bytes;
    QString expected;
    const char* why;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Utf8ElseWindows1252) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(DecodeIniValue(c.bytes), c.expected) << c.why;
    const StoredSettings s = ReadText("[Aplicacion]\nCarpeta=" + c.bytes + "\n");
    EXPECT_EQ(s.folder, c.expected) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DecodeTest,
    ::testing::Values(
        DecodeCase{"C:\\Mapas\\A\xC3\xB1o", QStringLiteral("C:\\Mapas\\Año"), "valid UTF-8"},
        DecodeCase{"C:\\Mapas\\A\xF1o", QStringLiteral("C:\\Mapas\\Año"), "1252: F1 is n tilde"},
        DecodeCase{"\x80 \x9F \x81", QString::fromUtf16(u"\u20AC \u0178 \u0081"),
                   "1252's own letters at 80..9F; 81 is free"},
        DecodeCase{"plain", QStringLiteral("plain"), "ASCII"}));

TEST(ReadSettingsTest, LongValueIsCutAt2047Characters) {
    const QByteArray longName(5000, 'n');
    const StoredSettings s = ReadText("[Aplicacion]\nFichero=" + longName + "\n");
    EXPECT_EQ(s.bmpName, QString(IniFile::kMaxValueLength, u'n'));
}

TEST(ReadSettingsTest, CutDoesNotSplitACharacterPair) {
    // 2046 letters, then a character outside the basic plane (two UTF-16 units).
    const QByteArray value = QByteArray(2046, 'a') + "\xF0\x9F\x97\xBA" + "tail";
    const StoredSettings s = ReadText("[Aplicacion]\nFichero=" + value + "\n");
    EXPECT_EQ(s.bmpName, QString(2046, u'a'));
}

// --- Files that are not what they should be ---------------------------------------------

TEST(ReadSettingsTest, NulByteDoesNotHideTheRestOfTheFile) {
    static const char raw[] = "[Mosaicos]\nUTMSupIzqX=58\0"
                              "5000\nCobertura=3\n";
    const QByteArray text(raw, sizeof(raw) - 1);
    const StoredSettings s = ReadText(text);
    EXPECT_EQ(s.coveragePosition, 3);
    EXPECT_EQ(s.eastingText, "58 5000");
}

TEST(ReadSettingsTest, BinaryAndEnormousFilesGiveInRangeValues) {
    QRandomGenerator random(1234);
    QByteArray binary(64 * 1024, '\0');
    for (char& c : binary) {
        c = static_cast<char>(random.bounded(256));
    }
    const QByteArray enormous =
        "[Aplicacion]\nFichero=" + QByteArray(8 * 1024 * 1024, 'x') + "\n[Mosaicos]\nCobertura=2\n";
    for (const QByteArray& text : {QByteArray(), binary, enormous}) {
        const StoredSettings s = ReadText(text);
        EXPECT_GE(s.coveragePosition, 0);
        EXPECT_LE(s.coveragePosition, 4);
        EXPECT_GE(s.tilesDownPosition, 0);
        EXPECT_LE(s.tilesDownPosition, 9);
        EXPECT_LE(s.bmpName.size(), IniFile::kMaxValueLength);
    }
    EXPECT_EQ(ReadText(enormous).coveragePosition, 2);
}

// --- Writing -------------------------------------------------------------------------------

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
    s.saveCompe = false;
    return s;
}

TEST(WriteSettingsTest, NewFileHasTheTwelveKeysInOrder) {
    IniFile ini(QStringLiteral("unused.ini"));
    WriteSettings(ini, Sample());
    // Golden file, written by hand from the table of keys: sections in the order of their
    // first key, UTF-8 text, "SI"/"NO" flags, positions as numbers.
    const QByteArray golden = ReadAll(QStringLiteral(MORVEL_TEST_DATA_DIR "/ui/settings-new.ini"));
    ASSERT_FALSE(golden.isEmpty());
    EXPECT_EQ(ini.contents(), golden);
}

TEST(WriteSettingsTest, ServerIsWrittenOnlyWhenPresent) {
    IniFile without(QStringLiteral("unused.ini"));
    WriteSettings(without, Sample());
    EXPECT_FALSE(without.contents().contains("Servidor"));

    StoredSettings s = Sample();
    s.server = QStringLiteral("http://127.0.0.1:8037");
    IniFile with(QStringLiteral("unused.ini"));
    WriteSettings(with, s);
    EXPECT_TRUE(with.contents().contains("\nServidor=http://127.0.0.1:8037\n"));
}

TEST(WriteSettingsTest, ExistingFileKeepsItsLayout) {
    IniFile ini(QStringLiteral("unused.ini"));
    ini.loadFromBytes("; Morvel\r\n[APLICACION]\r\nfichero=Viejo\r\nOtra=1\r\n"
                      "[Mosaicos]\r\nCobertura=1\r\nCobertura=2\r\n");
    WriteSettings(ini, Sample());
    const QByteArray out = ini.contents();
    // Comment, foreign key and the file's own spelling of names stay; values are
    // replaced where they stood; duplicates fold into the first, the one read; CR LF stays.
    EXPECT_TRUE(out.startsWith("; Morvel\r\n"));
    EXPECT_TRUE(out.contains("[APLICACION]\r\nfichero=Sierra\r\nOtra=1\r\n")) << out.constData();
    EXPECT_TRUE(out.contains("[Mosaicos]\r\nCobertura=3\r\n"));
    EXPECT_EQ(out.count("Cobertura="), 1);
    EXPECT_FALSE(out.contains("\n\n")) << "every line ends with CR LF";
    EXPECT_LT(out.indexOf("[APLICACION]"), out.indexOf("[Mosaicos]"));
}

TEST(WriteSettingsTest, WrittenFileReadsBackToTheSameSettings) {
    const CurrentDirScope cwd;
    StoredSettings s = Sample();
    s.server = QStringLiteral("https://mapas.example");
    s.bmpName = QStringLiteral("uno\ndos"); // a line break cannot stand in a value
    {
        IniFile ini(SettingsPath());
        WriteSettings(ini, s);
        ASSERT_TRUE(ini.save());
    }
    const StoredSettings back = ReadSettings(IniFile(SettingsPath()));
    EXPECT_EQ(back.coveragePosition, s.coveragePosition);
    EXPECT_EQ(back.tilesDownPosition, s.tilesDownPosition);
    EXPECT_EQ(back.tilesAcrossPosition, s.tilesAcrossPosition);
    EXPECT_EQ(back.eastingText, s.eastingText);
    EXPECT_EQ(back.northingText, s.northingText);
    EXPECT_EQ(back.folder, s.folder);
    EXPECT_EQ(back.bmpName, "uno dos");
    EXPECT_EQ(back.deleteTiles, s.deleteTiles);
    EXPECT_EQ(back.saveBmp, s.saveBmp);
    EXPECT_EQ(back.kind, s.kind);
    EXPECT_EQ(back.saveOzi, s.saveOzi);
    EXPECT_EQ(back.saveCompe, s.saveCompe);
    EXPECT_EQ(back.server, s.server);
}

TEST(WriteSettingsTest, SavingAgainChangesNothing) {
    IniFile first(QStringLiteral("unused.ini"));
    first.loadFromBytes("; Morvel\n\n; settings\n[Aplicacion]\nOtra=1\n\n\n\n[Mas]\nX=1\n");
    WriteSettings(first, Sample());
    IniFile second(QStringLiteral("unused.ini"));
    second.loadFromBytes(first.contents());
    WriteSettings(second, Sample());
    EXPECT_EQ(second.contents(), first.contents());
}

TEST(IniFileSaveTest, ReplacesTheFileWithoutLeavingTemporaryFiles) {
    const CurrentDirScope cwd;
    WriteAll(cwd.file("Morvel.ini"), "[Aplicacion]\nFichero=Viejo\n");
    IniFile ini(SettingsPath());
    ini.writeString("Aplicacion", "Fichero", QStringLiteral("Nuevo"));
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(ReadAll(cwd.file("Morvel.ini")), "[Aplicacion]\nFichero=Nuevo\n");
    EXPECT_EQ(QDir(cwd.path()).entryList(QDir::Files), QStringList{"Morvel.ini"});
}

TEST(IniFileSaveTest, UnwritableFolderFailsAndKeepsTheOldFile) {
    const CurrentDirScope cwd;
    const QByteArray old = "[Aplicacion]\nFichero=Viejo\n";
    WriteAll(cwd.file("Morvel.ini"), old);
    IniFile ini(SettingsPath());
    ini.writeString("Aplicacion", "Fichero", QStringLiteral("Nuevo"));
    const ReadOnlyFolder readOnly(cwd.path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "this system lets every write through";
    }
    EXPECT_FALSE(ini.save());
    EXPECT_EQ(ReadAll(cwd.file("Morvel.ini")), old);
}

} // namespace
