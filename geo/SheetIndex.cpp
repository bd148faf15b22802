#include "geo/SheetIndex.h"

#include "gdalbase/GdalBase.h"
#include "geo/CalibrationFile.h"
#include "geo/DatumChange.h"

#include <QUuid>

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <memory>

namespace {

bool Fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

// The sheet's outline on the ground, anticlockwise from the upper-left corner: down the
// west edge, east along the south edge, up the east edge and back west along the north
// edge, through every tile corner on the way, closed.
std::vector<GroundPoint> Outline(const Sheet& sheet) {
    const GroundRect r = sheet.rect();
    const double s = sheet.tileSize;
    std::vector<GroundPoint> ring;
    for (int i = 0; i < sheet.down; ++i) {
        ring.push_back({r.west, r.north - i * s});
    }
    for (int i = 0; i < sheet.across; ++i) {
        ring.push_back({r.west + i * s, r.south});
    }
    for (int i = 0; i < sheet.down; ++i) {
        ring.push_back({r.east, r.south + i * s});
    }
    for (int i = 0; i < sheet.across; ++i) {
        ring.push_back({r.east - i * s, r.north});
    }
    ring.push_back(ring.front());
    return ring;
}

struct SrsDeleter {
    void operator()(OGRSpatialReferenceH srs) const { OSRRelease(srs); }
};

enum class Format { Kml, GeoJson };

// The layer of polygons with their fields, in the dataset; false at the first fault.
bool FillIndex(GDALDatasetH dataset, Format format, const SheetSet& set,
               const std::vector<QStringList>& files,
               const std::vector<std::vector<GeoPoint>>& rings) {
    const bool kml = format == Format::Kml;
    const std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsDeleter> wgs84(
        OSRNewSpatialReference(nullptr));
    if (!wgs84 || OSRImportFromEPSG(wgs84.get(), 4326) != OGRERR_NONE) {
        return false;
    }
    OSRSetAxisMappingStrategy(wgs84.get(), OAMS_TRADITIONAL_GIS_ORDER);
    const char* const geoJsonOptions[] = {"RFC7946=YES", nullptr};
    const QByteArray layerName = (set.name + QStringLiteral("_hojas")).toUtf8();
    OGRLayerH layer =
        GDALDatasetCreateLayer(dataset, layerName.constData(), wgs84.get(), wkbPolygon,
                               const_cast<char**>(kml ? nullptr : geoJsonOptions));
    if (layer == nullptr) {
        return false;
    }
    // The KML driver's layers come with the fields of a placemark's name, its label in a
    // viewer, and its description, shown when it is opened.
    const char* const nameField = kml ? "Name" : "nombre";
    const char* const filesField = kml ? "Description" : "ficheros";
    std::vector<std::pair<const char*, OGRFieldType>> fields = {{"numero", OFTInteger}};
    if (!kml) {
        fields.insert(fields.end(), {{nameField, OFTString}, {filesField, OFTStringList}});
    }
    for (const auto& [fieldName, type] : fields) {
        OGRFieldDefnH field = OGR_Fld_Create(fieldName, type);
        const OGRErr made = OGR_L_CreateField(layer, field, TRUE);
        OGR_Fld_Destroy(field);
        if (made != OGRERR_NONE) {
            return false;
        }
    }
    OGRFeatureDefnH definition = OGR_L_GetLayerDefn(layer);
    const int number = OGR_FD_GetFieldIndex(definition, "numero");
    const int name = OGR_FD_GetFieldIndex(definition, nameField);
    const int names = OGR_FD_GetFieldIndex(definition, filesField);
    if (number < 0 || name < 0 || names < 0) {
        return false;
    }
    for (size_t i = 0; i < set.sheets.size(); ++i) {
        OGRFeatureH feature = OGR_F_Create(definition);
        OGR_F_SetFieldInteger(feature, number, set.sheets[i].number);
        OGR_F_SetFieldString(feature, name, set.sheets[i].name.toUtf8().constData());
        if (kml) {
            OGR_F_SetFieldString(feature, names,
                                 files[i].join(QStringLiteral(", ")).toUtf8().constData());
        } else {
            CPLStringList list;
            for (const QString& file : files[i]) {
                list.AddString(file.toUtf8().constData());
            }
            OGR_F_SetFieldStringList(feature, names, list.List());
        }
        OGRGeometryH ring = OGR_G_CreateGeometry(wkbLinearRing);
        for (const GeoPoint& p : rings[i]) {
            OGR_G_AddPoint_2D(ring, p.longitude, p.latitude);
        }
        OGRGeometryH polygon = OGR_G_CreateGeometry(wkbPolygon);
        OGR_G_AddGeometryDirectly(polygon, ring);
        OGR_F_SetGeometryDirectly(feature, polygon);
        const OGRErr written = OGR_L_CreateFeature(layer, feature);
        OGR_F_Destroy(feature);
        if (written != OGRERR_NONE) {
            return false;
        }
    }
    return true;
}

// One file's bytes through GDAL's driver, written into GDAL's memory files.
bool IndexBytes(Format format, const SheetSet& set, const std::vector<QStringList>& files,
                const std::vector<std::vector<GeoPoint>>& rings, QByteArray* out, QString* error) {
    const bool kml = format == Format::Kml;
    const QByteArray path = QStringLiteral("/vsimem/morvel-%1.%2")
                                .arg(QUuid::createUuid().toString(QUuid::WithoutBraces),
                                     kml ? QStringLiteral("kml") : QStringLiteral("geojson"))
                                .toUtf8();
    const GdalErrorCapture errors;
    GDALDriverH driver = GDALGetDriverByName(kml ? "KML" : "GeoJSON");
    bool filled = false;
    if (driver != nullptr) {
        // Both drivers finish the file when it is closed, at the end of this block.
        const GdalDataset dataset(
            GDALCreate(driver, path.constData(), 0, 0, 0, GDT_Unknown, nullptr));
        filled = dataset && FillIndex(dataset.get(), format, set, files, rings);
    }
    vsi_l_offset length = 0;
    GByte* data = VSIGetMemFileBuffer(path.constData(), &length, TRUE);
    if (!filled || errors.failed() || data == nullptr) {
        VSIFree(data);
        VSIUnlink(path.constData());
        return Fail(
            error,
            QStringLiteral("GDAL no puede escribir %1: %2")
                .arg(kml ? SheetIndexKmlName(set.name) : SheetIndexGeoJsonName(set.name),
                     errors.failed() ? errors.message() : QStringLiteral("error desconocido")));
    }
    *out = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    VSIFree(data);
    return true;
}

} // namespace

