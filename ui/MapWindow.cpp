#include "ui/MapWindow.h"

#include "download/OverviewLoader.h"
#include "download/WhenFinished.h"
#include "geo/DatumChange.h"
#include "job/NumberFormat.h"
#include "job/PlaceText.h"
#include "job/WorkerGuard.h"
#include "ui/Dialogs.h"
#include "ui/ElidedLabel.h"
#include "ui/MapView.h"
#include "ui/TrackPicture.h"
#include "ui/WindowFont.h"

#include <QDir>
#include <QFileInfo>
#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QColor kAreaColour(0, 90, 230);
const QColor kRangeColour(200, 90, 0);
const QColor kHalo(255, 255, 255, 200);
// Going to a place from far out comes down to this scale, where streets can be told apart.
constexpr double kGoToMetresPerPixel = 10.0;
constexpr int kMaxMargin = 20000;
constexpr int kMarginStep = 100;

bool SameGround(const GroundRect& a, const GroundRect& b) {
    return a.west == b.west && a.south == b.south && a.east == b.east && a.north == b.north;
}

// The datum change as the worker made it, or why it could not.
struct ChangeMade {
    std::unique_ptr<DatumChange> change;
    QString error;
};

QPen Cosmetic(const QColor& colour, qreal width, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(colour, width, style, Qt::RoundCap, Qt::RoundJoin);
    pen.setCosmetic(true);
    return pen;
}

// A mark of a fixed size on the screen, whatever the zoom.
QGraphicsItem* Dot(QGraphicsScene* scene, const GroundPoint& at, qreal radius, const QColor& colour,
                   qreal z) {
    auto* dot =
        scene->addEllipse(-radius, -radius, 2 * radius, 2 * radius, Cosmetic(Qt::white, 2), colour);
    dot->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    dot->setPos(ScenePoint(at));
    dot->setZValue(z);
    return dot;
}

// A caption of a fixed size on the screen, on a pale ground so that any map leaves it legible.
class Caption : public QGraphicsSimpleTextItem {
public:
    Caption(const QString& text, const QColor& colour) : QGraphicsSimpleTextItem(text) {
        setBrush(colour);
        setFont(WindowFont(true));
        setFlag(QGraphicsItem::ItemIgnoresTransformations);
    }
    QRectF boundingRect() const override {
        return QGraphicsSimpleTextItem::boundingRect().adjusted(-3, -1, 3, 1);
    }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option,
               QWidget* widget) override {
        painter->fillRect(boundingRect(), kHalo);
        QGraphicsSimpleTextItem::paint(painter, option, widget);
    }
};

// The track of a set's source, as the map draws it.
std::shared_ptr<const GroundTrack> TrackOf(const SheetSource& source) {
    auto track = std::make_shared<GroundTrack>();
    track->lines = source.lines;
    track->points = source.points;
    bool first = true;
    const auto grow = [&](const GroundPoint& p) {
        GroundRect& e = track->extent;
        e = first ? GroundRect{p.easting, p.northing, p.easting, p.northing}
                  : GroundRect{std::min(e.west, p.easting), std::min(e.south, p.northing),
                               std::max(e.east, p.easting), std::max(e.north, p.northing)};
        first = false;
    };
    for (const auto& line : track->lines) {
        std::for_each(line.begin(), line.end(), grow);
    }
    std::for_each(track->points.begin(), track->points.end(), grow);
    return track;
}

} // namespace

