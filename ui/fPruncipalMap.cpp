// The main window's part in the "Mapa" window and the estimates: the map follows the job,
// an area chosen on the map goes through the fields, and what was measured of this machine
// and the server (in this session, and in earlier ones through the cache folder) turns into
// the estimates of a run.
#include "ui/fPruncipal.h"

#include "download/TransferGate.h"
#include "download/WhenFinished.h"
#include "geo/TrackFile.h"
#include "run/MeasureStore.h"
#include "ui/CornerEdit.h"
#include "ui/Dialogs.h"
#include "ui/MapWindow.h"
#include "ui/SheetSettings.h"
#include "ui/WindowPlace.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace {

// The corner fields hold six digits.
constexpr int64_t kLargestField = 999999;
const QString kNoChangeWhileRunning =
    QStringLiteral("El área no se puede cambiar durante una descarga.");

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
        connect(mapWindow_.get(), &MapWindow::sheetsChosen, this, &TfPrincipal::setSheets);
        connect(mapWindow_.get(), &MapWindow::overviewMeasured, this,
                [this](MapKind kind, int32_t side, qint64 storedBytes, qint64 ms) {
                    RunMeasures image;
                    image.addTileBytes(kind, side, double(storedBytes));
                    image.addAnswerTime(serverBase(), double(ms));
                    addMeasures(image);
                    showEstimate();
                });
        mapWindow_->showJob(job_);
        showSheets();
        // Its foot says it from the start, not only once an image has come.
        showEstimate();
        placeMapWindow();
    }
    mapWindow_->show();
    mapWindow_->raise();
    mapWindow_->activateWindow();
}

