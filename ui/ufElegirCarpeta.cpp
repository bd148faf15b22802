#include "ui/ufElegirCarpeta.h"

#include "run/EventStamp.h"
#include "ui/CentreOnScreen.h"
#include "ui/WindowFont.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextCursor>
#include <QTextDocument>

TfElegirCarpeta::TfElegirCarpeta(QWidget* parent)
    : QDialog(parent), m_clock([] { return QDateTime::currentDateTime(); }) {
    setObjectName(QStringLiteral("fElegirCarpeta"));
    setFont(WindowFont());
    setWindowTitle(QStringLiteral("Sucesos de descarga"));
    resize(354, 381);

    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("mLog"));
    m_log->setGeometry(8, 8, 329, 297);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    m_accept = new QPushButton(QStringLiteral("Aceptar"), this);
    m_accept->setObjectName(QStringLiteral("Button1"));
    m_accept->setGeometry(256, 312, 75, 25);
    connect(m_accept, &QPushButton::clicked, this, &TfElegirCarpeta::Button1Click);

    // The button comes first, so that it has the focus when the window opens.
    setTabOrder(m_accept, m_log);
    m_accept->setFocus();
}

void TfElegirCarpeta::Clear() {
    m_log->clear();
}

void TfElegirCarpeta::AddEvent(const QString& message) {
    m_log->appendPlainText(EventStamp(m_clock()) + message);
}

QStringList TfElegirCarpeta::lines() const {
    const QString text = m_log->toPlainText();
    if (text.isEmpty()) {
        return {};
    }
    return text.split(u'\n');
}

void TfElegirCarpeta::setClock(Clock clock) {
    m_clock = std::move(clock);
}

void TfElegirCarpeta::Button1Click() {
    accept();
}

void TfElegirCarpeta::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        CentreOnScreen(this);
    }
}
