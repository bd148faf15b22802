#pragma once

#include <QLabel>
#include <QString>

// A one-line label whose text never sets its window's width: a text longer than the room
// given is cut with "…" and cut again whenever the room changes; the whole text is its
// tooltip. text() gives what is shown, fullText() the whole.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    ElidedLabel(const QString& text, QWidget* parent);

    void setFullText(const QString& text);
    QString fullText() const { return m_text; }

    // The whole text when there is room; as little as "…" when there is not.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString m_text;
};
