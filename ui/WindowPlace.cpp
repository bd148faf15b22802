#include "ui/WindowPlace.h"

#include <QStringList>
#include <QWidget>

#include <algorithm>

namespace {

// The start of a span of `length` that lies within [low, high], or at `low` if none can.
int Within(int start, int length, int low, int high) {
    return std::max(low, std::min(start, high - length + 1));
}

} // namespace

QRect FitWithin(QRect frame, const QRect& available, const QSize& least) {
    frame.setWidth(std::max(least.width(), std::min(frame.width(), available.width())));
    frame.setHeight(std::max(least.height(), std::min(frame.height(), available.height())));
    frame.moveTo(Within(frame.x(), frame.width(), available.left(), available.right()),
                 Within(frame.y(), frame.height(), available.top(), available.bottom()));
    return frame;
}

WindowPlace FirstPlace(const QRect& available, const QRect& main, const QSize& wanted,
                       const QSize& least) {
    if (available.width() >= kWideScreen) {
        const int roomLeft = main.left() - available.left();
        const int roomRight = available.right() - main.right();
        const bool right = roomRight >= roomLeft;
        const int room = std::max(roomLeft, roomRight);
        // The main window gives way as far as the other side lets it.
        const int spare = std::max(0, std::min(roomLeft, roomRight));
        const int shift = std::clamp(wanted.width() - room, 0, spare);
        const int width = std::min(wanted.width(), room + shift);
        if (width >= least.width()) {
            const QRect moved = main.translated(right ? -shift : shift, 0);
            const QRect frame(right ? moved.right() + 1 : moved.left() - width, main.top(), width,
                              wanted.height());
            WindowPlace place{FitWithin(frame, available, least), std::nullopt};
            if (shift > 0) {
                place.mainAt = moved.topLeft();
            }
            return place;
        }
    }
    QRect frame(QPoint(), wanted);
    frame.moveCenter(main.center());
    return {FitWithin(frame, available, least), std::nullopt};
}

std::optional<QPoint> MakeRoom(const QRect& available, const QRect& main, const QRect& other) {
    if (available.width() < kWideScreen || !main.intersects(other)) {
        return std::nullopt;
    }
    const int roomLeft = other.left() - available.left();
    const int roomRight = available.right() - other.right();
    const bool right = roomRight >= roomLeft;
    if (std::max(roomLeft, roomRight) < main.width()) {
        return std::nullopt;
    }
    return QPoint(right ? other.right() + 1 : other.left() - main.width(),
                  Within(main.top(), main.height(), available.top(), available.bottom()));
}

QString WindowPlaceText(const QPoint& framePosition, const QSize& size) {
    return QStringLiteral("%1,%2,%3,%4")
        .arg(framePosition.x())
        .arg(framePosition.y())
        .arg(size.width())
        .arg(size.height());
}

std::optional<QRect> ParseWindowPlace(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) {
        return std::nullopt;
    }
    int numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    if (numbers[2] <= 0 || numbers[3] <= 0) {
        return std::nullopt;
    }
    return QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
}

QMargins FrameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}
