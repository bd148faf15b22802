#include "ui/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>

#include <algorithm>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setWordWrap(false);
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : ElidedLabel(parent) {
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == m_text && !text.isEmpty()) {
        return;
    }
    m_text = text;
    setToolTip(text);
    elide();
    updateGeometry();
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return {metrics.horizontalAdvance(m_text) + m.left() + m.right() + 2 * margin() + 1,
            QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return {metrics.horizontalAdvance(QStringLiteral("…")) + m.left() + m.right() + 2 * margin(),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        elide();
        updateGeometry();
    }
}

void ElidedLabel::elide() {
    const QString shown = QFontMetrics(font()).elidedText(
        m_text, Qt::ElideRight, std::max(0, contentsRect().width() - 2 * margin()));
    if (shown != QLabel::text()) {
        QLabel::setText(shown);
    }
}
