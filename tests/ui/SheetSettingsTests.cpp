// The keys of a set of sheets in the settings file: what they ask for, read as the window
// and --batch read them, and written back as the window writes them.
#include "job/MapKinds.h"
#include "ui/SheetSettings.h"

#include <QDir>

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kFolder = QDir::toNativeSeparators(QStringLiteral("/srv/mapas"));

StoredSettings With(std::optional<QString> to, std::optional<QString> track,
                    std::optional<QString> margin = {}, std::optional<QString> overlap = {}) {
    StoredSettings s; // corner 585000 / 730000
    s.sheetsTo = std::move(to);
    s.track = std::move(track);
    s.margin = std::move(margin);
    s.overlap = std::move(overlap);
    return s;
}

TEST(SheetSettings, SayWhatSetTheFileAsksFor) {
    EXPECT_FALSE(ReadSheetSettings(With({}, {}), kFolder).wanted);
    // Empty keys ask for one run, as a window that went back to one writes them.
    EXPECT_FALSE(
        ReadSheetSettings(With(QString(), QStringLiteral(" "), "800", "1"), kFolder).wanted);

    const SheetSettings box = ReadSheetSettings(With(QStringLiteral("620000,700000"), {}), kFolder);
    ASSERT_TRUE(box.wanted);
    EXPECT_TRUE(box.problem.isEmpty());
    EXPECT_EQ(box.source.kind, SheetSource::Kind::Box);
    EXPECT_EQ(std::make_tuple(box.source.box.west, box.source.box.north, box.source.box.east,
                              box.source.box.south, box.source.overlap),
              std::make_tuple(585000.0, 4730000.0, 620000.0, 4700000.0, 0));

    const SheetSettings track =
        ReadSheetSettings(With({}, QStringLiteral("rutas/vuelta.gpx"), {}, "2"), kFolder);
    ASSERT_TRUE(track.wanted);
    EXPECT_EQ(track.source.kind, SheetSource::Kind::Track);
    EXPECT_EQ(track.source.trackPath,
              QDir::toNativeSeparators(QStringLiteral("/srv/mapas/rutas/vuelta.gpx")));
    EXPECT_EQ(track.source.margin, kDefaultTrackMargin);
    EXPECT_EQ(track.source.overlap, 2);
    EXPECT_EQ(ReadSheetSettings(With({}, "/rutas/a.gpx", " 1250 "), kFolder).source.margin, 1250);

    const struct {
        StoredSettings settings;
        const char* problem;
    } refused[] = {
        {With("620000;700000", {}),
         "El valor «620000;700000» de Hasta en [Mosaicos] no es válido: debe ser X,Y de la "
         "esquina inferior derecha, como UTMSupIzqX y UTMSupIzqY."},
        {With("620000,700000", {}, {}, "uno"),
         "El valor «uno» de Solape en [Mosaicos] no es válido: debe ser un número de mosaicos de "
         "0 a 2."},
        {With({}, "a.gpx", "-5"),
         "El valor «-5» de Margen en [Mosaicos] no es válido: debe ser un número de metros."},
    };
    for (const auto& row : refused) {
        EXPECT_EQ(ReadSheetSettings(row.settings, kFolder).problem, QString::fromUtf8(row.problem));
    }
}

