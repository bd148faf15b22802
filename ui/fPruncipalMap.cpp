// The main window's part in the "Mapa" window and the estimates: the map follows the job,
// an area chosen on the map goes through the fields, and what was measured of this machine
// and the server (in this session, and in earlier ones through the cache folder) turns into
// the estimates of a run.
#include "ui/fPruncipal.h"

#include "download/TransferGate.h"
#include "download/WhenFinished.h"
#include "geo/TrackFile.h"
#include "job/WorkerGuard.h"
#include "run/MeasureStore.h"
#include "ui/CornerEdit.h"
#include "ui/Dialogs.h"
#include "ui/ElidedLabel.h"
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

#include <algorithm>
#include <cmath>
#include <mutex>

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
        connect(mapWindow_.get(), &MapWindow::trackSheetsChosen, this,
                &TfPrincipal::setTrackSheets);
        connect(mapWindow_.get(), &MapWindow::overlapChosen, this, &TfPrincipal::setSheetOverlap);
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

void TfPrincipal::setSheets(const SheetSource& source) {
    if (isRunning()) {
        dialogs_->message(kNoChangeWhileRunning);
        return;
    }
    if (source.kind == SheetSource::Kind::Track) {
        auto whole = std::make_shared<const SheetSource>(source);
        startTrackCut(
            std::make_shared<const SheetSource>(source.withoutTrack()),
            [whole](QString*) { return whole; }, true);
        return;
    }
    // A box takes at most a few hundred sheets, counted before they are made: cut at once.
    const SheetCut cut = source.cut(job_.tileSize, job_.bmpName);
    if (!cut.set) {
        dialogs_->message(cut.message);
        return;
    }
    stopCut();
    previousSheets_.reset();
    sheetSource_ = std::make_shared<const SheetSource>(source);
    sheetCut_ = cut;
    cutTileSize_ = job_.tileSize;
    // The fields hold the box's upper-left corner, as the settings file keeps it.
    const Sheet& first = cut.set->sheets.front();
    putArea(first.easting, first.northing, first.across, first.down);
    showSheets();
    showEstimate();
}

void TfPrincipal::setTrackSheets(const SheetSource& source,
                                 std::shared_ptr<const GroundTrack> track) {
    if (isRunning()) {
        dialogs_->message(kNoChangeWhileRunning);
        return;
    }
    // The track's points are copied into the source on the worker, not here.
    startTrackCut(
        std::make_shared<const SheetSource>(source.withoutTrack()),
        [light = source.withoutTrack(), track](QString*) {
            auto whole = std::make_shared<SheetSource>(light);
            whole->lines = track->lines;
            whole->points = track->points;
            return std::shared_ptr<const SheetSource>(std::move(whole));
        },
        true);
}

void TfPrincipal::setSheetOverlap(int overlap) {
    if (!sheetSource_ || sheetSource_->overlap == overlap) {
        return;
    }
    if (sheetSource_->kind == SheetSource::Kind::Box) {
        SheetSource box = *sheetSource_;
        box.overlap = overlap;
        setSheets(box);
        return;
    }
    if (isRunning()) {
        dialogs_->message(kNoChangeWhileRunning);
        return;
    }
    SheetSource light = sheetSource_->withoutTrack();
    light.overlap = overlap;
    // The track's points as the set has them, or as the cut under way will.
    const SourceMaker points = cuttingSheets() ? cutMaker_ : WholeSource(sheetSource_);
    startTrackCut(
        std::make_shared<const SheetSource>(light),
        [points, overlap](QString* error) -> std::shared_ptr<const SheetSource> {
            const std::shared_ptr<const SheetSource> before = points(error);
            if (!before) {
                return nullptr;
            }
            auto changed = std::make_shared<SheetSource>(*before);
            changed->overlap = overlap;
            return changed;
        },
        true);
}

TfPrincipal::SourceMaker TfPrincipal::WholeSource(std::shared_ptr<const SheetSource> source) {
    return [source = std::move(source)](QString*) { return source; };
}