void TfPrincipal::placeMapWindow() {
    MapWindow* map = mapWindow_.get();
    // The map's frame is assumed to be as this window's: the window system says only once
    // a window is shown.
    const QMargins margins = FrameMargins(this);
    const QSize frame(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QSize least = map->minimumSizeHint().expandedTo(map->minimumSize()) + frame;
    QRect place;
    if (const std::optional<QRect> stored =
            mapPlace_ ? ParseWindowPlace(*mapPlace_) : std::nullopt) {
        const QRect wanted(stored->topLeft(), stored->size() + frame);
        const QScreen* on = QGuiApplication::screenAt(wanted.center());
        const QRect available = (on ? on : screen())->availableGeometry();
        place = FitWithin(wanted, available, least);
        // As the two windows were: this one opens in the middle of the screen.
        if (const std::optional<QPoint> aside = MakeRoom(available, frameGeometry(), place)) {
            move(*aside);
        }
    } else {
        const WindowPlace first = FirstPlace(screen()->availableGeometry(), frameGeometry(),
                                             MapWindow::kWantedSize + frame, least);
        if (first.mainAt) {
            move(*first.mainAt);
        }
        place = first.frame;
    }
    map->resize(place.size() - frame);
    map->move(place.topLeft());
}

void TfPrincipal::setAreaFromMap(int32_t easting, int32_t northing, int across, int down) {
    if (isRunning()) {
        dialogs_->message(kNoChangeWhileRunning);
        return;
    }
    // One run's area chosen on the map: no sheets any more.
    clearSheets();
    putArea(easting, northing, across, down);
}

void TfPrincipal::putArea(int32_t easting, int32_t northing, int across, int down) {
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
    // The coverage may have changed: the sheets follow it.
    cutSheets();
    showEstimate();
}

RunEstimate TfPrincipal::estimate() const {
    if (const SheetSet* set = sheets()) {
        return EstimateSheets(job_, *set, measures_, connections_);
    }
    return EstimateRun(job_, measures_, connections_);
}

QString TfPrincipal::estimateText() const {
    return EstimateText(estimate());
}

void TfPrincipal::loadMeasures() {
    WhenFinished(this, MeasureStore::LoadLater(), [this](const RunMeasures& kept) {
        // What this session measured meanwhile is later than anything kept.
        RunMeasures all = kept;
        all.add(measures_);
        measures_ = all;
        showEstimate();
    });
}

void TfPrincipal::addMeasures(const RunMeasures& samples) {
    measures_.add(samples);
    unsaved_.add(samples);
}

void TfPrincipal::saveMeasures() {
    // The store adds them to what its file holds then, whoever else wrote it meanwhile.
    MeasureStore::AddLater(unsaved_);
    unsaved_ = RunMeasures();
}

// --- A set of sheets ----------------------------------------------------------------------

bool TfPrincipal::setSheets(const SheetSource& source) {
    if (isRunning()) {
        dialogs_->message(kNoChangeWhileRunning);
        return false;
    }
    const SheetCut cut = source.cut(job_.tileSize, job_.bmpName);
    if (!cut.set) {
        dialogs_->message(cut.message);
        return false;
    }
    sheetSource_ = source;
    if (source.kind == SheetSource::Kind::Box) {
        // The fields hold the box's upper-left corner, as the settings file keeps it.
        const Sheet& first = cut.set->sheets.front();
        putArea(first.easting, first.northing, first.across, first.down);
    }
    cutSheets();
    showEstimate();
    return true;
}

void TfPrincipal::clearSheets() {
    if (!sheetSource_ || isRunning()) {
        return;
    }
    sheetSource_.reset();
    sheetCut_ = SheetCut{};
    showSheets();
    showEstimate();
}

void TfPrincipal::btnUnaDescargaClick() {
    clearSheets();
}

const SheetSet* TfPrincipal::sheets() const {
    return sheetSource_ && sheetCut_.set ? &*sheetCut_.set : nullptr;
}

void TfPrincipal::cutSheets() {
    if (!sheetSource_) {
        return;
    }
    sheetCut_ = sheetSource_->cut(job_.tileSize, job_.bmpName);
    showSheets();
}

void TfPrincipal::showSheets() {
    pnHojas->setVisible(sheetSource_.has_value());
    if (sheetSource_) {
        // Whether "Descargar" fetches sheets, and which, or why it cannot.
        const bool cut = sheetCut_.set.has_value();
        stHojas->setText(cut ? SheetSetLine(*sheetCut_.set) + QStringLiteral(" · ") +
                                   SheetSourceText(*sheetSource_)
                             : QStringLiteral("Hojas: ") + sheetCut_.message);
        stHojas->setToolTip(stHojas->text());
        QPalette palette = stHojas->palette();
        palette.setColor(QPalette::WindowText, cut ? QColor(0, 70, 180) : QColor(190, 0, 0));
        stHojas->setPalette(palette);
    }
    // While a set is chosen, the line rules: the fields show its whole extent, from its
    // upper-left corner, and take nothing typed.
    const bool set = sheetSource_.has_value();
    // The groups show the set once it could be cut; until then the line says why not.
    const bool whole = sheets() != nullptr;
    findChild<QGroupBox*>(QStringLiteral("GroupBox1"))
        ->setTitle(whole ? QStringLiteral("Coordenadas de las hojas")
                         : QStringLiteral("Coordenadas UTM"));
    findChild<QGroupBox*>(QStringLiteral("GroupBox4"))
        ->setTitle(whole ? QStringLiteral("Tamaño de todas las hojas") : QStringLiteral("Tamaño"));
    meUTMx->setEnabled(!set);
    meUTMy->setEnabled(!set);
    const bool listsOn = state_ == WindowState::Ready || state_ == WindowState::ReadyAgain;
    cbAncho->setEnabled(!set && listsOn);
    cbAlto->setEnabled(!set && listsOn);
    if (const SheetSet* cut = sheets()) {
        const GroundRect e = cut->extent();
        const int32_t west = static_cast<int32_t>(std::llround(e.west));
        const int32_t north = static_cast<int32_t>(std::llround(e.north));
        if (west != job_.easting || int64_t{north} - kNorthingOffset != job_.northingField) {
            putArea(
                west, north,
                std::min<int>(kMaxTiles, static_cast<int>(std::llround(e.width() / cut->tileSize))),
                std::min<int>(kMaxTiles,
                              static_cast<int>(std::llround(e.height() / cut->tileSize))));
        }
    }
    showArea();
    // The window grows by the line while it is there.
    if (sheetLineShown_ != sheetSource_.has_value()) {
        sheetLineShown_ = sheetSource_.has_value();
        const int line = pnHojas->height() + 2;
        resize(width(), height() + (sheetLineShown_ ? line : -line));
    }
    if (mapWindow_) {
        mapWindow_->showSheets(sheetSource_ ? &*sheetSource_ : nullptr, sheets());
    }
}

void TfPrincipal::loadStoredSheets(const StoredSettings& settings) {
    storedSheetKeys_ = settings;
    const SheetSettings stored = ReadSheetSettings(settings, QDir::currentPath());
    if (!stored.wanted) {
        return;
    }
    if (!stored.problem.isEmpty()) {
        dialogs_->message(stored.problem);
        return;
    }
    if (stored.source.kind == SheetSource::Kind::Box) {
        setSheets(stored.source);
        return;
    }
    const QString path = stored.source.trackPath;
    WhenFinished(this, QtConcurrent::run([path] { return ReadTrackOnGrid(path); }),
                 [this, source = stored.source](const GroundTrackRead& read) {
                     if (!read.error.isEmpty()) {
                         dialogs_->message(TrackErrorMessage(source.trackPath, read.error));
                         return;
                     }
                     SheetSource withTrack = source;
                     withTrack.lines = read.track.lines;
                     withTrack.points = read.track.points;
                     setSheets(withTrack);
                 });
}

void TfPrincipal::showEstimate() {
    const QString text = estimateText();
    stEstimacion->setText(text);
    // The window is narrow for a set with exports: the whole line on hovering it.
    stEstimacion->setToolTip(text);
    if (mapWindow_) {
        mapWindow_->setEstimate(text);
    }
}
