#include "ui/fPruncipal.h"

#include "download/TransferGate.h"
#include "job/AreaRecalc.h"
#include "job/MapArea.h"
#include "job/MapKinds.h"
#include "job/NumberFormat.h"
#include "job/PrintPages.h"
#include "run/DownloadRun.h"
#include "run/SheetSetRun.h"
#include "ui/AcercaDe.h"
#include "ui/CornerEdit.h"
#include "ui/Dialogs.h"
#include "ui/ElidedLabel.h"
#include "ui/IniFile.h"
#include "ui/MapWindow.h"
#include "ui/PrintSettingsDialog.h"
#include "ui/RunAnswers.h"
#include "ui/Settings.h"
#include "ui/SheetSettings.h"
#include "ui/WindowPlace.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolButton>

#include <array>
#include <cmath>
#include <iterator>

namespace {

constexpr char kCaption[] = "Morvel 1.0.4";
constexpr char kFolderPrompt[] = "Seleccione carpeta destino del mosaico";
constexpr char kIncompleteEntry[] = "Invalid input value.  Use escape key to abandon changes";
constexpr char kUnwritable[] = "No se ha podido grabar el fichero de configuración %1: %2";
constexpr char kRowLetters[] = "ABCDEFGHIJ";
// Height the controls need between the menu and the status bar.
constexpr int kClientWidth = 660;
constexpr int kClientHeight = 356;
// Group captions sit on the frame's top line, so that the controls' places inside a
// group are measured from the group's top edge as the layout gives them.
constexpr char kGroupStyle[] =
    "QGroupBox { border: 2px groove palette(mid); border-radius: 0px; margin-top: 6px; }"
    "QGroupBox::title { subcontrol-origin: border; subcontrol-position: top left;"
    " left: 6px; top: -7px; padding: 0px 2px; }"
    // The flat folder button shows when Tab brings the focus to it.
    "QToolButton#sbCarpeta:focus { border: 1px solid palette(highlight); border-radius: 2px; }";

// Which controls each state enables.
enum class Enable : uint8_t { Off, On, Keep };
struct StateRow {
    Enable descargar, lists, salir, mosaico, sucesos, nueva, ver, detener;
};
constexpr std::array<StateRow, 4> kStateTable{{
    /* Ready */ {Enable::On, Enable::On, Enable::On, Enable::Off, Enable::Off, Enable::Off,
                 Enable::Off, Enable::Off},
    /* Running */
    {Enable::Off, Enable::Off, Enable::Off, Enable::Off, Enable::Off, Enable::Off, Enable::Keep,
     Enable::On},
    /* Finished */
    {Enable::Off, Enable::Off, Enable::On, Enable::On, Enable::On, Enable::On, Enable::On,
     Enable::Off},
    /* ReadyAgain */
    {Enable::On, Enable::On, Enable::On, Enable::Off, Enable::Off, Enable::Off, Enable::On,
     Enable::Off},
}};

template <typename Control> void Apply(Control* control, Enable enable) {
    if (enable != Enable::Keep) {
        control->setEnabled(enable == Enable::On);
    }
}

// Position of the list's selected item; a typed text that names no item selects none.
int ListPosition(const QComboBox* box) {
    const QString text = box->currentText();
    const int index = box->currentIndex();
    if (index >= 0 && box->itemText(index) == text) {
        return index;
    }
    return box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void SelectQuietly(QComboBox* box, int position) {
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(position);
}

} // namespace

TfPrincipal::TfPrincipal(Dialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), ownDialogs_(dialogs ? nullptr : std::make_unique<Dialogs>()),
      dialogs_(dialogs ? dialogs : ownDialogs_.get()) {
    setObjectName(QStringLiteral("fPrincipal"));
    setWindowTitle(QLatin1String(kCaption));
    setStyleSheet(QLatin1String(kGroupStyle));
    buildControls();
    buildMenu();
    setUpTabOrder();
    connectHandlers();
    resize(kClientWidth,
           menuBar()->sizeHint().height() + kClientHeight + statusBar()->sizeHint().height());
    if (const QScreen* s = screen()) {
        move(s->availableGeometry().center() - rect().center());
    }
    FormCreate();
    loadMeasures();
    meUTMx->setFocus();
}

TfPrincipal::~TfPrincipal() {
    // A track's cut on a worker ends at once; its result finds nobody.
    stopCut();
    // A run's fetchers give their transfers back to the server's gate when they go, and the
    // gate goes with this window's members, before its children: the runs go first.
    qDeleteAll(findChildren<DownloadRun*>(Qt::FindDirectChildrenOnly));
    qDeleteAll(findChildren<SheetSetRun*>(Qt::FindDirectChildrenOnly));
    // A field that has the focus says it lost it when it goes, after this window is gone.
    for (QWidget* control : findChildren<QWidget*>()) {
        control->blockSignals(true);
    }
}

void TfPrincipal::connectHandlers() {
    connect(meUTMx, &CornerEdit::exited, this, &TfPrincipal::meUTMxExit);
    connect(meUTMy, &CornerEdit::exited, this, &TfPrincipal::meUTMyExit);
    connect(meUTMx, &CornerEdit::exitRefused, this, &TfPrincipal::showCornerError);
    connect(meUTMy, &CornerEdit::exitRefused, this, &TfPrincipal::showCornerError);
    connect(cbCobertura, &QComboBox::currentTextChanged, this, &TfPrincipal::cbCoberturaChange);
    connect(cbAncho, &QComboBox::currentTextChanged, this, &TfPrincipal::cbAnchoChange);
    connect(cbAlto, &QComboBox::currentTextChanged, this, &TfPrincipal::cbAltoChange);
    const auto whenTicked = [this](QRadioButton* button, void (TfPrincipal::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool ticked) {
            if (ticked && !loadingKind_) {
                (this->*handler)();
            }
        });
    };
    // Only the ticked map-kind button is a tab stop; the arrow keys move within the group.
    for (QRadioButton* button : {rbCarto, rbOrto, rbMDT}) {
        const auto followTick = [button](bool ticked) {
            button->setFocusPolicy(ticked ? Qt::StrongFocus : Qt::ClickFocus);
        };
        followTick(button->isChecked());
        connect(button, &QRadioButton::toggled, button, followTick);
    }
    whenTicked(rbCarto, &TfPrincipal::rbCartoClick);
    whenTicked(rbOrto, &TfPrincipal::rbOrtoClick);
    whenTicked(rbMDT, &TfPrincipal::rbMDTClick);
    connect(eNombreFichero, &QLineEdit::textChanged, this, &TfPrincipal::eNombreFicheroChange);
    connect(eCarpeta, &QLineEdit::editingFinished, this, &TfPrincipal::eCarpetaExit);