QString SheetIndexKmlName(const QString& name) {
    return name + QStringLiteral("_hojas.kml");
}

QString SheetIndexGeoJsonName(const QString& name) {
    return name + QStringLiteral("_hojas.geojson");
}

std::optional<SheetIndexFiles>
MakeSheetIndex(const SheetSet& set, const std::vector<QStringList>& files, QString* error) {
    if (set.sheets.empty() || files.size() != set.sheets.size()) {
        Fail(error, QStringLiteral("El índice de hojas no coincide con las hojas"));
        return std::nullopt;
    }
    const GroundRect extent = set.extent();
    QString reason;
    const auto change =
        DatumChange::ForArea(extent.west, extent.south, extent.east, extent.north, &reason);
    if (!change) {
        Fail(error,
             QStringLiteral("No se puede pasar el índice de hojas a WGS 84: %1").arg(reason));
        return std::nullopt;
    }
    std::vector<std::vector<GeoPoint>> rings;
    for (const Sheet& sheet : set.sheets) {
        std::vector<GeoPoint> ring;
        for (const GroundPoint& p : Outline(sheet)) {
            GeoPoint g;
            if (!change->toGeographic(p.easting, p.northing, &g)) {
                Fail(error,
                     QStringLiteral("No se puede pasar la hoja %1 a WGS 84").arg(sheet.name));
                return std::nullopt;
            }
            ring.push_back(g);
        }
        rings.push_back(std::move(ring));
    }

    EnsureGdal();
    SheetIndexFiles out;
    if (!IndexBytes(Format::Kml, set, files, rings, &out.kml, error) ||
        !IndexBytes(Format::GeoJson, set, files, rings, &out.geoJson, error)) {
        return std::nullopt;
    }
    return out;
}

bool WriteSheetIndex(const SheetSet& set, const std::vector<QStringList>& files,
                     const QString& folder, QString* error) {
    const std::optional<SheetIndexFiles> index = MakeSheetIndex(set, files, error);
    return index && ReplaceFile(folder, SheetIndexKmlName(set.name), index->kml, error) &&
           ReplaceFile(folder, SheetIndexGeoJsonName(set.name), index->geoJson, error);
}