void TfPrincipal::clearSheets() {
    if (!sheetSource_ || isRunning()) {
        return;
    }
    stopCut();
    previousSheets_.reset();
    sheetSource_.reset();
    sheetCut_ = SheetCut{};
    cutTileSize_ = 0;
    showSheets();
    showEstimate();
}

void TfPrincipal::btnUnaDescargaClick() {
    clearSheets();
}

const SheetSet* TfPrincipal::sheets() const {
    return sheetSource_ && sheetCut_.set && !cuttingSheets() ? &*sheetCut_.set : nullptr;
}

void TfPrincipal::cutSheets() {
    if (!sheetSource_) {
        return;
    }
    if (cutTileSize_ == job_.tileSize) {
        // The same sheets (or those on their way, named when they come): only their names
        // follow the name.
        if (sheetCut_.set && sheetCut_.set->name != job_.bmpName) {
            RenameSheets(&*sheetCut_.set, job_.bmpName);
            showSheets();
        }
        return;
    }
    if (sheetSource_->kind == SheetSource::Kind::Track) {
        // A choice still on its way stays one: refused, the set before it comes back.
        startTrackCut(sheetSource_, cuttingSheets() ? cutMaker_ : WholeSource(sheetSource_),
                      previousSheets_.has_value());
        return;
    }
    sheetCut_ = sheetSource_->cut(job_.tileSize, job_.bmpName);
    cutTileSize_ = job_.tileSize;
    showSheets();
}

void TfPrincipal::stopCut() {
    if (cutStop_) {
        cutStop_->store(true);
        cutStop_.reset();
    }
    ++cutNumber_;
    cutMaker_ = nullptr;
}

void TfPrincipal::startTrackCut(std::shared_ptr<const SheetSource> shown, SourceMaker maker,
                                bool chosen) {
    if (chosen && !previousSheets_) {
        // What to go back to: the set as it is, or the one whose cut this replaces, to be
        // cut again.
        previousSheets_ = cuttingSheets() ? ChosenSheets{sheetSource_, SheetCut{}, 0, cutMaker_}
                                          : ChosenSheets{sheetSource_, sheetCut_, cutTileSize_, {}};
    }
    stopCut();
    sheetSource_ = std::move(shown);
    sheetCut_ = SheetCut{};
    sheetCut_.message = QStringLiteral("Las hojas de la ruta aún se están calculando.");
    cutTileSize_ = job_.tileSize;
    cutMaker_ = maker;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    cutStop_ = stop;
    const quint64 number = cutNumber_;
    const int32_t tileSize = job_.tileSize;
    const QString name = job_.bmpName;
    WhenFinished(
        this, RunTrackWork([maker = std::move(maker), tileSize, name, stop] {
            return Guarded(
                [&] {
                    TrackCut out;
                    out.source = maker(&out.error);
                    if (out.source) {
                        out.cut = out.source->cut(tileSize, name, stop.get());
                    }
                    return out;
                },
                [](const QString& reason) {
                    TrackCut failed;
                    failed.error = TrackCutFailure(reason);
                    return failed;
                });
        }),
        [this, number, chosen](const TrackCut& done) { trackCutDone(number, chosen, done); });
    showSheets();
    showEstimate();
}

void TfPrincipal::trackCutDone(quint64 number, bool chosen, const TrackCut& done) {
    if (number != cutNumber_ || done.cut.stopped) {
        return; // a later cut or a stop took over
    }
    cutStop_.reset();
    cutMaker_ = nullptr;
    const QString problem = !done.error.isEmpty() ? done.error
                            : !done.cut.set       ? done.cut.message
                                                  : QString();
    if (!problem.isEmpty() && chosen && previousSheets_) {
        // The new choice cannot be had: the set chosen before stays.
        const ChosenSheets before = *previousSheets_;
        previousSheets_.reset();
        sheetSource_ = before.source;
        sheetCut_ = before.cut;
        cutTileSize_ = before.tileSize;
        showSheets();
        showEstimate();
        dialogs_->message(problem);
        if (before.source && before.maker) {
            // It was being cut itself: again, for the coverage as it is.
            startTrackCut(before.source, before.maker, false);
        } else {
            cutSheets(); // the coverage may have changed meanwhile
        }
        return;
    }
    previousSheets_.reset();
    if (done.source) {
        sheetSource_ = done.source; // with the track's points
    }
    sheetCut_ = done.cut;
    if (!done.error.isEmpty()) {
        sheetCut_.message = done.error;
    }
    // Made for the coverage and the name of when it began; the name may have changed since.
    cutSheets();
    showSheets();
    showEstimate();
}

