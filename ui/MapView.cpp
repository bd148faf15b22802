#include "ui/MapView.h"

#include "job/NumberFormat.h"

#include <QGraphicsRectItem>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// Spacings of the UTM grid in metres; the smallest that leaves this many pixels between
// lines is drawn.
constexpr double kGridSpacings[] = {1000, 2000, 5000, 10000, 20000, 50000, 100000};
constexpr double kMinGridPixels = 90.0;
constexpr double kWheelStep = 1.25; // zoom of one wheel notch
constexpr double kKeyZoom = 2.0;
constexpr int kKeyPanDivisor = 4; // an arrow moves a quarter of the view

} // namespace

QRectF SceneRect(const GroundRect& r) {
    return QRectF(QPointF(r.west, -r.north), QPointF(r.east, -r.south));
}

MapView::MapView(QGraphicsScene* scene, QWidget* parent) : QGraphicsView(scene, parent) {
    setObjectName(QStringLiteral("MapView"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setDragMode(QGraphicsView::NoDrag);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    // Labels drawn over the scene move with it: the whole view is painted on each move.
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        if (isDragging()) {
            m_settle.start();
        } else {
            emit settled();
        }
    });
}

double MapView::metresPerPixel() const {
    const double m11 = transform().m11();
    return m11 > 0 ? 1.0 / m11 : 1.0;
}

void MapView::setMetresPerPixel(double metresPerPixel) {
    scaleTo(metresPerPixel, viewport()->rect().center());
}

void MapView::zoomBy(double factor) {
    setMetresPerPixel(metresPerPixel() / factor);
}

void MapView::scaleTo(double metresPerPixel, const QPoint& anchor) {
    const double target = std::clamp(metresPerPixel, kMinMetresPerPixel, kMaxMetresPerPixel);
    const QPointF fixed = mapToScene(anchor);
    setTransform(QTransform::fromScale(1.0 / target, 1.0 / target));
    // The ground under the anchor stays under it.
    const QPointF now = mapToScene(anchor);
    const QPointF shift = (fixed - now) / target;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + qRound(shift.x()));
    verticalScrollBar()->setValue(verticalScrollBar()->value() + qRound(shift.y()));
    moved();
}

void MapView::centreOn(const GroundPoint& ground) {
    centerOn(ScenePoint(ground));
    moved();
}

GroundPoint MapView::centre() const {
    return GroundOf(mapToScene(viewport()->rect().center()));
}

GroundRect MapView::visibleGround() const {
    const QRectF r = mapToScene(viewport()->rect()).boundingRect();
    return {r.left(), -r.bottom(), r.right(), -r.top()};
}

void MapView::showGround(const GroundRect& rect) {
    const QSize size = viewport()->size();
    if (size.isEmpty() || !(rect.width() > 0) || !(rect.height() > 0)) {
        return;
    }
    setMetresPerPixel(std::max(rect.width() / size.width(), rect.height() / size.height()));
    centreOn({(rect.west + rect.east) / 2, (rect.south + rect.north) / 2});
}

void MapView::moved() {
    viewport()->update();
    m_settle.start();
}

void MapView::panBy(const QPoint& pixels) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + pixels.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() + pixels.y());
    moved();
}

void MapView::scrollContentsBy(int dx, int dy) {
    QGraphicsView::scrollContentsBy(dx, dy);
    moved();
}

void MapView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    moved();
}

void MapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        m_panning = true;
        m_last = event->position().toPoint();
        viewport()->setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_boxing = true;
        m_boxStartPixel = event->position().toPoint();
        m_boxStart = mapToScene(m_boxStartPixel);
        if (!m_band && scene()) {
            m_band = scene()->addRect(QRectF(), QPen(QColor(200, 0, 0), 0, Qt::DashLine),
                                      QColor(200, 0, 0, 40));
            m_band->setZValue(100);
        }
        if (m_band) {
            m_band->setRect(QRectF(m_boxStart, m_boxStart));
            m_band->hide();
        }
        event->accept();
        return;
    }
    QGraphicsView::mousePressEvent(event);
}

void MapView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit pointerMoved(GroundOf(mapToScene(at)));
    if (m_panning) {
        panBy(m_last - at);
        m_last = at;
        event->accept();
        return;
    }
    if (m_boxing && m_band) {
        m_band->setRect(QRectF(m_boxStart, mapToScene(at)).normalized());
        m_band->setVisible((at - m_boxStartPixel).manhattanLength() >= kMinBoxPixels);
        event->accept();
        return;
    }
    QGraphicsView::mouseMoveEvent(event);
}