MapWindow::MapWindow(QNetworkAccessManager* network, TransferGate& gate, Dialogs& dialogs,
                     QWidget* parent)
    : QWidget(parent, Qt::Window), m_dialogs(dialogs) {
    setObjectName(QStringLiteral("fMapa"));
    setWindowTitle(QStringLiteral("Mapa"));
    m_scene = new QGraphicsScene(this);
    m_scene->setSceneRect(SceneRect(MapReach()));
    m_scene->setBackgroundBrush(QColor(226, 226, 220));
    m_view = new MapView(m_scene, this);
    m_loader = new OverviewLoader(network, gate, this);
    buildControls();

    connect(m_view, &MapView::settled, this, &MapWindow::refresh);
    connect(m_view, &MapView::boxDrawn, this, &MapWindow::boxDrawn);
    connect(m_view, &MapView::pointerMoved, this, &MapWindow::showPointer);
    connect(m_loader, &OverviewLoader::imageReady, this, &MapWindow::imageReady);
    connect(m_loader, &OverviewLoader::imageFailed, this,
            [this](const OverviewSquare& square) { imageDone(square); });
    connect(m_loader, &OverviewLoader::answerMeasured, this,
            [this](const OverviewSquare& square, qint64 bytes, qint64 ms) {
                emit overviewMeasured(m_job.kind, OverviewSide(square.level), bytes, ms);
            });

    const GroundRect range = AcceptedCornerRange();
    m_scene->addRect(SceneRect(range), Cosmetic(kHalo, 5))->setZValue(10);
    m_range = m_scene->addRect(SceneRect(range), Cosmetic(kRangeColour, 2.5, Qt::DashLine));
    m_range->setZValue(11);
    auto* caption = new Caption(
        QStringLiteral("Esquinas superiores izquierdas admitidas por Descargar"), kRangeColour);
    m_scene->addItem(caption);
    caption->setPos(ScenePoint({range.west, range.north}) + QPointF(4, 4));
    caption->setZValue(12);
    resize(kWantedSize);

    // PROJ takes some tens of milliseconds to choose the change: a worker makes it while
    // the window opens, for the pointer's ETRS89 metres and the places typed.
    const GroundRect reach = MapReach();
    WhenFinished(this, QtConcurrent::run([reach] {
                     auto change = std::make_shared<ChangeMade>();
                     change->change = DatumChange::ForArea(reach.west, reach.south, reach.east,
                                                           reach.north, &change->error);
                     return change;
                 }),
                 [this](const std::shared_ptr<ChangeMade>& made) {
                     if (!m_change && m_changeError.isEmpty()) {
                         m_change = std::move(made->change);
                         m_changeError = made->error;
                     }
                 });
}

MapWindow::~MapWindow() = default;

GroundRect MapWindow::gridShown() const {
    if (!m_area) {
        return {};
    }
    const QRectF r = m_area->rect();
    return {r.left(), -r.bottom(), r.right(), -r.top()};
}

std::optional<GroundPoint> MapWindow::markedPlace() const {
    if (!m_marker) {
        return std::nullopt;
    }
    return GroundOf(m_marker->pos());
}

