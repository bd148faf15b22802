#pragma once

// The ground as a scene in metres, shown north up: scene x is the easting and scene y the
// northing with its sign turned. The view only pans (right button, arrow keys), zooms
// (wheel, + and -), reports a box drawn with the left button, and says when it has
// settled; what is drawn on it belongs to its window.

#include "job/MapArea.h"

#include <QGraphicsView>
#include <QPointF>
#include <QTimer>

class QGraphicsRectItem;

inline QPointF ScenePoint(const GroundPoint& p) {
    return {p.easting, -p.northing};
}
inline GroundPoint GroundOf(const QPointF& scene) {
    return {scene.x(), -scene.y()};
}
QRectF SceneRect(const GroundRect& r);

class MapView : public QGraphicsView {
    Q_OBJECT
public:
    // A view is settled once it has not moved for this long and no drag is under way.
    static constexpr int kSettleMs = 300;
    static constexpr double kMinMetresPerPixel = 0.25;
    static constexpr double kMaxMetresPerPixel = 500.0;
    // A drag shorter than this, in pixels, is a click, not a box.
    static constexpr int kMinBoxPixels = 4;

    explicit MapView(QGraphicsScene* scene, QWidget* parent = nullptr);

    double metresPerPixel() const;
    // Zooms about the middle of the view, within the limits.
    void setMetresPerPixel(double metresPerPixel);
    void zoomBy(double factor);
    void centreOn(const GroundPoint& ground);
    GroundPoint centre() const;
    // The ground the viewport shows.
    GroundRect visibleGround() const;
    // Shows the whole rectangle, as large as it fits.
    void showGround(const GroundRect& rect);
    bool isDragging() const { return m_panning || m_boxing; }

signals:
    // The view stopped moving: the moment to ask for what it shows.
    void settled();
    void boxDrawn(const GroundRect& box);
    void pointerMoved(const GroundPoint& ground);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;

private:
    void moved();
    void panBy(const QPoint& pixels);
    void scaleTo(double metresPerPixel, const QPoint& anchor);
    void drawUtmGrid(QPainter* painter);

    QTimer m_settle;
    bool m_panning = false;
    bool m_boxing = false;
    QPoint m_last;
    QPointF m_boxStart;
    QPoint m_boxStartPixel;
    QGraphicsRectItem* m_band = nullptr;
};
