#pragma once

// The "Mapa" window: the ground drawn from the map server itself, the job's grid over it in
// step with the main window, the corner range Descargar accepts, a place to go to, a track
// to show and fit the area to, and the estimates of a run. It sets the area only through
// areaChosen, which the main window applies as if the fields had been typed.

#include "geo/TrackFile.h"
#include "job/DownloadJob.h"
#include "job/MapKinds.h"
#include "job/OverviewSquares.h"
#include "job/SheetSource.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QSize>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>

class DatumChange;
class Dialogs;
class MapView;
class OverviewLoader;
class QGraphicsItem;
class QGraphicsPathItem;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class QGraphicsScene;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QPushButton;
class QSpinBox;
class ElidedLabel;
class TrackPicture;
class TransferGate;
struct FetchLimits;

class MapWindow : public QWidget {
    Q_OBJECT
public:
    MapWindow(QNetworkAccessManager* network, TransferGate& gate, Dialogs& dialogs,
              QWidget* parent = nullptr);
    ~MapWindow() override;

    // The job as the main window holds it after a complete recompute: the map kind and the
    // server of the images, and the grid drawn.
    void showJob(const DownloadJob& job);
    // The set of sheets Descargar fetches instead of the job's grid, with where it came
    // from; none (null) shows the job's grid again. A track's source with its points that
    // is not the track shown (the settings file's) is drawn with them.
    void showSheets(std::shared_ptr<const SheetSource> source, const SheetSet* set);
    void setEstimate(const QString& text);
    // The whole line of the estimates, which the window's foot may show cut.
    QString estimateText() const;
    // The size the window opens at, where the screen has room.
    static constexpr QSize kWantedSize{900, 700};
    void setFetchLimits(const FetchLimits& limits);

    MapView* view() const { return m_view; }
    OverviewLoader* loader() const { return m_loader; }
    const GroundTrack* track() const { return m_track.get(); }
    // The track's picture for the view as it stands has come (see trackDrawn).
    bool trackDrawnForView() const;
    // The job's grid as drawn, and the place marked by "Ir a:" (none before).
    GroundRect gridShown() const;
    // The sheets as drawn, numbered as on the map: their outlines and numbers' places.
    QList<QPair<int, GroundRect>> sheetsShown() const;
    std::optional<GroundPoint> markedPlace() const;

public slots:
    // "Ir", or Enter in "Ir a:".
    void btnIrClick();
    void btnAbrirRutaClick();
    void btnAjustarRutaClick();
    // The sheets of a box typed as two corners ("Desde", "Hasta"), and of the track's
    // corridor of "Margen".
    void btnRecuadroClick();
    void btnHojasRutaClick();
    // Reads a track file on a worker and shows it when it is read.
    void openTrack(const QString& path);

signals:
    // The area the user chose on the map: upper-left corner (full metres), tiles across
    // and down; the main window puts it into its fields and recomputes.
    void areaChosen(int32_t easting, int32_t northing, int across, int down);
    // A set of sheets chosen on the map: a box larger than one run or two corners typed;
    // the main window cuts it for its coverage and name.
    void sheetsChosen(const SheetSource& source);
    // The corridor of the track shown, with the margin and overlap chosen: `source` without
    // the track's points, which `track` holds.
    void trackSheetsChosen(const SheetSource& source, std::shared_ptr<const GroundTrack> track);
    // Another overlap for the set chosen.
    void overlapChosen(int overlap);
    // A fresh image of the map, for the estimates of the job's kind.
    void overviewMeasured(MapKind kind, int32_t side, qint64 storedBytes, qint64 ms);
    // A track file was read (shown), or refused (with its message shown).
    void trackRead(bool shown);
    // A picture of the track for the view has come from its worker and shows.
    void trackDrawn();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void placeOnJob();
    void buildControls();
    void refresh();
    void imageReady(const OverviewSquare& square, const QImage& image);
    void imageDone(const OverviewSquare& square);
    void dropImages(bool all);
    void drawGrid();
    void boxDrawn(const GroundRect& box);
    void drawSheets();
    // A source of the current overlap: the box, or the track with its margin.
    SheetSource boxSource(const GroundRect& box) const;
    void chooseTrackSheets();
    void showTrack(const QString& path, std::shared_ptr<const GroundTrack> track);
    // A picture of the track for the view as it stands, drawn on a worker.
    void drawTrack();
    // The map's datum change, made by a worker when the window is, or here if asked for
    // first; null when PROJ cannot give it.
    const DatumChange* datumChange();
    // The ED50 ground of a place typed; nothing, with the message shown, when the text is
    // no place or its datum cannot be changed.
    std::optional<GroundPoint> groundOf(const QString& text);
    void showPointer(const GroundPoint& p);

    Dialogs& m_dialogs;
    QGraphicsScene* m_scene;
    MapView* m_view;
    OverviewLoader* m_loader;
    DownloadJob m_job;
    bool m_hasJob = false;
    bool m_placed = false; // the view was put on the job's area once

    int m_level = -1;
    QSet<OverviewSquare> m_wanted;  // the squares of the settled view
    QSet<OverviewSquare> m_waiting; // of those, not in yet
    QHash<OverviewSquare, QGraphicsPixmapItem*> m_images;
    QList<QGraphicsPixmapItem*> m_stale; // of the kind shown before, until the new are in

    QGraphicsRectItem* m_range = nullptr;
    QGraphicsPathItem* m_grid = nullptr;
    QGraphicsPathItem* m_gridHalo = nullptr;
    QGraphicsRectItem* m_area = nullptr;
    QGraphicsItem* m_corner = nullptr;
    QGraphicsItem* m_marker = nullptr;
    TrackPicture* m_trackPicture = nullptr;
    // Shared with the workers that draw it.
    std::shared_ptr<const GroundTrack> m_track;
    quint64 m_trackDrawing = 0; // the latest picture asked for
    bool m_trackDrawn = false;  // and it came
    // What the latest picture was asked for: the ground it covers at its scale. Asked again
    // for the same (the view settling where it was put, another map kind), none is drawn.
    std::optional<std::pair<GroundRect, double>> m_trackAsked;
    QString m_trackPath;
    std::shared_ptr<const SheetSource> m_sheetSource; // as the main window has it
    quint64 m_sourceTrack = 0; // the latest track of a source laid out on a worker
    std::shared_ptr<const SheetSource> m_sourceLaidOut; // and the source it is of
    std::optional<SheetSet> m_sheets;
    QList<QGraphicsItem*> m_sheetItems;
    std::unique_ptr<DatumChange> m_change;
    QString m_changeError;

    QLineEdit* eIrA;
    QPushButton* btnIr;
    QPushButton* btnAbrirRuta;
    QPushButton* btnAjustarRuta;
    QSpinBox* seMargen;
    QLineEdit* eDesde;
    QLineEdit* eHasta;
    QPushButton* btnRecuadro;
    QPushButton* btnHojasRuta;
    QSpinBox* seSolape;
    ElidedLabel* stEstimacion;
    QLabel* stPosicion;
};