    connect(cbGrabarBMP, &QCheckBox::toggled, this, &TfPrincipal::cbGrabarBMPClick);
    connect(cbBorrarMosaico, &QCheckBox::toggled, this, &TfPrincipal::cbBorrarMosaicoClick);
    connect(cbOzi, &QCheckBox::toggled, this, &TfPrincipal::cbOziClick);
    connect(cbCompe, &QCheckBox::toggled, this, &TfPrincipal::cbCompeClick);
    connect(GrabarBMP1, &QAction::triggered, this, &TfPrincipal::GrabarBMP1Click);
    connect(BorraFicheros, &QAction::triggered, this, &TfPrincipal::BorraFicherosClick);
    connect(OziExplorer1, &QAction::triggered, this, &TfPrincipal::OziExplorer1Click);
    connect(CompeGPS1, &QAction::triggered, this, &TfPrincipal::CompeGPS1Click);
    connect(DatumED501, &QAction::triggered, this, &TfPrincipal::DatumED501Click);
    connect(DatumWGS841, &QAction::triggered, this, &TfPrincipal::DatumWGS841Click);
    connect(Georreferencia1, &QAction::triggered, this, &TfPrincipal::Georreferencia1Click);
    for (const ExportFormat format : kExportFormats) {
        connect(exportEntries_.at(static_cast<size_t>(format)), &QAction::triggered, this,
                [this, format] { ExportarClick(format); });
    }
    connect(EscalaPapel1, &QAction::triggered, this, &TfPrincipal::EscalaPapel1Click);

    connect(sbCarpeta, &QToolButton::clicked, this, &TfPrincipal::sbCarpetaClick);
    connect(btnDescargar, &QPushButton::clicked, this, &TfPrincipal::btnDescargarClick);
    connect(btnMosaico, &QPushButton::clicked, this, &TfPrincipal::btnMosaicoClick);
    connect(btnSucesos, &QPushButton::clicked, this, &TfPrincipal::btnSucesosClick);
    connect(btnNueva, &QPushButton::clicked, this, &TfPrincipal::btnNuevaClick);
    connect(btnSalir, &QPushButton::clicked, this, &QWidget::close);
    connect(Salir1, &QAction::triggered, this, &QWidget::close);
    connect(Ver1, &QAction::triggered, this, &TfPrincipal::Ver1Click);
    connect(Detener1, &QAction::triggered, this, &TfPrincipal::Detener1Click);
    connect(Reintentar1, &QAction::triggered, this, &TfPrincipal::Reintentar1Click);
    connect(ElegirMapa1, &QAction::triggered, this, &TfPrincipal::ElegirMapa1Click);
    connect(Ayuda1, &QAction::triggered, this, &TfPrincipal::Ayuda1Click);
    connect(btnUnaDescarga, &QPushButton::clicked, this, &TfPrincipal::btnUnaDescargaClick);
}

