#include "ui/CornerEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

namespace {

constexpr char kMask[] = "999.999;_";
constexpr QChar kBlank = u'_';
constexpr int kPointIndex = 3;

// Index of the n-th digit place in the shown text.
int ShownIndex(int place) {
    return place < kPointIndex ? place : place + 1;
}

// Focus moves that leave the window or open a menu do not leave the control.
bool LeavesControl(Qt::FocusReason reason) {
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
           reason != Qt::MenuBarFocusReason;
}

// The digits of a shown text without the point: empty places at the start left out, any
// other empty place read as a blank.
QString ValueOfShown(const QString& shown) {
    QString out;
    for (int place = 0; place < CornerEdit::kDigitPlaces; ++place) {
        const int i = ShownIndex(place);
        const QChar c = i < shown.size() ? shown.at(i) : kBlank;
        if (c == kBlank) {
            if (!out.isEmpty()) {
                out += u' ';
            }
        } else {
            out += c;
        }
    }
    return out;
}

// Eats the rest of the click under way (its press, then its release) for every widget
// but the field, then goes. A second press means that click's release was never seen
// (a box opened meanwhile): that press already belongs to a new click and passes.
class ClickSwallower : public QObject {
public:
    explicit ClickSwallower(QWidget* keeper) : QObject(keeper), m_keeper(keeper) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (m_done || watched == m_keeper ||
            (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
             type != QEvent::MouseButtonDblClick)) {
            return false;
        }
        if (type == QEvent::MouseButtonPress && m_sawPress) {
            finish();
            return false;
        }
        m_sawPress = true;
        if (type == QEvent::MouseButtonRelease) {
            finish();
        }
        return true;
    }

private:
    void finish() {
        m_done = true;
        deleteLater();
    }

    QWidget* m_keeper;
    bool m_sawPress = false;
    bool m_done = false;
};

} // namespace

CornerEdit::CornerEdit(QWidget* parent) : QLineEdit(parent) {
    setInputMask(QLatin1String(kMask));
    setMaxLength(7);
}

QString CornerEdit::value() const {
    return ValueOfShown(displayText());
}

QString CornerEdit::storedValue() const {
    return isModified() && hasEmptyPlace() ? ValueOfShown(shownAtEntry_) : value();
}

void CornerEdit::swallowPendingClick() {
    auto* swallower = new ClickSwallower(this);
    qApp->installEventFilter(swallower);
}

void CornerEdit::setValue(const QString& text) {
    QString places;
    for (int i = 0; i < text.size() && places.size() < kDigitPlaces; ++i) {
        if (i == kPointIndex && text.at(i) == u'.' && text.size() > kDigitPlaces) {
            continue;
        }
        places += text.at(i);
    }
    placeDigits(places);
    shownAtEntry_ = displayText();
}

bool CornerEdit::hasEmptyPlace() const {
    return !hasAcceptableInput();
}

void CornerEdit::placeDigits(const QString& places) {
    clear();
    // Typing into the places one by one, because the mask would close up the gaps of a
    // text set at once.
    for (int place = 0; place < places.size() && place < kDigitPlaces; ++place) {
        const QChar c = places.at(place);
        if (c >= u'0' && c <= u'9') {
            setCursorPosition(ShownIndex(place));
            insert(QString(c));
        }
    }
    setCursorPosition(0);
    setModified(false);
}

void CornerEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // Coming back from another window or a menu is no new entry; the first activation
    // of the window is one.
    if (!entered_ && !refocusing_) {
        entered_ = true;
        shownAtEntry_ = displayText();
        setModified(false);
    }
}

void CornerEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!LeavesControl(event->reason()) || !entered_) {
        return;
    }
    if (isModified() && hasEmptyPlace()) {
        QApplication::beep();
        // The click that tried to take the focus must not act either (a button, a box).
        if (event->reason() == Qt::MouseFocusReason) {
            swallowPendingClick();
        }
        // Taken back at once, so the control the focus was going to never enters.
        refocusing_ = true;
        setFocus(Qt::OtherFocusReason);
        refocusing_ = false;
        QTimer::singleShot(0, this, &CornerEdit::exitRefused);
        return;
    }
    entered_ = false;
    emit exited();
}

void CornerEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && isModified()) {
        QString places;
        for (int place = 0; place < kDigitPlaces; ++place) {
            const int i = ShownIndex(place);
            places += i < shownAtEntry_.size() ? shownAtEntry_.at(i) : kBlank;
        }
        placeDigits(places);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