void MapView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && m_panning) {
        m_panning = false;
        viewport()->unsetCursor();
        moved();
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && m_boxing) {
        m_boxing = false;
        if (m_band) {
            m_band->hide();
        }
        const QPoint at = event->position().toPoint();
        if ((at - m_boxStartPixel).manhattanLength() >= kMinBoxPixels) {
            const GroundPoint a = GroundOf(m_boxStart);
            const GroundPoint b = GroundOf(mapToScene(at));
            emit boxDrawn({std::min(a.easting, b.easting), std::min(a.northing, b.northing),
                           std::max(a.easting, b.easting), std::max(a.northing, b.northing)});
        }
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
}

void MapView::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / 120;
    if (notches == 0) {
        event->ignore();
        return;
    }
    scaleTo(metresPerPixel() / std::pow(kWheelStep, notches), event->position().toPoint());
    event->accept();
}

void MapView::keyPressEvent(QKeyEvent* event) {
    const int dx = viewport()->width() / kKeyPanDivisor;
    const int dy = viewport()->height() / kKeyPanDivisor;
    switch (event->key()) {
    case Qt::Key_Left:
        panBy({-dx, 0});
        break;
    case Qt::Key_Right:
        panBy({dx, 0});
        break;
    case Qt::Key_Up:
        panBy({0, -dy});
        break;
    case Qt::Key_Down:
        panBy({0, dy});
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(kKeyZoom);
        break;
    case Qt::Key_Minus:
        zoomBy(1.0 / kKeyZoom);
        break;
    default:
        QGraphicsView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void MapView::drawForeground(QPainter* painter, const QRectF& rect) {
    QGraphicsView::drawForeground(painter, rect);
    drawUtmGrid(painter);
}

void MapView::drawUtmGrid(QPainter* painter) {
    const double mpp = metresPerPixel();
    double spacing = kGridSpacings[std::size(kGridSpacings) - 1];
    for (const double s : kGridSpacings) {
        if (s / mpp >= kMinGridPixels) {
            spacing = s;
            break;
        }
    }
    const GroundRect g = visibleGround();
    const double firstX = std::ceil(g.west / spacing) * spacing;
    const double firstY = std::ceil(g.south / spacing) * spacing;

    painter->save();
    painter->resetTransform(); // from here on in viewport pixels
    painter->setRenderHint(QPainter::Antialiasing, false);
    const QRect vp = viewport()->rect();
    const QPen line(QColor(40, 40, 40, 150), 1);
    painter->setPen(line);
    for (double x = firstX; x <= g.east; x += spacing) {
        const int px = mapFromScene(QPointF(x, 0)).x();
        painter->drawLine(px, vp.top(), px, vp.bottom());
    }
    for (double y = firstY; y <= g.north; y += spacing) {
        const int py = mapFromScene(QPointF(0, -y)).y();
        painter->drawLine(vp.left(), py, vp.right(), py);
    }

    // Labels on a pale ground along the top and left edges, in full metres.
    QFont font = painter->font();
    font.setPointSizeF(8.5);
    font.setBold(true);
    painter->setFont(font);
    const QFontMetrics fm(font);
    const auto label = [&](const QString& text, QPoint at) {
        QRect box = fm.boundingRect(text).adjusted(-3, -1, 3, 1);
        box.moveTopLeft(at);
        painter->fillRect(box, QColor(255, 255, 255, 215));
        painter->setPen(QColor(20, 20, 20));
        painter->drawText(box, Qt::AlignCenter, text);
    };
    for (double x = firstX; x <= g.east; x += spacing) {
        const int px = mapFromScene(QPointF(x, 0)).x();
        const QString text = GroupedNumber(std::llround(x));
        label(text, QPoint(px - fm.horizontalAdvance(text) / 2 - 3, vp.top() + 2));
    }
    for (double y = firstY; y <= g.north; y += spacing) {
        const int py = mapFromScene(QPointF(0, -y)).y();
        label(GroupedNumber(std::llround(y)), QPoint(vp.left() + 2, py - fm.height() / 2 - 1));
    }
    painter->restore();
}