TEST(SheetSettings, AreWrittenBackForTheSetChosenOrForNone) {
    SheetSource box;
    box.box = {600000, 4720000, 640000, 4742000};
    box.overlap = 1;
    StoredSettings s = With({}, {});
    StoreSheetSettings(s, box, kFolder, MapKind::Orto, 500);
    EXPECT_EQ(std::make_tuple(s.eastingText, s.northingText, s.sheetsTo, s.overlap, s.track,
                              s.sheetCoverage, s.sheetKind),
              std::make_tuple(QString("600000"), QString("742000"),
                              std::optional<QString>("640000,720000"), std::optional<QString>("1"),
                              std::optional<QString>(), std::optional<QString>("500"),
                              std::optional<QString>("1")));
    // And read back, the same box.
    const SheetSettings back = ReadSheetSettings(s, kFolder);
    EXPECT_EQ(std::make_tuple(back.source.box.west, back.source.box.north, back.source.box.east,
                              back.source.box.south),
              std::make_tuple(600000.0, 4742000.0, 640000.0, 4720000.0));

    SheetSource track;
    track.kind = SheetSource::Kind::Track;
    track.trackPath = QDir::toNativeSeparators(QStringLiteral("/srv/mapas/rutas/vuelta.gpx"));
    track.margin = 750.4;
    StoreSheetSettings(s, track, kFolder, MapKind::Carto, 2000);
    EXPECT_EQ(s.track, QDir::toNativeSeparators(QStringLiteral("rutas/vuelta.gpx")));
    EXPECT_EQ(s.margin, QStringLiteral("750"));
    EXPECT_EQ(s.sheetsTo, QString()); // the file had it: now empty
    EXPECT_EQ(std::make_tuple(s.sheetCoverage, s.sheetKind),
              std::make_tuple(std::optional<QString>("2000"), std::optional<QString>("0")));
    track.trackPath = QDir::toNativeSeparators(QStringLiteral("/home/ana/vuelta.gpx"));
    StoreSheetSettings(s, track, kFolder, MapKind::Carto, 2000);
    EXPECT_EQ(s.track, track.trackPath);

    // None: the keys the file had ask for one run; those it had not stay out.
    StoreSheetSettings(s, std::nullopt, kFolder, MapKind::Orto, 5000);
    EXPECT_EQ(std::make_tuple(s.sheetsTo, s.track, s.margin, s.sheetCoverage, s.sheetKind),
              std::make_tuple(std::optional<QString>(QString()), std::optional<QString>(QString()),
                              std::optional<QString>("750"), std::optional<QString>(QString()),
                              std::optional<QString>(QString())));
    StoredSettings plain = With({}, {});
    StoreSheetSettings(plain, std::nullopt, kFolder, MapKind::Orto, 5000);
    EXPECT_FALSE(plain.sheetsTo || plain.track || plain.margin || plain.overlap ||
                 plain.sheetCoverage || plain.sheetKind);
}

// The coverage and map kind a set was chosen at come back with it, for --batch as for the
// window; without them (an earlier version's file) the job's own stand; a value that names
// no coverage of the kind is refused.
TEST(SheetSettings, KeepTheCoverageAndMapKindTheSetWasChosenAt) {
    DownloadJob job; // orthophoto, "Cobertura" position 0: 5000 m
    job.kind = MapKind::Orto;
    job.coveragePosition = 0;
    LookupCoverage(job, 0, QStringLiteral("http://mapas.example.org"));
    const auto withCoverage = [](std::optional<QString> metres, std::optional<QString> kind) {
        StoredSettings s = With(QStringLiteral("620000,700000"), {});
        s.sheetCoverage = std::move(metres);
        s.sheetKind = std::move(kind);
        return s;
    };
    const struct {
        StoredSettings settings;
        MapKind kind;
        int32_t tileSize;
        const char* problem;
    } table[] = {
        {withCoverage("500", {}), MapKind::Orto, 500, nullptr},
        {withCoverage(" 4000 ", "2"), MapKind::MDT, 4000, nullptr},
        {withCoverage({}, "0"), MapKind::Carto, 2000, nullptr}, // Cobertura's position
        {withCoverage({}, {}), MapKind::Orto, 5000, nullptr},
        {withCoverage("", ""), MapKind::Orto, 5000, nullptr},
        {withCoverage("2000", "1"), MapKind::Orto, 0,
         "El valor «2000» de CoberturaHojas en [Mosaicos] no es válido: debe ser el lado de un "
         "mosaico en metros: 5000, 1000, 500, 250 o 100."},
        {withCoverage("500", "3"), MapKind::Orto, 0,
         "El valor «3» de TipoHojas en [Mosaicos] no es válido: debe ser 0 (cartografía), 1 "
         "(ortofoto) o 2 (M.D.T.)."},
    };
    for (const auto& row : table) {
        const SheetSettings read = ReadSheetSettings(row.settings, kFolder);
        if (row.problem) {
            EXPECT_EQ(read.problem, QString::fromUtf8(row.problem));
            continue;
        }
        ASSERT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
        const DownloadJob set = SheetSetJob(job, read);
        EXPECT_EQ(
            std::make_tuple(set.kind, set.tileSize, set.requestPrefix),
            std::make_tuple(row.kind, row.tileSize,
                            RequestPrefix(row.kind, QStringLiteral("http://mapas.example.org"))))
            << row.tileSize;
        EXPECT_EQ(set.coveragePosition, 0); // "Cobertura" as it was read
    }
}

} // namespace