void MapWindow::buildControls() {
    setFont(WindowFont());
    // Three short rows rather than two long ones: beside the main window on a screen of
    // 1280 pixels the map has some 600.
    auto* place = new QHBoxLayout;
    auto* irA = new QLabel(QStringLiteral("Ir a:"), this);
    eIrA = new QLineEdit(this);
    eIrA->setObjectName(QStringLiteral("eIrA"));
    eIrA->setPlaceholderText(
        QStringLiteral("612000 4735000  o  30T 612000 4735000  o  42.81, -1.64"));
    eIrA->setToolTip(QStringLiteral(
        "X e Y UTM del huso 30 en metros: sin más, en ED50 (612000 4735000 o 612.000 "
        "4.735.000);\ncon el huso y la banda delante, como los da un GPS, o con ETRS89 delante, en "
        "ETRS89/WGS 84 (30T 612000 4735000, ETRS89 612000 4735000); con ED50 delante, en ED50.\n"
        "O latitud y longitud WGS 84 en grados (42.81, -1.64 · 42.81N 1.64W · "
        "42°48'36\"N 1°38'24\"W)."));
    irA->setBuddy(eIrA);
    btnIr = new QPushButton(QStringLiteral("Ir"), this);
    btnIr->setObjectName(QStringLiteral("btnIr"));
    btnIr->setToolTip(QStringLiteral("Centrar el mapa en el lugar escrito y marcarlo"));
    place->addWidget(irA);
    place->addWidget(eIrA, 1);
    place->addWidget(btnIr);

    auto* route = new QHBoxLayout;
    btnAbrirRuta = new QPushButton(QStringLiteral("Abrir ruta..."), this);
    btnAbrirRuta->setObjectName(QStringLiteral("btnAbrirRuta"));
    btnAbrirRuta->setToolTip(QStringLiteral("Dibujar una ruta GPX, KML o KMZ sobre el mapa"));
    btnAjustarRuta = new QPushButton(QStringLiteral("Ajustar a la ruta"), this);
    btnAjustarRuta->setObjectName(QStringLiteral("btnAjustarRuta"));
    btnAjustarRuta->setEnabled(false);
    auto* margen = new QLabel(QStringLiteral("Margen:"), this);
    seMargen = new QSpinBox(this);
    seMargen->setObjectName(QStringLiteral("seMargen"));
    seMargen->setRange(0, kMaxMargin);
    seMargen->setSingleStep(kMarginStep);
    seMargen->setValue(static_cast<int>(kDefaultTrackMargin));
    seMargen->setSuffix(QStringLiteral(" m"));
    seMargen->setToolTip(QStringLiteral("Terreno alrededor de la ruta que entra en el área"));
    margen->setBuddy(seMargen);
    btnHojasRuta = new QPushButton(QStringLiteral("Hojas por la ruta"), this);
    btnHojasRuta->setObjectName(QStringLiteral("btnHojasRuta"));
    btnHojasRuta->setEnabled(false);
    btnHojasRuta->setToolTip(QStringLiteral("Las hojas que toca la ruta con su margen"));
    route->addWidget(btnAbrirRuta);
    route->addWidget(btnAjustarRuta);
    route->addWidget(margen);
    route->addWidget(seMargen);
    route->addWidget(btnHojasRuta);
    route->addStretch(1);

    // A set of sheets: a box typed as two corners, or the track's corridor; a box drawn
    // larger than one run offers them too.
    auto* sheets = new QHBoxLayout;
    auto* desde = new QLabel(QStringLiteral("Hojas de:"), this);
    eDesde = new QLineEdit(this);
    eDesde->setObjectName(QStringLiteral("eDesde"));
    eDesde->setPlaceholderText(QStringLiteral("585000 4730000"));
    auto* hasta = new QLabel(QStringLiteral("a:"), this);
    eHasta = new QLineEdit(this);
    eHasta->setObjectName(QStringLiteral("eHasta"));
    eHasta->setPlaceholderText(QStringLiteral("620000 4700000"));
    for (QLineEdit* corner : {eDesde, eHasta}) {
        corner->setToolTip(eIrA->toolTip());
    }
    desde->setBuddy(eDesde);
    hasta->setBuddy(eHasta);
    btnRecuadro = new QPushButton(QStringLiteral("Recuadro en hojas"), this);
    btnRecuadro->setObjectName(QStringLiteral("btnRecuadro"));
    btnRecuadro->setToolTip(QStringLiteral("Cortar en hojas el recuadro de las dos esquinas"));
    auto* solape = new QLabel(QStringLiteral("Solape:"), this);
    seSolape = new QSpinBox(this);
    seSolape->setObjectName(QStringLiteral("seSolape"));
    seSolape->setRange(0, kMaxSheetOverlap);
    seSolape->setSuffix(QStringLiteral(" mosaicos"));
    seSolape->setToolTip(QStringLiteral("Mosaicos que comparten las hojas vecinas, para imprimir"));
    solape->setBuddy(seSolape);
    sheets->addWidget(desde);
    sheets->addWidget(eDesde, 1);
    sheets->addWidget(hasta);
    sheets->addWidget(eHasta, 1);
    sheets->addWidget(btnRecuadro);
    sheets->addWidget(solape);
    sheets->addWidget(seSolape);

    // The foot never sets the window's width: its lines are cut to the room, whole in
    // their tooltips.
    stEstimacion = new ElidedLabel(this);
    stEstimacion->setObjectName(QStringLiteral("stEstimacion"));
    stPosicion = new QLabel(this);
    stPosicion->setObjectName(QStringLiteral("stPosicion"));
    stPosicion->setToolTip(
        QStringLiteral("Posición del puntero en UTM huso 30: ED50, la del mapa, y ETRS89, la de "
                       "los GPS"));
    auto* hint = new ElidedLabel(
        QStringLiteral("Botón izquierdo: dibujar el área · botón derecho o flechas: mover · "
                       "rueda o +/−: acercar y alejar"),
        this);
    hint->setObjectName(QStringLiteral("stAyudaMapa"));
    hint->setForegroundRole(QPalette::PlaceholderText);
    hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* foot = new QHBoxLayout;
    foot->addWidget(stPosicion);
    foot->addSpacing(12);
    foot->addWidget(hint, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->addLayout(place);
    layout->addLayout(route);
    layout->addLayout(sheets);
    layout->addWidget(m_view, 1);
    layout->addWidget(stEstimacion);
    layout->addLayout(foot);

    // Reading order, the map last; the map has the focus first, so that the arrow keys
    // move it as soon as the window is active.
    QWidget* const order[] = {eIrA,   btnIr,  btnAbrirRuta, btnAjustarRuta, seMargen, btnHojasRuta,
                              eDesde, eHasta, btnRecuadro,  seSolape,       m_view};
    for (size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }

    connect(eIrA, &QLineEdit::returnPressed, this, &MapWindow::btnIrClick);
    connect(btnIr, &QPushButton::clicked, this, &MapWindow::btnIrClick);
    connect(btnAbrirRuta, &QPushButton::clicked, this, &MapWindow::btnAbrirRutaClick);
    connect(btnAjustarRuta, &QPushButton::clicked, this, &MapWindow::btnAjustarRutaClick);
    connect(btnRecuadro, &QPushButton::clicked, this, &MapWindow::btnRecuadroClick);
    connect(eHasta, &QLineEdit::returnPressed, this, &MapWindow::btnRecuadroClick);
    connect(btnHojasRuta, &QPushButton::clicked, this, &MapWindow::btnHojasRutaClick);
    // Another overlap cuts the chosen set again.
    connect(seSolape, &QSpinBox::valueChanged, this, [this](int overlap) {
        if (m_sheetSource && m_sheetSource->overlap != overlap) {
            emit overlapChosen(overlap);
        }
    });
}

void MapWindow::setFetchLimits(const FetchLimits& limits) {
    m_loader->setLimits(limits);
}

void MapWindow::setEstimate(const QString& text) {
    stEstimacion->setFullText(QStringLiteral("Estimación: ") + text);
}

QString MapWindow::estimateText() const {
    return stEstimacion->fullText();
}

void MapWindow::showPointer(const GroundPoint& p) {
    QString text =
        QStringLiteral("ED50 X %1 Y %2")
            .arg(GroupedNumber(std::llround(p.easting)), GroupedNumber(std::llround(p.northing)));
    double e = 0.0;
    double n = 0.0;
    // Where a GPS reads the same point; the change is there once the worker has made it.
    if (m_change && m_change->toGrid(p.easting, p.northing, &e, &n)) {
        text += QStringLiteral(" · ETRS89 X %1 Y %2")
                    .arg(GroupedNumber(std::llround(e)), GroupedNumber(std::llround(n)));
    }
    stPosicion->setText(text);
}

// --- The job's grid ---------------------------------------------------------------------

void MapWindow::showJob(const DownloadJob& job) {
    const bool newImages = !m_hasJob || job.requestPrefix != m_job.requestPrefix;
    m_job = job;
    m_hasJob = true;
    drawGrid();
    placeOnJob();
    if (newImages) {
        m_loader->setRequestPrefix(m_job.requestPrefix);
        // Another kind or coverage: every square is asked for again at once, and the old
        // images stay under the new ones until these are all in.
        for (QGraphicsPixmapItem* item : std::as_const(m_images)) {
            item->setZValue(0);
            m_stale.append(item);
        }
        m_images.clear();
        m_level = -1;
        if (isVisible()) {
            refresh();
        }
    }
}

void MapWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!focusWidget()) {
        // Taken when the window becomes active: the arrow keys move the map at once.
        m_view->setFocus(Qt::OtherFocusReason);
    }
    placeOnJob();
}

