#pragma once

#include <QLineEdit>

// A corner coordinate field: six required digits shown as "585.000", "_" for an empty
// place; the point is only shown. A changed entry that still has an empty place does
// not let the focus go.
class CornerEdit : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int kDigitPlaces = 6;

    explicit CornerEdit(QWidget* parent = nullptr);

    // The digits without the point: empty places at the start are left out, any other
    // empty place reads as a blank (which no number accepts).
    QString value() const;
    // What the field stands for when the window closes: its value, or while a changed
    // entry is still incomplete, the value it had when the focus came in.
    QString storedValue() const;
    // Puts a stored text through the mask: its n-th character goes to the n-th digit
    // place, where anything but a digit leaves the place empty; a point standing where
    // the shown point stands is taken as that point; characters beyond the places are
    // dropped. The entry counts as unchanged.
    void setValue(const QString& text);
    bool hasEmptyPlace() const;

signals:
    // The focus went to another control of the window and the entry is acceptable.
    void exited();
    // The focus was kept because the changed entry has an empty place; emitted once the
    // focus is back, for the window to show the error.
    void exitRefused();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void placeDigits(const QString& places);
    // Swallows the click that tried to take the focus away while the entry was refused.
    void swallowPendingClick();

    QString shownAtEntry_;
    // The control holds the window's focus; a focus-out it never entered (the focus
    // coming straight back here) is ignored.
    bool entered_ = false;
    // While the focus is taken back: that focus-in is no new entry.
    bool refocusing_ = false;
};