void TfPrincipal::attachWindows(TfElegirCarpeta* log, TfMosaico* viewer, TAboutBox* about) {
    logWindow_ = log;
    viewerWindow_ = viewer;
    aboutBox_ = about;
    if (viewer) {
        viewer->setHost(this);
        board_.setPanel(viewer->pMosaico());
    }
}

TfElegirCarpeta* TfPrincipal::logWindow() const {
    return logWindow_;
}

TfMosaico* TfPrincipal::viewerWindow() const {
    return viewerWindow_;
}

QString TfPrincipal::serverBase() const {
    return ChosenServerBase(server_);
}

void TfPrincipal::applyCountLists() {
    // A set of sheets has grids of its own: the counts are not what "Descargar" fetches.
    const Enable lists =
        sheetSource_ ? Enable::Off : kStateTable.at(static_cast<size_t>(state_)).lists;
    Apply(cbAncho, lists);
    Apply(cbAlto, lists);
}

void TfPrincipal::ApplyState(WindowState state) {
    state_ = state;
    const StateRow& row = kStateTable.at(static_cast<size_t>(state));
    Apply(btnDescargar, row.descargar);
    Apply(cbCobertura, row.lists);
    applyCountLists();
    Apply(btnSalir, row.salir);
    Apply(btnMosaico, row.mosaico);
    Apply(btnSucesos, row.sucesos);
    Apply(btnNueva, row.nueva);
    Apply(Ver1, row.ver);
    Apply(Detener1, row.detener);
    // Only a finished run with failed tiles has something to try again.
    Reintentar1->setEnabled(state == WindowState::Finished && retryable_);
    // The estimates are for a run to come; during one its own messages need the room, and
    // the time it has left takes their place.
    stEstimacion->setVisible(state != WindowState::Running);
    stQuedan->setVisible(state == WindowState::Running);
}

void TfPrincipal::setFolder(const QString& folder) {
    job_.folder = folder;
    eCarpeta->setText(folder);
}

void TfPrincipal::setStatusText(const QString& text) {
    statusLabel_->setText(text);
}

QString TfPrincipal::statusText() const {
    return statusLabel_->text();
}

// --- The area, the map kind and the coverage -------------------------------------------

bool TfPrincipal::RecalcArea() {
    AreaInputs in;
    in.eastingText = meUTMx->value();
    in.northingText = meUTMy->value();
    in.acrossPosition = ListPosition(cbAncho);
    in.downPosition = ListPosition(cbAlto);
    in.coveragePosition = ListPosition(cbCobertura);
    in.serverBase = serverBase();
    AreaResult result = ::RecalcArea(job_, in);
    job_ = std::move(result.job);
    if (!result.complete()) {
        dialogs_->message(AreaMessageText(result.message));
        return false;
    }
    shownArea_ = job_;
    showArea();
    areaChanged();
    return true;
}

void TfPrincipal::showArea() {
    const SheetSet* set = sheets();
    QLabel* const displays[] = {stX, stY, stMAncho, stMAlto, stPAncho, stPAlto};
    if (!set) {
        const DownloadJob& a = shownArea_;
        const int64_t values[] = {a.cornerEasting, int64_t{a.cornerNorthingField} + kNorthingOffset,
                                  a.widthMetres,   a.heightMetres,
                                  a.widthPixels,   a.heightPixels};
        for (size_t i = 0; i < std::size(values); ++i) {
            displays[i]->setText(GroupedNumber(values[i]));
        }
        return;
    }
    // What "Descargar" fetches: the whole extent of the sheets, in metres and in the
    // pixels of its tiles.
    const GroundRect e = set->extent();
    const int64_t across = std::llround(e.width() / set->tileSize);
    const int64_t down = std::llround(e.height() / set->tileSize);
    const int64_t values[] = {std::llround(e.east),    std::llround(e.south),
                              std::llround(e.width()), std::llround(e.height()),
                              across * kTilePixels,    down * kTilePixels};
    for (size_t i = 0; i < std::size(values); ++i) {
        displays[i]->setText(GroupedNumber(values[i]));
    }
}