void MapWindow::placeOnJob() {
    // Once, when first seen: the area in the middle, a third of the view.
    if (m_placed || !m_hasJob || !isVisible()) {
        return;
    }
    const GroundRect area = JobRect(m_job);
    m_view->showGround(area.grown(std::max(area.width(), area.height())));
    m_placed = true;
}

void MapWindow::drawGrid() {
    const GroundRect area = JobRect(m_job);
    QPainterPath lines;
    lines.addRect(SceneRect(area));
    const double s = m_job.tileSize;
    for (int c = 1; c < m_job.tilesAcross; ++c) {
        lines.moveTo(ScenePoint({area.west + c * s, area.north}));
        lines.lineTo(ScenePoint({area.west + c * s, area.south}));
    }
    for (int r = 1; r < m_job.tilesDown; ++r) {
        lines.moveTo(ScenePoint({area.west, area.north - r * s}));
        lines.lineTo(ScenePoint({area.east, area.north - r * s}));
    }
    if (!m_grid) {
        QColor fill = kAreaColour;
        fill.setAlpha(30);
        m_area = m_scene->addRect(QRectF(), Qt::NoPen, fill);
        m_area->setZValue(19);
        m_gridHalo = m_scene->addPath(QPainterPath(), Cosmetic(kHalo, 5));
        m_gridHalo->setZValue(20);
        m_grid = m_scene->addPath(QPainterPath(), Cosmetic(kAreaColour, 2));
        m_grid->setZValue(21);
    }
    m_area->setRect(SceneRect(area));
    m_gridHalo->setPath(lines);
    m_grid->setPath(lines);
    delete m_corner;
    m_corner = Dot(m_scene, {area.west, area.north}, 6, kAreaColour, 22);
    m_corner->setVisible(!m_sheets);
    m_corner->setToolTip(
        QStringLiteral("Esquina superior izquierda: X %1, Y %2")
            .arg(GroupedNumber(std::llround(area.west)), GroupedNumber(std::llround(area.north))));
}