void TfPrincipal::showSheets() {
    pnHojas->setVisible(sheetSource_ != nullptr);
    if (sheetSource_) {
        // Whether "Descargar" fetches sheets, and which, or why it cannot.
        const bool cut = sheetCut_.set.has_value() && !cuttingSheets();
        stHojas->setText(cuttingSheets() ? QStringLiteral("Hojas: calculando… · ") +
                                               SheetSourceText(*sheetSource_)
                         : cut ? SheetSetLine(*sheetCut_.set) + QStringLiteral(" · ") +
                                     SheetSourceText(*sheetSource_)
                               : QStringLiteral("Hojas: ") + sheetCut_.message);
        stHojas->setToolTip(stHojas->text());
        QPalette palette = stHojas->palette();
        palette.setColor(QPalette::WindowText,
                         cut || cuttingSheets() ? QColor(0, 70, 180) : QColor(190, 0, 0));
        stHojas->setPalette(palette);
    }
    // While a set is chosen, the line rules: the fields show its whole extent, from its
    // upper-left corner, and take nothing typed.
    const bool set = sheetSource_ != nullptr;
    // The groups show the set once it could be cut; until then the line says why not.
    const bool whole = sheets() != nullptr;
    findChild<QGroupBox*>(QStringLiteral("GroupBox1"))
        ->setTitle(whole ? QStringLiteral("Coordenadas de las hojas")
                         : QStringLiteral("Coordenadas UTM"));
    findChild<QGroupBox*>(QStringLiteral("GroupBox4"))
        ->setTitle(whole ? QStringLiteral("Tamaño de todas las hojas") : QStringLiteral("Tamaño"));
    meUTMx->setEnabled(!set);
    meUTMy->setEnabled(!set);
    applyCountLists();
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
    if (sheetLineShown_ != (sheetSource_ != nullptr)) {
        sheetLineShown_ = sheetSource_ != nullptr;
        const int line = pnHojas->height() + 2;
        resize(width(), height() + (sheetLineShown_ ? line : -line));
    }
    if (mapWindow_) {
        mapWindow_->showSheets(sheetSource_, sheets());
    }
}

void TfPrincipal::loadStoredSheets(const StoredSettings& settings, const SheetSettings& stored) {
    storedSheetKeys_ = settings;
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
    // The track is read on the worker that cuts it, once: a cut started again (another
    // coverage or overlap while it is cut) takes the track already read.
    struct Read {
        std::once_flag once;
        std::shared_ptr<const SheetSource> source;
        QString error;
    };
    const SheetSource light = stored.source.withoutTrack();
    startTrackCut(
        std::make_shared<const SheetSource>(light),
        [light, read = std::make_shared<Read>()](QString* error) {
            std::call_once(read->once, [&] {
                auto whole = std::make_shared<SheetSource>(light);
                if (ReadSourceTrack(whole.get(), &read->error)) {
                    read->source = std::move(whole);
                }
            });
            if (!read->source) {
                *error = read->error;
            }
            return read->source;
        },
        true);
}

void TfPrincipal::showEstimate() {
    const QString text = estimateText();
    // The window is narrow for a set with exports: the whole line on hovering it.
    stEstimacion->setFullText(text);
    if (mapWindow_) {
        mapWindow_->setEstimate(text);
    }
}
