#include "geo/DatumChange.h"

#include <proj.h>

#include <cmath>
#include <string>

namespace {

struct ContextDeleter {
    void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
};
struct PjDeleter {
    void operator()(PJ* p) const { proj_destroy(p); }
};
struct ListDeleter {
    void operator()(PJ_OBJ_LIST* l) const { proj_list_destroy(l); }
};
struct FactoryDeleter {
    void operator()(PJ_OPERATION_FACTORY_CONTEXT* f) const {
        proj_operation_factory_context_destroy(f);
    }
};
using Context = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using Pj = std::unique_ptr<PJ, PjDeleter>;

// Points this many densified along each edge of the rectangle find the extreme latitudes and
// longitudes of its curved outline; 21 is what PROJ recommends.
constexpr int kEdgePoints = 21;

std::unique_ptr<DatumChange> Fail(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return nullptr;
}

// The operation with longitude before latitude in degrees, whatever order the CRS's axes
// have, so that every step takes x = longitude and y = latitude.
Pj Normalized(PJ_CONTEXT* context, Pj operation) {
    if (!operation) {
        return nullptr;
    }
    return Pj(proj_normalize_for_visualization(context, operation.get()));
}

Pj Conversion(PJ_CONTEXT* context, const PJ* from, const PJ* to) {
    return Normalized(context,
                      Pj(proj_create_crs_to_crs_from_pj(context, from, to, nullptr, nullptr)));
}

// The steps of one PROJ string, each starting with " +step", so that two pipelines can be
// joined into one (PROJ refuses a pipeline inside another). Empty when PROJ gives no string
// or one with options of the whole pipeline, which would not hold for the joined one.
std::string Steps(PJ_CONTEXT* context, const PJ* operation) {
    const char* text = proj_as_proj_string(context, operation, PJ_PROJ_5, nullptr);
    if (text == nullptr) {
        return {};
    }
    const std::string s(text);
    const std::string head = "+proj=pipeline ";
    if (s.compare(0, head.size(), head) != 0) {
        return " +step " + s;
    }
    const std::string rest = s.substr(head.size() - 1);
    return rest.compare(0, 6, " +step") == 0 ? rest : std::string();
}

// PROJ marks a point it cannot transform with infinite coordinates.
bool Transform(PJ* operation, PJ_COORD* c, PJ_DIRECTION direction = PJ_FWD) {
    proj_errno_reset(operation);
    *c = proj_trans(operation, direction, *c);
    return std::isfinite(c->xy.x) && std::isfinite(c->xy.y);
}

} // namespace

// The context comes first so that it is destroyed after the objects made in it.
struct DatumChange::Proj {
    Context context;
    Pj unproject; // ED50 / UTM 30N to ED50 latitude and longitude
    Pj datum;     // ED50 to ETRS89, the chosen operation
    Pj project;   // ETRS89 to ETRS89 / UTM 30N
    QString name;
    QString pipeline;
    double accuracy = -1.0;
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};

DatumChange::DatumChange(std::unique_ptr<Proj> proj) : m_proj(std::move(proj)) {}

DatumChange::~DatumChange() = default;