void MapWindow::boxDrawn(const GroundRect& box) {
    if (!m_hasJob) {
        return;
    }
    const GridChoice grid = SnapBoxToGrid(box, m_job.tileSize);
    if (grid.clamped()) {
        // Larger than one run: the whole box as sheets, if the user wants them.
        const SheetSource source = boxSource(
            {double(grid.easting), double(grid.northing) - double(grid.neededDown) * m_job.tileSize,
             double(grid.easting) + double(grid.neededAcross) * m_job.tileSize,
             double(grid.northing)});
        const SheetCut cut = source.cut(m_job.tileSize, m_job.bmpName);
        if (cut.set &&
            m_dialogs.okCancel(
                QStringLiteral("Hojas"),
                QStringLiteral("El recuadro necesita %1 × %2 mosaicos de %3 m; una descarga tiene "
                               "como máximo %4 × %4. ¿Descargarlo en %5 hojas? (Cancelar: solo "
                               "los %6 × %7 de la esquina superior izquierda)")
                    .arg(grid.neededAcross)
                    .arg(grid.neededDown)
                    .arg(GroupedNumber(m_job.tileSize))
                    .arg(kMaxTiles)
                    .arg(cut.set->sheets.size())
                    .arg(grid.across)
                    .arg(grid.down))) {
            emit sheetsChosen(source);
            return;
        }
        emit areaChosen(grid.easting, grid.northing, grid.across, grid.down);
        if (!cut.set) {
            m_dialogs.message(*ClampMessage(grid) + u' ' + cut.message);
        }
        return;
    }
    emit areaChosen(grid.easting, grid.northing, grid.across, grid.down);
}

SheetSource MapWindow::boxSource(const GroundRect& box) const {
    SheetSource source;
    source.box = box;
    source.overlap = seSolape->value();
    return source;
}

// --- A set of sheets ----------------------------------------------------------------------

void MapWindow::showSheets(std::shared_ptr<const SheetSource> source, const SheetSet* set) {
    m_sheetSource = std::move(source);
    m_sheets = set ? std::optional<SheetSet>(*set) : std::nullopt;
    if (m_sheetSource) {
        const QSignalBlocker quiet(seSolape);
        seSolape->setValue(m_sheetSource->overlap);
    }
    const std::shared_ptr<const SheetSource>& s = m_sheetSource;
    if (s && s->kind == SheetSource::Kind::Track && s->trackPath != m_trackPath &&
        !(s->lines.empty() && s->points.empty()) && s != m_sourceLaidOut) {
        // The track of sheets chosen elsewhere (the settings file) is drawn with them, laid
        // out on a worker: it may have a million points.
        m_sourceLaidOut = s;
        const quint64 number = ++m_sourceTrack;
        WhenFinished(
            this, RunTrackWork([s] { return TrackOf(*s); }),
            [this, number, path = s->trackPath](const std::shared_ptr<const GroundTrack>& track) {
                if (number == m_sourceTrack && path != m_trackPath) {
                    showTrack(path, track);
                }
            });
    }
    drawSheets();
}

