// The main window's part in the "Mapa" window and the estimates: the map follows the job,
// an area chosen on the map goes through the fields, and what this session measured of
// the server turns into the estimates of a run.
#include "ui/fPruncipal.h"

#include "download/TransferGate.h"
#include "ui/CornerEdit.h"
#include "ui/Dialogs.h"
#include "ui/MapWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QSignalBlocker>

namespace {

// The corner fields hold six digits.
constexpr int64_t kLargestField = 999999;

} // namespace

QNetworkAccessManager* TfPrincipal::network() {
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
    }
    return network_;
}

void TfPrincipal::ElegirMapa1Click() {
    if (!mapWindow_) {
        mapWindow_ = std::make_unique<MapWindow>(network(), *serverGate_, *dialogs_, this);
        mapWindow_->setFetchLimits(fetchLimits_);
        connect(mapWindow_.get(), &MapWindow::areaChosen, this, &TfPrincipal::setAreaFromMap);
        connect(mapWindow_.get(), &MapWindow::overviewMeasured, this,
                [this](MapKind kind, int32_t side, qint64 storedBytes, qint64 ms) {
                    measures_.addTileBytes(kind, side, storedBytes);
                    measures_.addAnswerTime(ms);
                    showEstimate();
                });
        mapWindow_->showJob(job_);
        mapWindow_->setEstimate(estimateText());
    }
    mapWindow_->show();
    mapWindow_->raise();
    mapWindow_->activateWindow();
}

void TfPrincipal::setAreaFromMap(int32_t easting, int32_t northing, int across, int down) {
    if (isRunning()) {
        dialogs_->message(QStringLiteral("El área no se puede cambiar durante una descarga."));
        return;
    }
    const int64_t field = int64_t{northing} - kNorthingOffset;
    if (easting < 0 || easting > kLargestField || field < 0 || field > kLargestField) {
        return; // beyond what the map shows; the fields could not hold it
    }
    // As typed: six digits in each field, an item of each list.
    meUTMx->setValue(QString::number(easting).rightJustified(CornerEdit::kDigitPlaces, u'0'));
    meUTMy->setValue(QString::number(field).rightJustified(CornerEdit::kDigitPlaces, u'0'));
    {
        const QSignalBlocker across_(cbAncho);
        const QSignalBlocker down_(cbAlto);
        cbAncho->setCurrentIndex(across - 1);
        cbAlto->setCurrentIndex(down - 1);
    }
    RecalcArea();
}

void TfPrincipal::areaChanged() {
    if (mapWindow_) {
        mapWindow_->showJob(job_);
    }
    showEstimate();
}

QString TfPrincipal::estimateText() const {
    return EstimateText(EstimateRun(job_, measures_, connections_));
}

void TfPrincipal::showEstimate() {
    const QString text = estimateText();
    stEstimacion->setText(text);
    if (mapWindow_) {
        mapWindow_->setEstimate(text);
    }
}
