#include "ui/Settings.h"

#include "job/PrintPages.h"
#include "run/DownloadRun.h"

#include <QDir>

namespace {

constexpr char kMosaicos[] = "Mosaicos";
constexpr char kAplicacion[] = "Aplicacion";
constexpr char kCalibracion[] = "Calibracion";
constexpr char kExportar[] = "Exportar";
constexpr char kImprimir[] = "Imprimir";
// The key of each export, in the order of ExportFormat.
constexpr std::array<const char*, kExportFormats.size()> kExportKeys{"GeoTIFF", "GeoPackage",
                                                                     "MBTiles", "KMZ", "PDF"};

// Out-of-range numbers fall back to 0, not to the default.
int ReadRanged(const IniFile& ini, const char* key, int fallback, int highest) {
    const int64_t value = ini.readInteger(kMosaicos, key, fallback);
    return value < 0 || value > highest ? 0 : static_cast<int>(value);
}

} // namespace

QString SettingsPath() {
#ifdef Q_OS_WIN
    return QStringLiteral(".\\Morvel.ini");
#else
    return QStringLiteral("./Morvel.ini");
#endif
}

StoredSettings ReadSettings(const IniFile& ini) {
    StoredSettings s;
    s.coveragePosition = ReadRanged(ini, "Cobertura", 0, 4);
    s.tilesDownPosition = ReadRanged(ini, "MosaicosAlto", 4, 9);
    s.tilesAcrossPosition = ReadRanged(ini, "MosaicosAncho", 4, 9);
    s.eastingText = ini.readString(kMosaicos, "UTMSupIzqX", s.eastingText);
    s.northingText = ini.readString(kMosaicos, "UTMSupIzqY", s.northingText);
    s.folder =
        ini.readString(kAplicacion, "Carpeta", QDir::toNativeSeparators(QDir::currentPath()));
    s.bmpName = ini.readString(kAplicacion, "Fichero", s.bmpName);
    s.deleteTiles = ini.readFlag(kMosaicos, "BorrarMosaico", false);
    s.saveBmp = ini.readFlag(kAplicacion, "GrabarBMP", true);
    s.kind = static_cast<MapKind>(ReadRanged(ini, "TipoMosaico", 1, 2));
    s.saveOzi = ini.readFlag(kCalibracion, "OziExplorer", false);
    s.saveCompe = ini.readFlag(kCalibracion, "CompeGPS", false);
    s.server = ini.value(kAplicacion, "Servidor");
    if (ini.value(kAplicacion, "Conexiones")) {
        const int64_t n =
            ini.readInteger(kAplicacion, "Conexiones", DownloadRun::kDefaultConnections);
        s.connections = n >= 1 && n <= DownloadRun::kMaxConnections
                            ? static_cast<int>(n)
                            : DownloadRun::kDefaultConnections;
    }
    const std::optional<QString> datum = ini.value(kCalibracion, "Datum");
    s.datumStored = datum.has_value();
    s.datum = datum == QStringLiteral("WGS84") ? CalibrationDatum::Wgs84 : CalibrationDatum::Ed50;
    s.worldFileStored = ini.value(kCalibracion, "Georreferencia").has_value();
    s.worldFile = ini.readFlag(kCalibracion, "Georreferencia", false);
    for (size_t i = 0; i < kExportKeys.size(); ++i) {
        s.exports[i].stored = ini.value(kExportar, kExportKeys[i]).has_value();
        s.exports[i].on = ini.readFlag(kExportar, kExportKeys[i], false);
    }
    const std::optional<QString> scale = ini.value(kImprimir, "Escala");
    const std::optional<QString> paper = ini.value(kImprimir, "Papel");
    s.printStored = scale || paper;
    const int64_t scaleValue = ini.readInteger(kImprimir, "Escala", kDefaultPrintScale);
    s.printScale = IsPrintScale(scaleValue) ? static_cast<int32_t>(scaleValue) : kDefaultPrintScale;
    s.printPaper = paper == PaperName(PrintPaper::A3) ? PrintPaper::A3 : PrintPaper::A4;
    s.sheetsTo = ini.value(kMosaicos, "Hasta");
    s.track = ini.value(kMosaicos, "Ruta");
    s.margin = ini.value(kMosaicos, "Margen");
    s.overlap = ini.value(kMosaicos, "Solape");
    s.sheetCoverage = ini.value(kMosaicos, "CoberturaHojas");
    s.sheetKind = ini.value(kMosaicos, "TipoHojas");
    s.mapWindow = ini.value(kAplicacion, "VentanaMapa");
    return s;
}

int StoredSettings::connectionsOrDefault() const {
    return connections.value_or(DownloadRun::kDefaultConnections);
}

void WriteSettings(IniFile& ini, const StoredSettings& s) {
    ini.writeInteger(kMosaicos, "Cobertura", s.coveragePosition);
    ini.writeInteger(kMosaicos, "MosaicosAlto", s.tilesDownPosition);
    ini.writeInteger(kMosaicos, "MosaicosAncho", s.tilesAcrossPosition);
    ini.writeString(kMosaicos, "UTMSupIzqX", s.eastingText);
    ini.writeString(kMosaicos, "UTMSupIzqY", s.northingText);
    ini.writeString(kAplicacion, "Carpeta", s.folder);
    ini.writeString(kAplicacion, "Fichero", s.bmpName);
    ini.writeFlag(kMosaicos, "BorrarMosaico", s.deleteTiles);
    ini.writeFlag(kAplicacion, "GrabarBMP", s.saveBmp);
    ini.writeInteger(kMosaicos, "TipoMosaico", static_cast<int>(s.kind));
    ini.writeFlag(kCalibracion, "OziExplorer", s.saveOzi);
    ini.writeFlag(kCalibracion, "CompeGPS", s.saveCompe);
    if (s.server) {
        ini.writeString(kAplicacion, "Servidor", *s.server);
    }
    if (s.connections) {
        ini.writeInteger(kAplicacion, "Conexiones", *s.connections);
    }
    if (s.mapWindow) {
        ini.writeString(kAplicacion, "VentanaMapa", *s.mapWindow);
    }
    if (s.datumStored || s.datum == CalibrationDatum::Wgs84) {
        ini.writeString(kCalibracion, "Datum",
                        s.datum == CalibrationDatum::Wgs84 ? QStringLiteral("WGS84")
                                                           : QStringLiteral("ED50"));
    }
    if (s.worldFileStored || s.worldFile) {
        ini.writeFlag(kCalibracion, "Georreferencia", s.worldFile);
    }
    for (size_t i = 0; i < kExportKeys.size(); ++i) {
        if (s.exports[i].stored || s.exports[i].on) {
            ini.writeFlag(kExportar, kExportKeys[i], s.exports[i].on);
        }
    }
    if (s.printStored) {
        ini.writeInteger(kImprimir, "Escala", s.printScale);
        ini.writeString(kImprimir, "Papel", PaperName(s.printPaper));
    }
    const std::pair<const char*, const std::optional<QString>*> sheetKeys[] = {
        {"Hasta", &s.sheetsTo},
        {"Ruta", &s.track},
        {"Margen", &s.margin},
        {"Solape", &s.overlap},
        {"CoberturaHojas", &s.sheetCoverage},
        {"TipoHojas", &s.sheetKind}};
    for (const auto& [key, value] : sheetKeys) {
        if (*value) {
            ini.writeString(kMosaicos, key, **value);
        }
    }
}