void MapWindow::drawSheets() {
    qDeleteAll(m_sheetItems);
    m_sheetItems.clear();
    // The job's grid is not what Descargar fetches while there are sheets.
    for (QGraphicsItem* item :
         {static_cast<QGraphicsItem*>(m_grid), static_cast<QGraphicsItem*>(m_gridHalo),
          static_cast<QGraphicsItem*>(m_area), m_corner}) {
        if (item) {
            item->setVisible(!m_sheets);
        }
    }
    if (!m_sheets) {
        return;
    }
    QColor fill = kAreaColour;
    fill.setAlpha(30);
    for (const Sheet& sheet : m_sheets->sheets) {
        const QRectF r = SceneRect(sheet.rect());
        auto* halo = m_scene->addRect(r, Cosmetic(kHalo, 5));
        halo->setZValue(20);
        auto* outline = m_scene->addRect(r, Cosmetic(kAreaColour, 2), fill);
        outline->setZValue(21);
        outline->setData(0, sheet.number);
        outline->setToolTip(QStringLiteral("%1: %2 × %3 mosaicos")
                                .arg(sheet.name)
                                .arg(sheet.across)
                                .arg(sheet.down));
        auto* number = new Caption(QString::number(sheet.number), kAreaColour);
        m_scene->addItem(number);
        // Its middle on the sheet's middle, whatever the zoom.
        number->setPos(r.center());
        number->setTransform(QTransform::fromTranslate(-number->boundingRect().width() / 2,
                                                       -number->boundingRect().height() / 2));
        number->setZValue(23);
        m_sheetItems << halo << outline << number;
    }
}

QList<QPair<int, GroundRect>> MapWindow::sheetsShown() const {
    QList<QPair<int, GroundRect>> out;
    QSet<int> numbers;
    for (QGraphicsItem* item : m_sheetItems) {
        if (auto* caption = dynamic_cast<QGraphicsSimpleTextItem*>(item)) {
            numbers.insert(caption->text().toInt());
        }
    }
    for (QGraphicsItem* item : m_sheetItems) {
        const auto* outline = dynamic_cast<QGraphicsRectItem*>(item);
        const int number = item->data(0).toInt();
        if (outline && number > 0 && numbers.contains(number)) {
            const QRectF r = outline->rect();
            out.append({number, GroundRect{r.left(), -r.bottom(), r.right(), -r.top()}});
        }
    }
    return out;
}

void MapWindow::btnRecuadroClick() {
    GroundPoint corners[2];
    QLineEdit* const edits[2] = {eDesde, eHasta};
    for (int i = 0; i < 2; ++i) {
        const std::optional<GroundPoint> ground = groundOf(edits[i]->text());
        if (!ground) {
            return;
        }
        corners[i] = *ground;
    }
    if (!m_hasJob) {
        return;
    }
    emit sheetsChosen(boxSource({std::min(corners[0].easting, corners[1].easting),
                                 std::min(corners[0].northing, corners[1].northing),
                                 std::max(corners[0].easting, corners[1].easting),
                                 std::max(corners[0].northing, corners[1].northing)}));
}

void MapWindow::btnHojasRutaClick() {
    if (!m_track || !m_hasJob) {
        return;
    }
    SheetSource source;
    source.kind = SheetSource::Kind::Track;
    source.trackPath = m_trackPath;
    source.margin = seMargen->value();
    source.overlap = seSolape->value();
    emit trackSheetsChosen(source, m_track);
}

// --- The server's images ----------------------------------------------------------------

void MapWindow::refresh() {
    if (!m_hasJob || !isVisible() || m_view->viewport()->size().isEmpty()) {
        return;
    }
    drawTrack();
    const GroundRect seen = m_view->visibleGround();
    m_level = OverviewLevelFor(m_view->metresPerPixel());
    const std::vector<OverviewSquare> squares = OverviewSquaresFor(seen, m_level, MapReach());
    m_wanted = QSet<OverviewSquare>(squares.begin(), squares.end());
    dropImages(false);
    std::vector<OverviewSquare> missing;
    for (const OverviewSquare& square : squares) {
        if (!m_images.contains(square)) {
            missing.push_back(square);
        }
    }
    m_waiting = QSet<OverviewSquare>(missing.begin(), missing.end());
    m_loader->show(missing);
    if (m_waiting.isEmpty()) {
        dropImages(true);
    }
}

