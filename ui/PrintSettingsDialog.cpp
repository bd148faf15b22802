#include "ui/PrintSettingsDialog.h"

#include "job/NumberFormat.h"
#include "job/PrintPages.h"
#include "ui/WindowFont.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

PrintSettingsDialog::PrintSettingsDialog(int32_t scale, PrintPaper paper, const GroundRect& area,
                                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_area(area) {
    setObjectName(QStringLiteral("EscalaPapel"));
    setWindowTitle(QStringLiteral("Escala y papel"));
    setFont(WindowFont());

    cbEscala = new QComboBox(this);
    cbEscala->setObjectName(QStringLiteral("cbEscala"));
    for (const int32_t s : kPrintScales) {
        cbEscala->addItem(QStringLiteral("1:") + GroupedNumber(s), s);
    }
    cbEscala->setCurrentIndex(std::max(0, cbEscala->findData(scale)));
    cbPapel = new QComboBox(this);
    cbPapel->setObjectName(QStringLiteral("cbPapel"));
    for (const PrintPaper p : {PrintPaper::A4, PrintPaper::A3}) {
        const QSizeF mm = PaperMillimetres(p);
        cbPapel->addItem(
            QStringLiteral("%1 (%2 × %3 mm)").arg(PaperName(p)).arg(mm.width()).arg(mm.height()),
            static_cast<int>(p));
    }
    cbPapel->setCurrentIndex(paper == PrintPaper::A3 ? 1 : 0);

    stHojas = new QLabel(this);
    stHojas->setObjectName(QStringLiteral("stHojas"));
    stHojas->setWordWrap(true);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("botones"));

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    form->addRow(QStringLiteral("&Escala:"), cbEscala);
    form->addRow(QStringLiteral("&Papel:"), cbPapel);
    layout->addWidget(stHojas);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The main window's style sheet keeps a font from passing to the children: each gets it.
    cbEscala->view()->setFont(font());
    cbPapel->view()->setFont(font());
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setFont(font());
    }
    // Wide enough for the line of pages, so that the box does not jump as it changes.
    stHojas->setMinimumWidth(fontMetrics().horizontalAdvance(
        PagesText(kPrintScales.front(), PrintPaper::A3, {0, 0, 99000, 99000})));

    connect(cbEscala, &QComboBox::currentIndexChanged, this, &PrintSettingsDialog::showPages);
    connect(cbPapel, &QComboBox::currentIndexChanged, this, &PrintSettingsDialog::showPages);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    showPages();
}

int32_t PrintSettingsDialog::scale() const {
    return cbEscala->currentData().toInt();
}

PrintPaper PrintSettingsDialog::paper() const {
    return static_cast<PrintPaper>(cbPapel->currentData().toInt());
}

QString PrintSettingsDialog::PagesText(int32_t scale, PrintPaper paper, const GroundRect& area) {
    const PrintPlan plan = PlanPrintPages(area, scale, paper);
    if (plan.pages.empty()) {
        return {};
    }
    const QLocale locale = ProgramLocale();
    const QString size = QStringLiteral("%1 × %2 km")
                             .arg(locale.toString(area.width() / 1000.0, 'g', 4),
                                  locale.toString(area.height() / 1000.0, 'g', 4));
    const int pages = static_cast<int>(plan.pages.size());
    const QString way = plan.landscape ? QStringLiteral("horizontal") : QStringLiteral("vertical");
    return QStringLiteral("A 1:%1, la zona de %2 ocupa %3.")
        .arg(GroupedNumber(scale), size,
             pages == 1 ? QStringLiteral("1 hoja %1 %2").arg(PaperName(paper), way)
                        : QStringLiteral("%1 hojas %2 %3es").arg(pages).arg(PaperName(paper), way));
}

void PrintSettingsDialog::showPages() {
    stHojas->setText(PagesText(scale(), paper(), m_area));
}
