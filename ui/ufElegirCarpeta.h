#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QPlainTextEdit;
class QPushButton;

// The event log window "Sucesos de descarga". Its text area is the log of the latest
// run: what it shows is the log, there is no second copy, and what the user types into
// it stays until the next run empties it.
class TfElegirCarpeta : public QDialog {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    explicit TfElegirCarpeta(QWidget* parent = nullptr);

    // Removes every line.
    void Clear();
    // Appends the stamp (EventStamp) of the clock's time followed directly by the message.
    void AddEvent(const QString& message);
    // The log's lines, first to last.
    QStringList lines() const;

    // Tests put a clock of their own here; the default is the local system clock.
    void setClock(Clock clock);

public slots:
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPlainTextEdit* m_log = nullptr;
    QPushButton* m_accept = nullptr;
    Clock m_clock;
};