void MapWindow::imageReady(const OverviewSquare& square, const QImage& image) {
    if (!m_wanted.contains(square) || m_images.contains(square)) {
        return;
    }
    const GroundRect r = square.rect();
    auto* item = m_scene->addPixmap(QPixmap::fromImage(image));
    item->setTransformationMode(Qt::SmoothTransformation);
    item->setScale(r.width() / std::max(1, image.width()));
    item->setPos(ScenePoint({r.west, r.north}));
    item->setZValue(1);
    m_images.insert(square, item);
    imageDone(square);
}

void MapWindow::imageDone(const OverviewSquare& square) {
    if (m_waiting.remove(square) && m_waiting.isEmpty()) {
        dropImages(true);
    }
}

void MapWindow::dropImages(bool otherLevels) {
    if (otherLevels) {
        qDeleteAll(m_stale);
        m_stale.clear();
    }
    const QRectF seen = SceneRect(m_view->visibleGround());
    for (auto it = m_images.begin(); it != m_images.end();) {
        const bool current = it.key().level == m_level;
        const bool away = !SceneRect(it.key().rect()).intersects(seen);
        // Images of the level before stay under the new ones until these are all in.
        if ((otherLevels && !current) || away || m_level < 0) {
            delete it.value();
            it = m_images.erase(it);
        } else {
            it.value()->setZValue(current ? 1 : 0);
            ++it;
        }
    }
}

// --- A place and a track ----------------------------------------------------------------

const DatumChange* MapWindow::datumChange() {
    if (!m_change && m_changeError.isEmpty()) {
        // Asked for before the worker is done: made here, once.
        const GroundRect reach = MapReach();
        m_change =
            DatumChange::ForArea(reach.west, reach.south, reach.east, reach.north, &m_changeError);
    }
    return m_change.get();
}

std::optional<GroundPoint> MapWindow::groundOf(const QString& text) {
    const PlaceParse parsed = ParsePlace(text);
    if (!parsed.place) {
        m_dialogs.message(PlaceErrorMessage(text, parsed.error));
        return std::nullopt;
    }
    const TypedPlace& place = *parsed.place;
    GroundPoint ground = place.grid;
    const bool geographic = place.kind == TypedPlace::Kind::Geographic;
    if (geographic || place.datum == TypedPlace::Datum::Etrs89) {
        const DatumChange* change = datumChange();
        const bool moved =
            change && (geographic ? change->fromGeographic({place.latitude, place.longitude},
                                                           &ground.easting, &ground.northing)
                                  : change->fromGrid(place.grid.easting, place.grid.northing,
                                                     &ground.easting, &ground.northing));
        if (!moved) {
            m_dialogs.message(
                QStringLiteral("No se puede pasar «%1» de %2 a ED50%3.")
                    .arg(text.trimmed(),
                         geographic ? QStringLiteral("WGS 84") : QStringLiteral("ETRS89"),
                         m_changeError.isEmpty() ? QString()
                                                 : QStringLiteral(": ") + m_changeError));
            return std::nullopt;
        }
    }
    return ground;
}

void MapWindow::btnIrClick() {
    const QString text = eIrA->text();
    const std::optional<GroundPoint> found = groundOf(text);
    if (!found) {
        return;
    }
    const GroundPoint ground = *found;
    const GroundRect reach = MapReach();
    if (!reach.contains(ground)) {
        m_dialogs.message(
            QStringLiteral("«%1» queda fuera del mapa (X %2, Y %3 en UTM 30 ED50); el mapa "
                           "abarca X de %4 a %5 e Y de %6 a %7.")
                .arg(text.trimmed(), GroupedNumber(std::llround(ground.easting)),
                     GroupedNumber(std::llround(ground.northing)),
                     GroupedNumber(std::llround(reach.west)),
                     GroupedNumber(std::llround(reach.east)),
                     GroupedNumber(std::llround(reach.south)),
                     GroupedNumber(std::llround(reach.north))));
        return;
    }
    delete m_marker;
    m_marker = Dot(m_scene, ground, 7, QColor(255, 140, 0), 40);
    m_marker->setToolTip(QStringLiteral("%1: ED50 X %2 Y %3")
                             .arg(text.trimmed(), GroupedNumber(std::llround(ground.easting)),
                                  GroupedNumber(std::llround(ground.northing))));
    if (m_view->metresPerPixel() > kGoToMetresPerPixel) {
        m_view->setMetresPerPixel(kGoToMetresPerPixel);
    }
    m_view->centreOn(ground);
}

