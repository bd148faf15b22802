#pragma once

#include <QDialog>

class QFrame;
class QPushButton;

// What the viewer needs from the window that owns the tile cells.
class MosaicViewerHost {
public:
    virtual ~MosaicViewerHost() = default;
    // The option to delete the downloaded tile files.
    virtual bool deleteTilesOption() const = 0;
    virtual void ShowTileMarkers() = 0;
    virtual void ShowTileThumbnails() = 0;
};

// The mosaic viewer window "Mosaico": the board of tile cells on its panel, a button
// that switches fetched tiles between thumbnails and markers, and a close button.
class TfMosaico : public QDialog {
    Q_OBJECT
public:
    explicit TfMosaico(QWidget* parent = nullptr);

    void setHost(MosaicViewerHost* host) { m_host = host; }
    // The panel that holds the cells.
    QFrame* pMosaico() const { return m_panel; }
    // True when the last press of the toggle chose the markers.
    bool markersShown() const { return m_markersShown; }
    // A new board shows thumbnails: the toggle offers the markers again.
    void resetView();

public slots:
    void btnMosaicosClick();
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // While the tile files may be deleted, the toggle is switched off.
    void FormShow();

    QFrame* m_panel = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_toggle = nullptr;
    MosaicViewerHost* m_host = nullptr;
    bool m_markersShown = false;
};