void TfPrincipal::SelectMapKind() {
    const MapKind kind = rbCarto->isChecked()  ? MapKind::Carto
                         : rbOrto->isChecked() ? MapKind::Orto
                                               : MapKind::MDT;
    const int position = ::SelectMapKind(job_, kind, serverBase());
    fillCoverageList();
    SelectQuietly(cbCobertura, position);
    RecalcArea();
}

void TfPrincipal::fillCoverageList() {
    const QSignalBlocker blocker(cbCobertura);
    cbCobertura->clear();
    cbCobertura->addItems(CoverageItems(job_.kind));
}

void TfPrincipal::LookupCoverage() {
    ::LookupCoverage(job_, ListPosition(cbCobertura), serverBase());
}

void TfPrincipal::meUTMxExit() {
    RecalcArea();
}
void TfPrincipal::meUTMyExit() {
    RecalcArea();
}
void TfPrincipal::cbCoberturaChange() {
    RecalcArea();
}
void TfPrincipal::cbAnchoChange() {
    RecalcArea();
}
void TfPrincipal::cbAltoChange() {
    RecalcArea();
}
void TfPrincipal::rbCartoClick() {
    SelectMapKind();
}
void TfPrincipal::rbOrtoClick() {
    SelectMapKind();
}
void TfPrincipal::rbMDTClick() {
    SelectMapKind();
}

void TfPrincipal::eNombreFicheroChange() {
    job_.bmpName = eNombreFichero->text();
    // The sheets are named after it.
    cutSheets();
}

void TfPrincipal::eCarpetaExit() {
    job_.folder = eCarpeta->text();
}

void TfPrincipal::showCornerError() {
    dialogs_->error(QLatin1String(kIncompleteEntry));
}

// --- The four options: flag, check box and menu check mark agree -----------------------

void TfPrincipal::applyNameEnabled() {
    eNombreFichero->setEnabled(job_.joinsTiles());
}

void TfPrincipal::applySaveBmp() {
    const bool on = job_.saveBmp;
    applyNameEnabled();
    cbOzi->setEnabled(on);
    cbCompe->setEnabled(on);
    GrabarBMP1->setChecked(on);
    OziExplorer1->setEnabled(on);
    CompeGPS1->setEnabled(on);
    // The datum and the world file describe the BMP as much as the calibration files do.
    DatumED501->setEnabled(on);
    DatumWGS841->setEnabled(on);
    Georreferencia1->setEnabled(on);
    showEstimate();
}

void TfPrincipal::cbGrabarBMPClick() {
    job_.saveBmp = cbGrabarBMP->isChecked();
    applySaveBmp();
}

void TfPrincipal::cbBorrarMosaicoClick() {
    job_.deleteTiles = cbBorrarMosaico->isChecked();
    BorraFicheros->setChecked(job_.deleteTiles);
}

void TfPrincipal::cbOziClick() {
    job_.saveOzi = cbOzi->isChecked();
    OziExplorer1->setChecked(job_.saveOzi);
}

void TfPrincipal::cbCompeClick() {
    job_.saveCompe = cbCompe->isChecked();
    CompeGPS1->setChecked(job_.saveCompe);
}

void TfPrincipal::GrabarBMP1Click() {
    job_.saveBmp = !job_.saveBmp;
    cbGrabarBMP->setChecked(job_.saveBmp);
    applySaveBmp();
}

void TfPrincipal::BorraFicherosClick() {
    job_.deleteTiles = !job_.deleteTiles;
    cbBorrarMosaico->setChecked(job_.deleteTiles);
    BorraFicheros->setChecked(job_.deleteTiles);
}

void TfPrincipal::OziExplorer1Click() {
    job_.saveOzi = !job_.saveOzi;
    cbOzi->setChecked(job_.saveOzi);
    OziExplorer1->setChecked(job_.saveOzi);
}

void TfPrincipal::CompeGPS1Click() {
    job_.saveCompe = !job_.saveCompe;
    cbCompe->setChecked(job_.saveCompe);
    CompeGPS1->setChecked(job_.saveCompe);
}

void TfPrincipal::DatumED501Click() {
    job_.datum = CalibrationDatum::Ed50;
    DatumED501->setChecked(true);
}