void MapWindow::btnAbrirRutaClick() {
    const std::optional<QString> path = m_dialogs.chooseFile(
        QStringLiteral("Abrir ruta"), QStringLiteral("Rutas GPX, KML y KMZ (*.gpx *.kml *.kmz);;"
                                                     "Todos los ficheros (*)"));
    if (path) {
        openTrack(*path);
    }
}

void MapWindow::openTrack(const QString& path) {
    btnAbrirRuta->setEnabled(false);
    // Handed over by pointer: a copy of a million points is felt on this thread.
    WhenFinished(this, RunTrackWork([path] {
                     return std::make_shared<const GroundTrackRead>(ReadTrackOnGrid(path));
                 }),
                 [this, path](const std::shared_ptr<const GroundTrackRead>& read) {
                     btnAbrirRuta->setEnabled(true);
                     if (!read->error.isEmpty()) {
                         m_dialogs.message(TrackErrorMessage(path, read->error));
                         emit trackRead(false);
                         return;
                     }
                     showTrack(path, std::shared_ptr<const GroundTrack>(read, &read->track));
                     emit trackRead(true);
                 });
}

void MapWindow::showTrack(const QString& path, std::shared_ptr<const GroundTrack> track) {
    delete m_trackPicture;
    const GroundRect extent = track->extent;
    m_track = std::move(track);
    m_trackPicture = new TrackPicture(extent);
    m_trackAsked.reset();
    m_trackPicture->setZValue(30);
    m_scene->addItem(m_trackPicture);
    m_trackPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    btnAjustarRuta->setEnabled(true);
    btnHojasRuta->setEnabled(true);
    btnAjustarRuta->setToolTip(QFileInfo(path).fileName());
    m_view->showGround(extent.grown(std::max({extent.width(), extent.height(), 2000.0}) / 4));
    drawTrack();
}

bool MapWindow::trackDrawnForView() const {
    return m_trackPicture && m_trackDrawn;
}

void MapWindow::drawTrack() {
    if (!m_track || !isVisible() || m_view->viewport()->size().isEmpty()) {
        return;
    }
    // The view and half of it on every side, so that a pan shows the track at once.
    const GroundRect seen = m_view->visibleGround();
    const GroundRect ground = seen.grown(std::max(seen.width(), seen.height()) / 2);
    const double metresPerPixel = m_view->metresPerPixel();
    if (m_trackAsked && m_trackAsked->second == metresPerPixel &&
        SameGround(m_trackAsked->first, ground)) {
        return;
    }
    m_trackAsked = std::make_pair(ground, metresPerPixel);
    const quint64 drawing = ++m_trackDrawing;
    m_trackDrawn = false;
    WhenFinished(this, RunTrackWork([track = m_track, ground, metresPerPixel] {
                     return Guarded([&] { return DrawTrack(*track, ground, metresPerPixel); },
                                    [](const QString&) { return QImage(); });
                 }),
                 [this, drawing, ground](const QImage& picture) {
                     if (drawing != m_trackDrawing || !m_trackPicture) {
                         return; // a later view asked for its own
                     }
                     m_trackPicture->setPicture(picture, ground);
                     m_trackDrawn = true;
                     emit trackDrawn();
                 });
}

void MapWindow::btnAjustarRutaClick() {
    if (!m_track || !m_hasJob) {
        return;
    }
    const TrackFit fit = FitTrackArea(m_track->extent, m_job.tileSize, seMargen->value());
    if (!fit.grid) {
        m_dialogs.message(fit.message);
        return;
    }
    emit areaChosen(fit.grid->easting, fit.grid->northing, fit.grid->across, fit.grid->down);
}
