#pragma once

#include "job/DownloadJob.h"
#include "ui/IniFile.h"

#include <QString>

#include <array>
#include <optional>

// Where the settings live: a file in the process's current directory at each access.
QString SettingsPath();

// What the settings file keeps from one use of the program to the next, as read (with
// defaults and range rules applied) or as to be written.
struct StoredSettings {
    int coveragePosition = 0;                        // "Cobertura", 0..4
    int tilesDownPosition = 4;                       // "MosaicosAlto": tiles down minus 1, 0..9
    int tilesAcrossPosition = 4;                     // "MosaicosAncho": tiles across minus 1, 0..9
    QString eastingText = QStringLiteral("585000");  // "UTMSupIzqX"
    QString northingText = QStringLiteral("730000"); // "UTMSupIzqY", northing less 4,000,000
    QString folder;                                  // "Carpeta"
    QString bmpName = QStringLiteral("Prueba");      // "Fichero"
    bool deleteTiles = false;                        // "BorrarMosaico"
    bool saveBmp = true;                             // "GrabarBMP"
    MapKind kind = MapKind::Orto;                    // "TipoMosaico"
    bool saveOzi = false;                            // "OziExplorer"
    bool saveCompe = false;                          // "CompeGPS"
    // "Servidor": another map server than the built-in one; written back only when the
    // file had it.
    std::optional<QString> server;
    // "Conexiones": transfers in flight to the server at once, 1 to 6; a value out of
    // range counts as the default. Written back only when the file had it.
    std::optional<int> connections;
    // "Datum" in [Calibracion]: ED50 or WGS84 for the GPS calibration files, and
    // "Georreferencia": SI writes the world file. Each is written back when the file had
    // it or the user chose WGS 84, or the world file.
    CalibrationDatum datum = CalibrationDatum::Ed50;
    bool datumStored = false;
    bool worldFile = false;
    bool worldFileStored = false;
    // "[Exportar]": "GeoTIFF", "GeoPackage", "MBTiles", "KMZ" and "PDF", by ExportFormat;
    // each written back when the file had it or it is on.
    struct Export {
        bool on = false;
        bool stored = false;
    };
    std::array<Export, kExportFormats.size()> exports{};
    // "[Imprimir]": "Escala" (10000, 25000 or 50000) and "Papel" ("A4" or "A3") of the PDF
    // to print and of the BMP's pixel density; anything else counts as the default. Both
    // written back when the file had either or the user chose them.
    int32_t printScale = kDefaultPrintScale;
    PrintPaper printPaper = PrintPaper::A4;
    bool printStored = false;
    // "Hasta", "Ruta", "Margen" and "Solape" in [Mosaicos]: the area as a set of sheets, a
    // box from the upper-left corner to "Hasta" or a track with its margin, and the tiles
    // neighbouring sheets share; "CoberturaHojas" (metres) and "TipoHojas", the coverage and
    // map kind the set was chosen at (ui/SheetSettings reads them). Kept as written, and
    // written back when the file had them or the user chose a set.
    std::optional<QString> sheetsTo;
    std::optional<QString> track;
    std::optional<QString> margin;
    std::optional<QString> overlap;
    std::optional<QString> sheetCoverage;
    std::optional<QString> sheetKind;
    // "VentanaMapa" in [Aplicacion]: where the "Mapa" window was and its size, as
    // ui/WindowPlace writes it. Kept as written, and written back when the file had it or
    // the window was opened.
    std::optional<QString> mapWindow;

    int connectionsOrDefault() const;
};

// Reads every key with its default; a missing "Carpeta" gives the current directory.
StoredSettings ReadSettings(const IniFile& ini);

// Writes the twelve keys in their order, then "Servidor" and "Conexiones" when there are,
// "Datum", "Georreferencia", the exports' and the print's keys under their rule, and the
// keys of a set of sheets there are.
void WriteSettings(IniFile& ini, const StoredSettings& settings);