std::unique_ptr<DatumChange> DatumChange::ForArea(double west, double south, double east,
                                                  double north, QString* error) {
    // Written so that NaN fails too.
    if (!(west <= east && south <= north) || !std::isfinite(west) || !std::isfinite(east) ||
        !std::isfinite(south) || !std::isfinite(north)) {
        return Fail(error, QStringLiteral("la zona no es un rectángulo válido"));
    }
    auto p = std::make_unique<Proj>();
    p->context.reset(proj_context_create());
    PJ_CONTEXT* ctx = p->context.get();
    if (ctx == nullptr) {
        return Fail(error, QStringLiteral("no se puede usar PROJ"));
    }
    // A grid is used only when it is on this machine: the run must not reach the network.
    proj_context_set_enable_network(ctx, 0);
    proj_log_level(ctx, PJ_LOG_NONE);

    const Pj ed50Grid(proj_create(ctx, "EPSG:23030"));
    const Pj etrs89(proj_create(ctx, "EPSG:4258"));
    const Pj etrs89Grid(proj_create(ctx, "EPSG:25830"));
    const Pj ed50 = ed50Grid ? Pj(proj_crs_get_geodetic_crs(ctx, ed50Grid.get())) : nullptr;
    if (!ed50Grid || !etrs89 || !etrs89Grid || !ed50) {
        return Fail(error, QStringLiteral("PROJ no encuentra su base de datos de sistemas"));
    }
    p->unproject = Conversion(ctx, ed50Grid.get(), ed50.get());
    p->project = Conversion(ctx, etrs89.get(), etrs89Grid.get());
    double lonWest = 0.0;
    double latSouth = 0.0;
    double lonEast = 0.0;
    double latNorth = 0.0;
    if (!p->unproject || !p->project ||
        !proj_trans_bounds(ctx, p->unproject.get(), PJ_FWD, west, south, east, north, &lonWest,
                           &latSouth, &lonEast, &latNorth, kEdgePoints)) {
        return Fail(error, QStringLiteral("PROJ no puede pasar la zona a coordenadas geográficas"));
    }

    // Only operations whose area of use holds the whole rectangle, whose grids are here, and
    // no ballpark shift: PROJ then sorts them best accuracy first.
    const std::unique_ptr<PJ_OPERATION_FACTORY_CONTEXT, FactoryDeleter> factory(
        proj_create_operation_factory_context(ctx, nullptr));
    if (!factory) {
        return Fail(error, QStringLiteral("no se puede usar PROJ"));
    }
    proj_operation_factory_context_set_area_of_interest(ctx, factory.get(), lonWest, latSouth,
                                                        lonEast, latNorth);
    proj_operation_factory_context_set_spatial_criterion(ctx, factory.get(),
                                                         PROJ_SPATIAL_CRITERION_STRICT_CONTAINMENT);
    proj_operation_factory_context_set_grid_availability_use(
        ctx, factory.get(), PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    proj_operation_factory_context_set_allow_ballpark_transformations(ctx, factory.get(), 0);
    const std::unique_ptr<PJ_OBJ_LIST, ListDeleter> operations(
        proj_create_operations(ctx, ed50.get(), etrs89.get(), factory.get()));
    if (!operations || proj_list_get_count(operations.get()) == 0) {
        return Fail(error, QStringLiteral("ninguna transformación de ED50 a ETRS89 cubre la zona"));
    }
    Pj best(proj_list_get(ctx, operations.get(), 0));
    if (best) {
        p->name = QString::fromUtf8(proj_get_name(best.get()));
        p->accuracy = proj_coordoperation_get_accuracy(ctx, best.get());
    }
    p->datum = Normalized(ctx, std::move(best));
    const std::string unprojectSteps = p->datum ? Steps(ctx, p->unproject.get()) : std::string();
    const std::string datumSteps = p->datum ? Steps(ctx, p->datum.get()) : std::string();
    if (unprojectSteps.empty() || datumSteps.empty()) {
        return Fail(error, QStringLiteral("PROJ no puede usar la transformación elegida"));
    }
    p->pipeline = QString::fromStdString("+proj=pipeline" + unprojectSteps + datumSteps);
    p->west = west;
    p->south = south;
    p->east = east;
    p->north = north;
    return std::unique_ptr<DatumChange>(new DatumChange(std::move(p)));
}

QString DatumChange::operationName() const {
    return m_proj->name;
}

QString DatumChange::pipeline() const {
    return m_proj->pipeline;
}

double DatumChange::accuracyMetres() const {
    return m_proj->accuracy < 0 ? -1.0 : m_proj->accuracy;
}

bool DatumChange::toGeographic(double easting, double northing, GeoPoint* out) const {
    const Proj& p = *m_proj;
    if (!(easting >= p.west && easting <= p.east && northing >= p.south && northing <= p.north)) {
        return false;
    }
    PJ_COORD c = proj_coord(easting, northing, 0.0, 0.0);
    if (!Transform(p.unproject.get(), &c) || !Transform(p.datum.get(), &c)) {
        return false;
    }
    out->longitude = c.xy.x;
    out->latitude = c.xy.y;
    return true;
}

bool DatumChange::toGrid(double easting, double northing, double* gridEasting,
                         double* gridNorthing) const {
    GeoPoint g;
    if (!toGeographic(easting, northing, &g)) {
        return false;
    }
    PJ_COORD c = proj_coord(g.longitude, g.latitude, 0.0, 0.0);
    if (!Transform(m_proj->project.get(), &c)) {
        return false;
    }
    *gridEasting = c.xy.x;
    *gridNorthing = c.xy.y;
    return true;
}

bool DatumChange::fromGeographic(const GeoPoint& point, double* easting, double* northing) const {
    PJ_COORD c = proj_coord(point.longitude, point.latitude, 0.0, 0.0);
    if (!Transform(m_proj->datum.get(), &c, PJ_INV) ||
        !Transform(m_proj->unproject.get(), &c, PJ_INV)) {
        return false;
    }
    *easting = c.xy.x;
    *northing = c.xy.y;
    return true;
}

bool DatumChange::fromGrid(double gridEasting, double gridNorthing, double* easting,
                           double* northing) const {
    PJ_COORD c = proj_coord(gridEasting, gridNorthing, 0.0, 0.0);
    if (!Transform(m_proj->project.get(), &c, PJ_INV)) {
        return false;
    }
    GeoPoint g;
    g.longitude = c.xy.x;
    g.latitude = c.xy.y;
    return fromGeographic(g, easting, northing);
}