void TfPrincipal::DatumWGS841Click() {
    job_.datum = CalibrationDatum::Wgs84;
    DatumWGS841->setChecked(true);
}

void TfPrincipal::Georreferencia1Click() {
    job_.saveWorldFile = Georreferencia1->isChecked();
}

void TfPrincipal::ExportarClick(ExportFormat format) {
    job_.setExport(format, exportEntries_.at(static_cast<size_t>(format))->isChecked());
    applyNameEnabled();
    showEstimate();
}

void TfPrincipal::EscalaPapel1Click() {
    // Shown without a loop of its own; its answer comes back through accepted().
    auto* box = new PrintSettingsDialog(job_.printScale, job_.printPaper, JobRect(job_), this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::accepted, this, [this, box] {
        job_.printScale = box->scale();
        job_.printPaper = box->paper();
        printStored_ = true;
    });
    box->open();
}

// --- Buttons and menu entries ----------------------------------------------------------

void TfPrincipal::sbCarpetaClick() {
    if (const auto folder = dialogs_->chooseFolder(QLatin1String(kFolderPrompt))) {
        setFolder(*folder);
    }
}

void TfPrincipal::btnMosaicoClick() {
    if (viewerWindow_) {
        viewerWindow_->exec();
    }
}

void TfPrincipal::Ver1Click() {
    btnMosaicoClick();
}

void TfPrincipal::btnSucesosClick() {
    if (logWindow_) {
        logWindow_->exec();
    }
}

void TfPrincipal::Ayuda1Click() {
    if (aboutBox_) {
        aboutBox_->exec();
    }
}

void TfPrincipal::btnNuevaClick() {
    // Disables "Mosaico", "Sucesos" and itself, enables "Descargar" and the three lists.
    ApplyState(WindowState::ReadyAgain);
    pbMosaico->setValue(pbMosaico->minimum());
    // The last run's words belong to it.
    setStatusText(QString());
    IJPG->clear();
    FreeTileCells();
    BuildTileCells();
    if (viewerWindow_) {
        viewerWindow_->resetView();
    }
    RecalcArea();
}

// --- Creating, showing and closing -----------------------------------------------------

void TfPrincipal::FormCreate() {
    const IniFile ini(SettingsPath());
    if (!ini.readProblem().isEmpty()) {
        dialogs_->message(QStringLiteral("No se ha leído el fichero de configuración %1: %2. Se "
                                         "usan los valores por defecto y el fichero no se "
                                         "modificará")
                              .arg(SettingsPath(), ini.readProblem()));
        // Writing it at exit would replace what the user has with the defaults.
        settingsWritten_ = true;
    }
    const StoredSettings s = ReadSettings(ini);
    server_ = s.server;
    storedConnections_ = s.connections;
    mapPlace_ = s.mapWindow;
    connections_ = s.connectionsOrDefault();
    serverGate_ = std::make_unique<TransferGate>(connections_);

    ApplyState(WindowState::Ready);
    job_.coveragePosition = s.coveragePosition;
    SelectQuietly(cbCobertura, s.coveragePosition);
    SelectQuietly(cbAlto, s.tilesDownPosition);
    SelectQuietly(cbAncho, s.tilesAcrossPosition);
    meUTMx->setValue(s.eastingText);
    meUTMy->setValue(s.northingText);
    job_.folder = s.folder;
    job_.bmpName = s.bmpName;
    eCarpeta->setText(job_.folder);
    eNombreFichero->setText(job_.bmpName);

    // Ticking a box runs its handler as a click would; flag and check mark are set too.
    job_.deleteTiles = s.deleteTiles;
    cbBorrarMosaico->setChecked(s.deleteTiles);
    BorraFicheros->setChecked(s.deleteTiles);
    job_.saveBmp = s.saveBmp;
    cbGrabarBMP->setChecked(s.saveBmp);
    GrabarBMP1->setChecked(s.saveBmp);

    // A set of sheets comes back at the map kind and coverage it was chosen at; its keys'
    // problems are told once the window is made (loadStoredSheets()).
    const SheetSettings storedSheets = ReadSheetSettings(s, QDir::currentPath());
    const bool setKeys = storedSheets.wanted && storedSheets.problem.isEmpty();

    // The kind's button is ticked without its handler: SelectMapKind follows below, and
    // a stored corner is checked only by the two recomputes that follow.
    job_.kind = setKeys ? storedSheets.kind.value_or(s.kind) : s.kind;
    loadingKind_ = true;
    QRadioButton* const buttons[] = {rbCarto, rbOrto, rbMDT};
    buttons[static_cast<int>(job_.kind)]->setChecked(true);
    loadingKind_ = false;

    job_.saveOzi = s.saveOzi;
    job_.saveCompe = s.saveCompe;
    cbOzi->setChecked(s.saveOzi);
    OziExplorer1->setChecked(s.saveOzi);
    cbCompe->setChecked(s.saveCompe);
    CompeGPS1->setChecked(s.saveCompe);
    job_.datum = s.datum;
    datumStored_ = s.datumStored;
    (s.datum == CalibrationDatum::Wgs84 ? DatumWGS841 : DatumED501)->setChecked(true);
    job_.saveWorldFile = s.worldFile;
    worldFileStored_ = s.worldFileStored;
    Georreferencia1->setChecked(s.worldFile);
    for (const ExportFormat format : kExportFormats) {
        const size_t i = static_cast<size_t>(format);
        job_.setExport(format, s.exports.at(i).on);
        exportStored_.at(i) = s.exports.at(i).stored;
        exportEntries_.at(i)->setChecked(s.exports.at(i).on);
    }
    job_.printScale = s.printScale;
    job_.printPaper = s.printPaper;
    printStored_ = s.printStored;

    SelectMapKind();
    if (setKeys && storedSheets.coveragePosition) {
        // Only the list's selection: "Cobertura" keeps the position it was read with.
        SelectQuietly(cbCobertura, *storedSheets.coveragePosition);
    }
    job_.rowLetters = QLatin1String(kRowLetters);
    RecalcArea();
    eCarpeta->setText(job_.folder);
    applyNameEnabled();
    cbOzi->setEnabled(job_.saveBmp);
    cbCompe->setEnabled(job_.saveBmp);
    loadStoredSheets(s, storedSheets);
}

