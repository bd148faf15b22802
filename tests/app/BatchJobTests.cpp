// The job a settings file gives a run without windows: the window's reading rules, its
// corner fields' mask, its recompute and its checks, with the window's messages.
#include "app/BatchRun.h"

#include "job/MapKinds.h"
#include "ui/IniFile.h"

#include <gtest/gtest.h>

namespace {

struct JobCase {
    const char* name;
    const char* lines; // after "[Mosaicos]", "[Aplicacion]" or "[Calibracion]" as they name
    const char* problem;
    // What the job is, when there is no problem.
    MapKind kind = MapKind::Orto;
    int tileSize = 5000;
    int across = 5;
    int down = 5;
    int easting = 585000;
    int northing = 730000;
    const char* server = nullptr; // the built-in one
    int connections = 2;
    int32_t printScale = kDefaultPrintScale;
    PrintPaper printPaper = PrintPaper::A4;
};
void PrintTo(const JobCase& c, std::ostream* out) {
    *out << c.name;
}

class BatchJobTest : public ::testing::TestWithParam<JobCase> {};

TEST_P(BatchJobTest, FromSettings) {
    const JobCase& c = GetParam();
    IniFile ini(QStringLiteral("unused.ini"));
    ini.loadFromBytes(QByteArray(c.lines));
    const BatchJob batch = BatchJobFromSettings(ReadSettings(ini));
    EXPECT_EQ(batch.problem, QString::fromUtf8(c.problem));
    if (!batch.problem.isEmpty()) {
        return;
    }
    const DownloadJob& job = batch.job;
    EXPECT_EQ(job.kind, c.kind);
    EXPECT_EQ(job.tileSize, c.tileSize);
    EXPECT_EQ(job.tilesAcross, c.across);
    EXPECT_EQ(job.tilesDown, c.down);
    EXPECT_EQ(job.easting, c.easting);
    EXPECT_EQ(job.northingField, c.northing);
    EXPECT_EQ(job.widthPixels, c.across * kTilePixels);
    EXPECT_EQ(job.heightPixels, c.down * kTilePixels);
    const QString server = c.server ? QString::fromUtf8(c.server) : MapServerBase();
    EXPECT_EQ(job.requestPrefix, RequestPrefix(c.kind, server));
    EXPECT_EQ(batch.connections, c.connections);
    EXPECT_EQ(job.printScale, c.printScale);
    EXPECT_EQ(job.printPaper, c.printPaper);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BatchJobTest,
    ::testing::Values(
        // Every key missing: the window's defaults.
        JobCase{"Defaults", "", ""},
        JobCase{"TerrainGrid",
                "[Mosaicos]\nTipoMosaico=2\nCobertura=1\nMosaicosAncho=9\nMosaicosAlto=0\n", "",
                MapKind::MDT, 8000, 10, 1},
        JobCase{"CartoSmallest", "[Mosaicos]\nTipoMosaico=0\nCobertura=4\n", "", MapKind::Carto,
                100},
        // The corners as the fields' mask reads them.
        JobCase{"CornersThroughTheMask", "[Mosaicos]\nUTMSupIzqX=600.000\nUTMSupIzqY=7200009\n", "",
                MapKind::Orto, 5000, 5, 5, 600000, 720000},
        JobCase{"CornerNoNumber", "[Mosaicos]\nUTMSupIzqX=58a000\n",
                "Introduzca coordenadas UTM válidas"},
        JobCase{"CornerEmpty", "[Mosaicos]\nUTMSupIzqY=\n", "Introduzca coordenadas UTM"},
        JobCase{"XOutOfRange", "[Mosaicos]\nUTMSupIzqX=536999\n",
                "Coordenadas UTM X fuera de límites"},
        JobCase{"YOutOfRange", "[Mosaicos]\nUTMSupIzqY=800001\n",
                "Coordenadas UTM Y fuera de límites"},
        JobCase{"NameWithFolder", "[Aplicacion]\nFichero=mapas/Prueba\n",
                "El nombre del fichero BMP no puede contener «/»"},
        JobCase{"NameBlank", "[Aplicacion]\nFichero=  \n", "Introduzca el nombre del fichero BMP"},
        JobCase{"ServerAndConnections",
                "[Aplicacion]\nServidor= http://mapas.example.org:81// \nConexiones=6\n", "",
                MapKind::Orto, 5000, 5, 5, 585000, 730000, "http://mapas.example.org:81", 6},
        JobCase{"ConnectionsOutOfRange", "[Aplicacion]\nServidor=\nConexiones=7\n", ""},
        // The PDF's scale and paper, and the BMP's density with them.
        JobCase{"PrintScaleAndPaper", "[Imprimir]\nEscala=50000\nPapel=A3\n", "", MapKind::Orto,
                5000, 5, 5, 585000, 730000, nullptr, 2, 50000, PrintPaper::A3},
        JobCase{"PrintKeysOutOfRange", "[Imprimir]\nEscala=30000\nPapel=A5\n", ""}));

} // namespace
