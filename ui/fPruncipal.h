#pragma once

#include "download/UGatorade.h"
#include "job/DownloadJob.h"
#include "job/RunEstimate.h"
#include "job/RunMeasures.h"
#include "job/RunPace.h"
#include "job/SheetSource.h"
#include "ui/Settings.h"
#include "ui/TileBoard.h"
#include "ui/WindowState.h"
#include "ui/ufMosaico.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QSet>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class CornerEdit;
class Dialogs;
class DownloadRun;
class ElidedLabel;
struct SheetSettings;
class MapWindow;
class QNetworkAccessManager;
class RunAnswers;
class SheetSetRun;
struct GroundTrack;
struct RunOutcome;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class TAboutBox;
class TfElegirCarpeta;
class TfMosaico;
class TransferGate;

// The main window: holds the download job, shows the computed area, the progress of a
// run and the latest tile, and starts every action from its buttons and menu.
class TfPrincipal : public QMainWindow, public MosaicViewerHost {
    Q_OBJECT
public:
    // Loads the settings while it is created, so messages can appear before it is shown;
    // they go through `dialogs` (a real one, owned, when none is given).
    explicit TfPrincipal(Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TfPrincipal() override;

    // The event log, viewer and About windows, created after this one.
    void attachWindows(TfElegirCarpeta* log, TfMosaico* viewer, TAboutBox* about);
    TfElegirCarpeta* logWindow() const;
    TfMosaico* viewerWindow() const;

    const DownloadJob& job() const { return job_; }
    DownloadJob& job() { return job_; }
    // Scheme and host of the map server: the settings' "Servidor", else the built-in one.
    QString serverBase() const;
    Dialogs& dialogs() const { return *dialogs_; }

    // Sets every control of the state table; the state a cancelled run returns to is
    // the one it started from (state()).
    void ApplyState(WindowState state);
    WindowState state() const { return state_; }

    // The destination folder, also shown in eCarpeta.
    void setFolder(const QString& folder);
    // The status bar's one text; each message replaces the previous one.
    void setStatusText(const QString& text);
    QString statusText() const;

    // The viewer's 10 x 10 cells: made when the window is first shown and again by
    // "Nueva descarga", after the old ones are released.
    void BuildTileCells();
    void FreeTileCells();
    void ShowTileMarkers() override;
    void ShowTileThumbnails() override;
    bool deleteTilesOption() const override;
    const TileBoard& tileBoard() const { return board_; }

    // Transfers in flight to the map server at once during a run ("Conexiones").
    int connections() const { return connections_; }
    // The time limits and waits of the runs' fetches; tests shorten them.
    void setFetchLimits(const FetchLimits& limits) { fetchLimits_ = limits; }
    // The latest run, while the window keeps it (until the next one starts).
    DownloadRun* run() const;
    bool isRunning() const;
    // Stops a run for good; nothing half-written is left.
    void abortRun();

    // The "Mapa" window, once opened.
    MapWindow* mapWindow() const { return mapWindow_.get(); }
    // What was measured of this machine and the server, in this session and the earlier
    // ones (kept in the user's cache folder), for the estimates.
    const RunMeasures& measures() const { return measures_; }
    // The estimates of a run of the area (or of the set of sheets), and as the status bar
    // shows them.
    RunEstimate estimate() const;
    QString estimateText() const;
    // An area chosen on the map goes into the fields, and the area is recomputed from them
    // as when they are typed. `northing` in full metres.
    void setAreaFromMap(int32_t easting, int32_t northing, int across, int down);

    // A set of sheets instead of the fields' one run: cut for the coverage and the name
    // (and again whenever the coverage changes), named in the line below the fields, drawn
    // on the map, estimated, and fetched by "Descargar". A box's upper-left corner goes
    // into the fields too. A track's corridor is cut on a worker while the window goes on:
    // the line says so meanwhile and "Descargar" waits for it. A set that cannot be cut is
    // refused with its message, and the set chosen before stays.
    void setSheets(const SheetSource& source);
    // The sheets of a track's corridor: `source` without the track's points, which `track`
    // holds (shared with the map, never copied on this thread).
    void setTrackSheets(const SheetSource& source, std::shared_ptr<const GroundTrack> track);
    // The set chosen, with neighbours sharing another number of tiles.
    void setSheetOverlap(int overlap);
    // A track's sheets are being cut.
    bool cuttingSheets() const { return cutStop_ != nullptr; }
    // Back to the fields' one run ("Una sola descarga").
    void clearSheets();
    // The set "Descargar" fetches, if one is chosen and could be cut.
    const SheetSet* sheets() const;
    // The latest set run, while the window keeps it.
    SheetSetRun* setRun() const;

public slots:
    // False when it stopped on a message (which it showed).
    bool RecalcArea();
    void SelectMapKind();
    void LookupCoverage();

    void meUTMxExit();
    void meUTMyExit();
    void cbCoberturaChange();
    void cbAnchoChange();
    void cbAltoChange();
    void rbCartoClick();
    void rbOrtoClick();
    void rbMDTClick();
    void eNombreFicheroChange();
    void eCarpetaExit();

    void cbGrabarBMPClick();
    void cbBorrarMosaicoClick();
    void cbOziClick();
    void cbCompeClick();
    void GrabarBMP1Click();
    void BorraFicherosClick();
    void OziExplorer1Click();
    void CompeGPS1Click();
    void DatumED501Click();
    void DatumWGS841Click();
    void Georreferencia1Click();
    // The "&Exportar" menu's entries, one per format.
    void ExportarClick(ExportFormat format);
    // "Escala y papel…": the print's scale and paper, in a box of its own.
    void EscalaPapel1Click();

    void sbCarpetaClick();
    void btnDescargarClick();
    void btnMosaicoClick();
    void Ver1Click();
    void btnSucesosClick();
    void Ayuda1Click();
    void btnNuevaClick();
    void Detener1Click();
    void Reintentar1Click();
    void ElegirMapa1Click();
    void btnUnaDescargaClick();

    // Runs once, when the window is first shown.
    void FormShow();

signals:
    // The window has closed: the program ends with it.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    void setUpTabOrder();
    void connectHandlers();
    void FormCreate();
    void FormCloseQuery();
    void showCornerError();
    // The lower-right corner and the sizes of the latest complete recompute, or of the
    // chosen set of sheets as a whole.
    void showArea();
    // The enabling that follows the join-into-BMP option.
    void applySaveBmp();
    // The name names the exports too: it is enabled while the BMP or an export is asked for.
    void applyNameEnabled();
    // Programmatic changes of the lists do not count as the user's changes.
    void fillCoverageList();
    // A run of `job`; with `retry`, the tiles of the earlier run are taken as they are.
    void startRun(const DownloadJob& job, bool retry, const QSet<QPoint>& taken = {});
    // Either kind of run, whose signals are alike.
    template <typename Run> void connectRun(Run* run);
    void startSetRun(bool retry);
    // The area into the fields, as typed, and recomputed. `northing` in full metres.
    void putArea(int32_t easting, int32_t northing, int across, int down);
    void sheetStarted(int number, int count);
    // The set cut again for the job as it stands, if its coverage changed, and shown; a
    // new name only renames the sheets.
    void cutSheets();
    // The whole source of a track's sheets, with the track's points: made on the worker
    // that cuts them (the track read or copied there), or the reason it cannot be.
    using SourceMaker = std::function<std::shared_ptr<const SheetSource>(QString* error)>;
    static SourceMaker WholeSource(std::shared_ptr<const SheetSource> source);
    // What the worker of a track's cut hands back.
    struct TrackCut {
        std::shared_ptr<const SheetSource> source;
        SheetCut cut;
        QString error;
    };
    // A track's sheets cut on a worker, `shown` in the line meanwhile; `chosen` when it is
    // the user's new choice, which is given up for the one before if it cannot be had.
    void startTrackCut(std::shared_ptr<const SheetSource> shown, SourceMaker maker, bool chosen);
    void trackCutDone(quint64 number, bool chosen, const TrackCut& done);
    // The cut under way, if any, ends at once and its result is not taken.
    void stopCut();
    void showSheets();
    // The settings file's set, once the window is made; a track is read on a worker.
    // The counts across and down, as the state allows and a chosen set does not.
    void applyCountLists();
    void loadStoredSheets(const StoredSettings& settings, const SheetSettings& stored);
    void runFinished(const RunOutcome& outcome);
    // After a complete recompute: the map follows the job, the estimates are made again.
    void areaChanged();
    void showEstimate();
    // The "Mapa" window's first place: where it was the last time, within the screen it
    // is on now; else beside this window on a wide screen, or within this one's screen.
    void placeMapWindow();
    // The measures of earlier sessions, read on the store's thread, under this session's.
    void loadMeasures();
    // What a run or the map measured: into the estimates now, into the cache folder later.
    void addMeasures(const RunMeasures& samples);
    void saveMeasures();
    // The progress bar and the time left of the run under way, from its estimate.
    void startPace(const RunEstimate& estimate);
    void showPace();
    QNetworkAccessManager* network();

    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_;
    DownloadJob job_;
    DownloadJob shownArea_; // as the latest complete recompute left it
    std::optional<QString> server_;
    std::optional<int> storedConnections_; // written back only when the file had it
    int connections_ = 2;
    bool datumStored_ = false;                               // the settings file had "Datum"
    bool worldFileStored_ = false;                           // and "Georreferencia"
    std::array<bool, kExportFormats.size()> exportStored_{}; // and each export's key
    bool printStored_ = false; // the file had [Imprimir], or the user chose in its box
    bool retryable_ = false;   // the latest run ended with failed tiles
    FetchLimits fetchLimits_;
    WindowState state_ = WindowState::Ready;
    bool shown_ = false;
    bool settingsWritten_ = false;
    bool loadingKind_ = false;
    QPointer<TfElegirCarpeta> logWindow_;
    QPointer<TfMosaico> viewerWindow_;
    QPointer<TAboutBox> aboutBox_;
    TileBoard board_;
    QNetworkAccessManager* network_ = nullptr;
    QPointer<DownloadRun> run_;
    QPointer<SheetSetRun> setRun_;
    // Shared, never copied on this thread: a track's may have a million points. While a
    // track's sheets are being cut, without them.
    std::shared_ptr<const SheetSource> sheetSource_;
    SheetCut sheetCut_;
    int32_t cutTileSize_ = 0; // the coverage sheetCut_ was made for; 0: none yet
    // A track's cut on a worker: its stop flag (none when no cut is on its way), its number
    // (a later one or a stop makes it stale), its maker, and the set it replaces, taken back
    // if the new choice cannot be had.
    std::shared_ptr<std::atomic<bool>> cutStop_;
    quint64 cutNumber_ = 0;
    SourceMaker cutMaker_;
    struct ChosenSheets {
        std::shared_ptr<const SheetSource> source;
        SheetCut cut;
        int32_t tileSize = 0;
        SourceMaker maker; // when it was itself being cut
    };
    std::optional<ChosenSheets> previousSheets_;
    bool sheetLineShown_ = false; // the window's height holds the line naming the set
    // The keys of a set as the settings file had them, written back under their rule.
    StoredSettings storedSheetKeys_;
    std::unique_ptr<RunAnswers> runAnswers_;
    // The transfers to the map server at once ("Conexiones"), shared by the map's requests.
    std::unique_ptr<TransferGate> serverGate_;
    // Declared after the gate, so that it goes first.
    std::unique_ptr<MapWindow> mapWindow_;
    std::optional<QString> mapPlace_; // "VentanaMapa" as the settings file had it
    RunMeasures measures_;
    RunMeasures unsaved_; // added since the cache folder's file was last written
    RunPace pace_;
    QElapsedTimer runClock_; // since the latest run started
    QTimer* paceTimer_ = nullptr;

    // Controls, named as the window's layout names them.
    QLabel* Label9;
    QLineEdit* eCarpeta;
    QToolButton* sbCarpeta;
    CornerEdit* meUTMx;
    CornerEdit* meUTMy;
    QLabel* stX;
    QLabel* stY;
    QLabel* stMAncho;
    QLabel* stMAlto;
    QLabel* stPAncho;
    QLabel* stPAlto;
    QComboBox* cbCobertura;
    QComboBox* cbAncho;
    QComboBox* cbAlto;
    QRadioButton* rbCarto;
    QRadioButton* rbOrto;
    QRadioButton* rbMDT;
    QLabel* IJPG;
    QCheckBox* cbGrabarBMP;
    QLineEdit* eNombreFichero;
    QCheckBox* cbBorrarMosaico;
    QCheckBox* cbOzi;
    QCheckBox* cbCompe;
    QProgressBar* pbMosaico;
    QPushButton* btnDescargar;
    QPushButton* btnMosaico;
    QPushButton* btnSucesos;
    QPushButton* btnNueva;
    QPushButton* btnSalir;
    QLabel* statusLabel_;
    ElidedLabel* stEstimacion;
    QLabel* stQuedan; // the time left of a run, in its place during one
    QFrame* pnHojas;
    QLabel* stHojas;
    QPushButton* btnUnaDescarga;
    QMenu* Archivo1;
    QMenu* Mosaico1;
    QMenu* Calibracin1;
    QMenu* Exportar1;
    QAction* GrabarBMP1;
    QAction* Salir1;
    QAction* BorraFicheros;
    QAction* Ver1;
    QAction* Detener1;
    QAction* Reintentar1;
    QAction* ElegirMapa1;
    QAction* OziExplorer1;
    QAction* CompeGPS1;
    QAction* DatumED501;
    QAction* DatumWGS841;
    QAction* Georreferencia1;
    // GeoTIFF1, GeoPackage1, MBTiles1, KMZ1 and PDF1, by ExportFormat.
    std::array<QAction*, kExportFormats.size()> exportEntries_{};
    QAction* EscalaPapel1;
    QAction* Ayuda1;
};