void TfPrincipal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfPrincipal::FormShow() {
    BuildTileCells();
}

void TfPrincipal::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    saveMeasures();
    // A run stops with the window: the tile in flight is abandoned and nothing
    // half-written stays behind.
    abortRun();
    event->accept();
    emit closed();
}

void TfPrincipal::FormCloseQuery() {
    // A close asked for twice (during a run) writes the file once.
    if (settingsWritten_) {
        return;
    }
    settingsWritten_ = true;
    StoredSettings s;
    s.coveragePosition = job_.coveragePosition;
    s.tilesDownPosition = job_.tilesDown - 1;
    s.tilesAcrossPosition = job_.tilesAcross - 1;
    // A changed entry still incomplete is not what the user had: its last value is kept.
    s.eastingText = meUTMx->storedValue();
    s.northingText = meUTMy->storedValue();
    s.folder = job_.folder;
    s.bmpName = job_.bmpName;
    s.deleteTiles = job_.deleteTiles;
    s.saveBmp = job_.saveBmp;
    s.kind = job_.kind;
    s.saveOzi = job_.saveOzi;
    s.saveCompe = job_.saveCompe;
    s.server = server_;
    s.connections = storedConnections_;
    s.mapWindow = mapWindow_ ? WindowPlaceText(mapWindow_->pos(), mapWindow_->size()) : mapPlace_;
    s.datum = job_.datum;
    s.datumStored = datumStored_;
    s.worldFile = job_.saveWorldFile;
    s.worldFileStored = worldFileStored_;
    for (const ExportFormat format : kExportFormats) {
        const size_t i = static_cast<size_t>(format);
        s.exports.at(i) = {job_.exportWanted(format), exportStored_.at(i)};
    }
    s.printScale = job_.printScale;
    s.printPaper = job_.printPaper;
    s.printStored = printStored_;
    s.sheetsTo = storedSheetKeys_.sheetsTo;
    s.track = storedSheetKeys_.track;
    s.margin = storedSheetKeys_.margin;
    s.overlap = storedSheetKeys_.overlap;
    s.sheetCoverage = storedSheetKeys_.sheetCoverage;
    s.sheetKind = storedSheetKeys_.sheetKind;
    StoreSheetSettings(
        s, sheetSource_ ? std::optional<SheetSource>(sheetSource_->withoutTrack()) : std::nullopt,
        QDir::currentPath(), job_.kind, job_.tileSize);
    IniFile ini(SettingsPath());
    WriteSettings(ini, s);
    // An unwritable file must not keep the program from ending: the old file stays.
    QString reason;
    if (!ini.save(&reason)) {
        dialogs_->error(QString::fromUtf8(kUnwritable).arg(SettingsPath(), reason));
    }
}
