#pragma once

// A track over the map, drawn as a picture on a worker for the view's scale and place:
// painting it costs the same however many points the track has, and the picture is drawn
// from the points thinned to the view's pixels (the sheets still use every point).

#include "geo/TrackFile.h"

#include <QGraphicsItem>
#include <QImage>

#include <memory>

// The track's lines and points as they show at `metresPerPixel` over `ground` (a pixel a
// side of `metresPerPixel` metres, the picture's top left on the ground's north-west):
// lines thinned to half a pixel, and only the runs of segments that reach the picture.
QImage DrawTrack(const GroundTrack& track, const GroundRect& ground, double metresPerPixel);

// The latest picture of the track, at the place on the ground it was drawn for; the view
// scales it until the next one comes.
class TrackPicture : public QGraphicsItem {
public:
    explicit TrackPicture(const GroundRect& extent);

    void setPicture(const QImage& picture, const GroundRect& ground);

    QRectF boundingRect() const override { return m_bounds; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QRectF m_bounds;
    QImage m_picture;
    QRectF m_place;
};
