#pragma once

// Where a window goes on its screen: beside the main window where the screen is wide
// enough, always within the screen's available area, and where it was the last time. A
// frame is a window's outer rectangle, title bar and borders included.

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

// Screens at least this wide hold a window beside the main one.
constexpr int kWideScreen = 1280;

struct WindowPlace {
    QRect frame;                  // the window's frame
    std::optional<QPoint> mainAt; // where the main window's frame moves to make room
};

// The first place of a window whose frame wants `wanted` (and needs at least `least`),
// opened from the main window whose frame is `main`, on a screen whose available area is
// `available`. On a wide screen it goes beside the main window, on the side with more
// room; when that room is narrower than `wanted`, the main window moves towards the other
// edge, as little as it must and no further than the screen. Where even so it would be
// narrower than `least`, and on a narrower screen, it goes over the main window's middle.
// Either way it lies within `available`, unless `least` is larger.
WindowPlace FirstPlace(const QRect& available, const QRect& main, const QSize& wanted,
                       const QSize& least);

// Where the main window whose frame is `main` goes so as not to lie under `other` (a
// window put back where it was): beside it, on the side with more room, on a wide screen
// where that side holds it whole. Nothing when it need not or cannot move.
std::optional<QPoint> MakeRoom(const QRect& available, const QRect& main, const QRect& other);

// `frame` moved, and made smaller down to `least` where it must, to lie within `available`.
QRect FitWithin(QRect frame, const QRect& available, const QSize& least);

// A window's place as the settings file keeps it: its frame's upper-left corner and its
// inner size, "X,Y,ANCHO,ALTO". Nothing for a text that is not four whole numbers with a
// positive size.
QString WindowPlaceText(const QPoint& framePosition, const QSize& size);
std::optional<QRect> ParseWindowPlace(const QString& text);

// What a shown window's frame adds around it: none before the window system has said.
QMargins FrameMargins(const QWidget* window);
