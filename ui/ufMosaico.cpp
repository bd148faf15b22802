#include "ui/ufMosaico.h"

#include "ui/CentreOnScreen.h"
#include "ui/WindowFont.h"

#include <QFrame>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

namespace {

QPushButton* BoldButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setFont(WindowFont(true));
    button->setAutoDefault(false);
    return button;
}

} // namespace

TfMosaico::TfMosaico(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fMosaico"));
    setFont(WindowFont());
    setWindowTitle(QStringLiteral("Mosaico"));
    resize(668, 604);

    m_close = BoldButton(QStringLiteral("&Cerrar"), this);
    m_close->setObjectName(QStringLiteral("BitBtn1"));
    m_close->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    m_close->setGeometry(576, 520, 75, 25);
    connect(m_close, &QPushButton::clicked, this, &TfMosaico::BitBtn1Click);

    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("pMosaico"));
    m_panel->setGeometry(0, 0, 566, 565);
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel->setLineWidth(1);

    m_toggle = BoldButton(QStringLiteral("Mosaico"), this);
    m_toggle->setObjectName(QStringLiteral("btnMosaicos"));
    m_toggle->setGeometry(576, 416, 75, 25);
    connect(m_toggle, &QPushButton::clicked, this, &TfMosaico::btnMosaicosClick);

    setTabOrder(m_close, m_panel);
    setTabOrder(m_panel, m_toggle);
}

void TfMosaico::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        CentreOnScreen(this);
    }
    FormShow();
}

void TfMosaico::FormShow() {
    // Follows the option as it stands now: turning it off makes the toggle usable again.
    m_toggle->setEnabled(!m_host || !m_host->deleteTilesOption());
}

void TfMosaico::resetView() {
    m_markersShown = false;
    m_toggle->setText(QStringLiteral("Mosaico"));
}

void TfMosaico::btnMosaicosClick() {
    if (!m_host) {
        return;
    }
    if (m_host->deleteTilesOption()) {
        m_toggle->setEnabled(false);
        return;
    }
    // The caption names the view the next press brings.
    if (m_markersShown) {
        m_host->ShowTileThumbnails();
        m_toggle->setText(QStringLiteral("Mosaico"));
    } else {
        m_host->ShowTileMarkers();
        m_toggle->setText(QStringLiteral("Imagen"));
    }
    m_markersShown = !m_markersShown;
}

void TfMosaico::BitBtn1Click() {
    close();
}
