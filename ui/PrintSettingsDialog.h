#pragma once

#include "job/DownloadJob.h"
#include "job/MapArea.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;

// "Escala y papel": the scale and the paper of the PDF to print, and how many pages the
// area takes with them. The window applies them when it is accepted.
class PrintSettingsDialog : public QDialog {
    Q_OBJECT
public:
    PrintSettingsDialog(int32_t scale, PrintPaper paper, const GroundRect& area,
                        QWidget* parent = nullptr);

    int32_t scale() const;
    PrintPaper paper() const;

    // "A 1:25.000, la zona de 5 × 5 km ocupa 2 hojas A4 verticales."
    static QString PagesText(int32_t scale, PrintPaper paper, const GroundRect& area);

private:
    void showPages();

    GroundRect m_area;
    QComboBox* cbEscala;
    QComboBox* cbPapel;
    QLabel* stHojas;
    QDialogButtonBox* buttons;
};
