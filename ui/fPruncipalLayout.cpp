// The main window's controls, captions, places and menu.
#include "ui/fPruncipal.h"

#include "job/MapKinds.h"
#include "ui/CornerEdit.h"
#include "ui/ElidedLabel.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>

#include <iterator>
#include <utility>

namespace {

template <typename T> T* Make(QWidget* parent, const char* name) {
    auto* widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setFont(WindowFont());
    return widget;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                 bool bold = false) {
    auto* label = Make<QLabel>(parent, name);
    label->setText(text);
    label->setFont(WindowFont(bold));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QGroupBox* AddGroup(QWidget* parent, const char* name, const QString& title, const QRect& place,
                    bool boldTitle) {
    auto* group = Make<QGroupBox>(parent, name);
    group->setTitle(title);
    group->setFont(WindowFont(boldTitle));
    group->setGeometry(place);
    return group;
}

// The right-aligned, sunken, bold fields that show the area.
QLabel* AddDisplay(QWidget* parent, const char* name, const QRect& place) {
    auto* display = Make<QLabel>(parent, name);
    display->setFont(WindowFont(true));
    display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    display->setGeometry(place);
    return display;
}

QComboBox* AddList(QWidget* parent, const char* name, const QRect& place) {
    auto* box = Make<QComboBox>(parent, name);
    box->setEditable(true);
    box->lineEdit()->setFont(WindowFont());
    // The typed text stays a text: it neither becomes an item nor is completed.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->setGeometry(place);
    return box;
}

QCheckBox* AddCheck(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* box = Make<QCheckBox>(parent, name);
    box->setText(text);
    box->setGeometry(place);
    return box;
}

QRadioButton* AddRadio(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* button = Make<QRadioButton>(parent, name);
    button->setText(text);
    button->setGeometry(place);
    return button;
}

QPushButton* AddButton(QWidget* parent, const char* name, const QString& text,
                       QStyle::StandardPixmap picture, const QRect& place) {
    auto* button = Make<QPushButton>(parent, name);
    button->setText(text);
    button->setFont(WindowFont(true));
    button->setIcon(parent->style()->standardIcon(picture));
    button->setIconSize(QSize(14, 14));
    button->setGeometry(place);
    return button;
}

QAction* AddCheckEntry(QMenu* menu, const char* name, const QString& text) {
    QAction* entry = menu->addAction(text);
    entry->setObjectName(QLatin1String(name));
    entry->setCheckable(true);
    return entry;
}

} // namespace

void TfPrincipal::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    Label9 = AddLabel(client, "Label9", QStringLiteral("Capeta destino de archivos:"), 192, 16);
    eCarpeta = Make<QLineEdit>(client, "eCarpeta");
    eCarpeta->setText(QStringLiteral("."));
    eCarpeta->setGeometry(328, 8, 281, 21);
    sbCarpeta = Make<QToolButton>(client, "sbCarpeta");
    sbCarpeta->setAutoRaise(true);
    // A tab stop too: the folder can be chosen without the mouse.
    sbCarpeta->setFocusPolicy(Qt::StrongFocus);
    sbCarpeta->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    sbCarpeta->setGeometry(608, 8, 23, 22);

    auto* coords = AddGroup(client, "GroupBox1", QStringLiteral("Coordenadas UTM"),
                            QRect(8, 8, 177, 177), true);
    auto* upperLeft = AddGroup(coords, "GroupBox2", QStringLiteral("Esquina superior izquierda"),
                               QRect(8, 16, 161, 73), false);
    AddLabel(upperLeft, "Label3", QStringLiteral("X:"), 17, 24);
    AddLabel(upperLeft, "Label4", QStringLiteral("Y:"), 17, 48);
    AddLabel(upperLeft, "Label21", QStringLiteral("4."), 36, 48, true);
    meUTMx = Make<CornerEdit>(upperLeft, "meUTMx");
    meUTMx->setGeometry(48, 16, 49, 21);
    meUTMx->setValue(QStringLiteral("585000"));
    meUTMy = Make<CornerEdit>(upperLeft, "meUTMy");
    meUTMy->setGeometry(48, 40, 49, 21);
    meUTMy->setValue(QStringLiteral("730000"));
    AddLabel(upperLeft, "Label15", QStringLiteral("metros"), 120, 24);
    AddLabel(upperLeft, "Label16", QStringLiteral("metros"), 120, 48);
    auto* lowerRight = AddGroup(coords, "GroupBox3", QStringLiteral("Esquina inferior derecha"),
                                QRect(8, 96, 161, 73), false);
    AddLabel(lowerRight, "Label5", QStringLiteral("X:"), 25, 24);
    AddLabel(lowerRight, "Label6", QStringLiteral("Y:"), 25, 48);
    stX = AddDisplay(lowerRight, "stX", QRect(48, 24, 65, 17));
    stY = AddDisplay(lowerRight, "stY", QRect(48, 48, 65, 17));
    AddLabel(lowerRight, "Label17", QStringLiteral("metros"), 120, 24);
    AddLabel(lowerRight, "Label18", QStringLiteral("metros"), 120, 48);

    auto* size =
        AddGroup(client, "GroupBox4", QStringLiteral("Tamaño"), QRect(8, 192, 177, 161), true);
    auto* metres =
        AddGroup(size, "GroupBox6", QStringLiteral("Metros"), QRect(8, 16, 161, 65), false);
    AddLabel(metres, "Label7", QStringLiteral("Ancho:"), 16, 18);
    AddLabel(metres, "Label8", QStringLiteral("Alto:"), 16, 42);
    stMAncho = AddDisplay(metres, "stMAncho", QRect(56, 16, 57, 17));
    stMAlto = AddDisplay(metres, "stMAlto", QRect(56, 40, 57, 17));
    auto* pixels =
        AddGroup(size, "GroupBox7", QStringLiteral("Pixel"), QRect(8, 88, 161, 65), false);
    AddLabel(pixels, "Label13", QStringLiteral("Ancho:"), 16, 18);
    AddLabel(pixels, "Label14", QStringLiteral("Alto:"), 16, 42);
    stPAncho = AddDisplay(pixels, "stPAncho", QRect(56, 16, 57, 17));
    stPAlto = AddDisplay(pixels, "stPAlto", QRect(56, 40, 57, 17));

    auto* data = AddGroup(client, "GroupBox8", QStringLiteral("Datos del mosaico"),
                          QRect(432, 48, 201, 217), true);
    AddLabel(data, "Label1", QStringLiteral("Cobertura (metros):"), 8, 24);
    cbCobertura = AddList(data, "cbCobertura", QRect(104, 16, 89, 21));
    // The layout's list: the cartography's, as its button is the one ticked.
    cbCobertura->addItems(CoverageItems(MapKind::Carto));
    AddLabel(data, "Label2", QStringLiteral("Número de mosaicos"), 8, 48);
    AddLabel(data, "Label19", QStringLiteral("Ancho:"), 16, 72);
    cbAncho = AddList(data, "cbAncho", QRect(56, 64, 41, 21));
    AddLabel(data, "Label20", QStringLiteral("Alto:"), 29, 96);
    cbAlto = AddList(data, "cbAlto", QRect(56, 88, 41, 21));
    for (QComboBox* counts : {cbAncho, cbAlto}) {
        for (int n = 1; n <= kMaxTiles; ++n) {
            counts->addItem(QString::number(n));
        }
        counts->setCurrentIndex(4);
    }
    AddLabel(data, "Label12", QStringLiteral("Tipo de descarga:"), 8, 120);
    rbCarto = AddRadio(data, "rbCarto", QStringLiteral("Cartografía"), QRect(16, 136, 89, 17));
    rbCarto->setChecked(true);
    rbOrto = AddRadio(data, "rbOrto", QStringLiteral("Ortofoto"), QRect(16, 152, 81, 17));
    rbMDT = AddRadio(data, "rbMDT", QStringLiteral("M.D.T."), QRect(16, 168, 89, 17));
    IJPG = Make<QLabel>(data, "IJPG");
    IJPG->setScaledContents(true);
    IJPG->setGeometry(112, 136, 81, 73);

    auto* bmp = AddGroup(client, "GroupBox5", QStringLiteral("Fichero BMP de unión de mosaico"),
                         QRect(192, 48, 233, 217), true);
    cbGrabarBMP =
        AddCheck(bmp, "cbGrabarBMP", QStringLiteral("Grabar fichero"), QRect(16, 24, 97, 17));
    AddLabel(bmp, "Label10", QStringLiteral("Nombre:"), 8, 64);
    eNombreFichero = Make<QLineEdit>(bmp, "eNombreFichero");
    eNombreFichero->setGeometry(56, 56, 169, 21);
    cbBorrarMosaico =
        AddCheck(bmp, "cbBorrarMosaico", QStringLiteral("Borrar ficheros del mosaico descargados"),
                 QRect(16, 96, 209, 17));
    AddLabel(bmp, "Label11", QStringLiteral("Calibrar el fichero para:"), 16, 128);
    cbOzi = AddCheck(bmp, "cbOzi", QStringLiteral("OziExplorer"), QRect(16, 152, 97, 17));
    cbCompe = AddCheck(bmp, "cbCompe", QStringLiteral("CompeGPS"), QRect(16, 176, 97, 17));

    AddLabel(client, "Label22", QStringLiteral("Progreso de descarga"), 192, 272, true);
    pbMosaico = Make<QProgressBar>(client, "pbMosaico");
    pbMosaico->setRange(0, 100);
    pbMosaico->setValue(0);
    pbMosaico->setTextVisible(false);
    pbMosaico->setGeometry(192, 288, 281, 16);
    btnDescargar = AddButton(client, "btnDescargar", QStringLiteral("Descargar"),
                             QStyle::SP_ArrowDown, QRect(192, 320, 89, 25));
    btnMosaico = AddButton(client, "btnMosaico", QStringLiteral("Mosaico"),
                           QStyle::SP_FileDialogContentsView, QRect(296, 320, 81, 25));
    btnSucesos = AddButton(client, "btnSucesos", QStringLiteral("Sucesos"),
                           QStyle::SP_FileDialogDetailedView, QRect(392, 320, 81, 25));
    btnNueva = AddButton(client, "btnNueva", QStringLiteral("Nueva descarga"), QStyle::SP_FileIcon,
                         QRect(496, 272, 129, 25));
    btnSalir = AddButton(client, "btnSalir", QStringLiteral("&Salir"), QStyle::SP_DialogCloseButton,
                         QRect(550, 320, 75, 25));

    // Below the fields, only while a set of sheets is chosen: what "Descargar" fetches
    // then, and the way back to the fields' one run.
    pnHojas = Make<QFrame>(client, "pnHojas");
    pnHojas->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnHojas->setGeometry(8, 358, 625, 26);
    stHojas = Make<QLabel>(pnHojas, "stHojas");
    stHojas->setFont(WindowFont(true));
    stHojas->setGeometry(6, 3, 480, 20);
    btnUnaDescarga = Make<QPushButton>(pnHojas, "btnUnaDescarga");
    btnUnaDescarga->setText(QStringLiteral("Una sola descarga"));
    btnUnaDescarga->setToolTip(
        QStringLiteral("Descargar solo la cuadrícula de los campos de arriba, sin hojas"));
    btnUnaDescarga->setGeometry(492, 2, 129, 22);
    pnHojas->hide();

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("sbEstado"));
    bar->setFont(WindowFont());
    // A label rather than showMessage(): hovering the menu would wipe a message.
    statusLabel_ = Make<QLabel>(bar, "sbEstadoText");
    bar->addWidget(statusLabel_, 1);
    // What a run of the area would take, beside the latest message: cut with "…" where the
    // window is narrower than the line, whole in its tooltip.
    stEstimacion = Make<ElidedLabel>(bar, "stEstimacion");
    bar->addPermanentWidget(stEstimacion);

    const std::pair<QWidget*, const char*> tips[] = {
        {eCarpeta, "Carpeta donde se graban los mosaicos, el BMP, la calibración y las "
                   "exportaciones"},
        {sbCarpeta, "Elegir la carpeta destino"},
        {meUTMx, "X UTM (huso 30, ED50) de la esquina superior izquierda, en metros: de "
                 "537.000 a 690.000"},
        {meUTMy, "Y UTM (huso 30, ED50) de la esquina superior izquierda, en metros, sin el "
                 "4 de los millones: de 640.000 a 800.000"},
        {stX, "X UTM de la esquina inferior derecha, en metros"},
        {stY, "Y UTM de la esquina inferior derecha, en metros"},
        {stMAncho, "Ancho del área en metros"},
        {stMAlto, "Alto del área en metros"},
        {stPAncho, "Ancho del fichero BMP en píxeles"},
        {stPAlto, "Alto del fichero BMP en píxeles"},
        {cbCobertura, "Terreno que cubre cada mosaico: metros de lado"},
        {cbAncho, "Mosaicos de oeste a este, de 1 a 10"},
        {cbAlto, "Mosaicos de norte a sur, de 1 a 10"},
        {rbCarto, "Mapa topográfico"},
        {rbOrto, "Fotografía aérea"},
        {rbMDT, "Modelo digital del terreno"},
        {IJPG, "El último mosaico descargado"},
        {cbGrabarBMP, "Unir los mosaicos en un fichero BMP"},
        {eNombreFichero, "Nombre del BMP sin «.bmp», que llevan también la calibración, las "
                         "exportaciones y las hojas"},
        {cbBorrarMosaico, "Borrar los mosaicos descargados una vez grabados los ficheros que los "
                          "unen"},
        {cbOzi, "Grabar la calibración del BMP para OziExplorer (.map)"},
        {cbCompe, "Grabar la calibración del BMP para CompeGPS (.imp)"},
        {pbMosaico, "Lo hecho de la descarga en curso: los mosaicos y después los ficheros "
                    "que se graban"},
        {btnDescargar, "Descargar los mosaicos del área, o de las hojas elegidas, en la carpeta "
                       "destino"},
        {btnMosaico, "Ver los mosaicos descargados"},
        {btnSucesos, "Ver el registro de la última descarga"},
        {btnNueva, "Preparar otra descarga"},
        {btnSalir, "Grabar la configuración y salir"},
    };
    for (const auto& [control, tip] : tips) {
        control->setToolTip(QString::fromUtf8(tip));
    }
    stQuedan = Make<QLabel>(bar, "stQuedan");
    bar->addPermanentWidget(stQuedan);
    stQuedan->hide();
}

void TfPrincipal::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setFont(WindowFont());

    Archivo1 = bar->addMenu(QStringLiteral("&Archivo"));
    Archivo1->setObjectName(QStringLiteral("Archivo1"));
    GrabarBMP1 = AddCheckEntry(Archivo1, "GrabarBMP1", QStringLiteral("&Grabar BMP"));
    Archivo1->addSeparator()->setObjectName(QStringLiteral("N3"));
    Salir1 = Archivo1->addAction(QStringLiteral("&Salir"));
    Salir1->setObjectName(QStringLiteral("Salir1"));

    Mosaico1 = bar->addMenu(QStringLiteral("&Mosaico"));
    Mosaico1->setObjectName(QStringLiteral("Mosaico1"));
    BorraFicheros =
        AddCheckEntry(Mosaico1, "BorraFicheros", QStringLiteral("&Borrar ficheros descargados"));
    Mosaico1->addSeparator()->setObjectName(QStringLiteral("N2"));
    Ver1 = Mosaico1->addAction(QStringLiteral("&Ver"));
    Ver1->setObjectName(QStringLiteral("Ver1"));
    Mosaico1->addSeparator()->setObjectName(QStringLiteral("N4"));
    Detener1 = Mosaico1->addAction(QStringLiteral("&Detener la descarga"));
    Detener1->setObjectName(QStringLiteral("Detener1"));
    Reintentar1 = Mosaico1->addAction(QStringLiteral("&Reintentar los fallidos"));
    Reintentar1->setObjectName(QStringLiteral("Reintentar1"));
    Mosaico1->addSeparator()->setObjectName(QStringLiteral("N7"));
    ElegirMapa1 = Mosaico1->addAction(QStringLiteral("&Elegir en el mapa..."));
    ElegirMapa1->setObjectName(QStringLiteral("ElegirMapa1"));
    ElegirMapa1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));

    Calibracin1 = bar->addMenu(QStringLiteral("&Calibración"));
    Calibracin1->setObjectName(QStringLiteral("Calibracin1"));
    OziExplorer1 = AddCheckEntry(Calibracin1, "OziExplorer1", QStringLiteral("&OziExplorer"));
    CompeGPS1 = AddCheckEntry(Calibracin1, "CompeGPS1", QStringLiteral("Compe&GPS"));
    Calibracin1->addSeparator()->setObjectName(QStringLiteral("N5"));
    DatumED501 =
        AddCheckEntry(Calibracin1, "DatumED501", QStringLiteral("Datum ED50 (European 1950)"));
    DatumWGS841 =
        AddCheckEntry(Calibracin1, "DatumWGS841", QStringLiteral("Datum WGS 84 (ETRS89)"));
    auto* datums = new QActionGroup(Calibracin1);
    datums->setExclusive(true);
    datums->addAction(DatumED501);
    datums->addAction(DatumWGS841);
    DatumED501->setChecked(true);
    Calibracin1->addSeparator()->setObjectName(QStringLiteral("N6"));
    Georreferencia1 = AddCheckEntry(Calibracin1, "Georreferencia1",
                                    QStringLiteral("Fichero de georreferencia (.bpw)"));

    // The files for other programs, made from the joined image with or without the BMP.
    Exportar1 = bar->addMenu(QStringLiteral("&Exportar"));
    Exportar1->setObjectName(QStringLiteral("Exportar1"));
    // Each entry says which programs and devices read its file.
    const struct {
        const char* name;
        const char* caption;
        const char* tip;
    } exports[] = {
        {"GeoTIFF1", "&GeoTIFF (.tif)",
         "La imagen en su cuadrícula ED50 / UTM 30N, sin remuestrear: la leen QGIS, ArcGIS, "
         "Global Mapper y los demás programas SIG, y Avenza Maps en el móvil"},
        {"GeoPackage1", "Geo&Package (.gpkg)",
         "La imagen en su cuadrícula ED50 / UTM 30N, en teselas: la leen QGIS y, en el móvil, "
         "AlpineQuest"},
        {"MBTiles1", "&MBTiles (.mbtiles)",
         "La imagen en Web Mercator, en teselas de todos los niveles de zoom: la leen en el "
         "móvil Locus Map, OruxMaps y AlpineQuest"},
        {"KMZ1", "&KMZ de Garmin (.kmz)",
         "La imagen en WGS 84, en piezas de hasta 1024 × 1024 píxeles: mapa personalizado para "
         "los GPS de mano Garmin (eTrex, GPSMAP, Oregon, Montana…); la lee también Google Earth"},
        {"PDF1", "PDF para &imprimir (.pdf)",
         "Hojas a escala con la cuadrícula UTM del GPS: se imprimen con cualquier visor de PDF, "
         "y Avenza Maps y QGIS las sitúan en el mapa"}};
    for (size_t i = 0; i < exportEntries_.size(); ++i) {
        exportEntries_[i] =
            AddCheckEntry(Exportar1, exports[i].name, QString::fromUtf8(exports[i].caption));
        exportEntries_[i]->setToolTip(QString::fromUtf8(exports[i].tip));
    }
    Exportar1->setToolTipsVisible(true);
    Exportar1->addSeparator()->setObjectName(QStringLiteral("N8"));
    EscalaPapel1 = Exportar1->addAction(QStringLiteral("&Escala y papel…"));
    EscalaPapel1->setObjectName(QStringLiteral("EscalaPapel1"));

    // The drop-down menus in the window's font too, not only the bar.
    for (QMenu* menu : {Archivo1, Mosaico1, Calibracin1, Exportar1}) {
        menu->setFont(WindowFont());
    }
    Ayuda1 = bar->addAction(QStringLiteral("Acerca de..."));
    Ayuda1->setObjectName(QStringLiteral("Ayuda1"));
}

void TfPrincipal::setUpTabOrder() {
    // Reading order: the corner, the folder line, the BMP group, the mosaic's data, then the
    // buttons from the top and from the left, and the line of a set of sheets.
    QWidget* const order[] = {
        meUTMx, meUTMy,   eCarpeta,     sbCarpeta,  cbGrabarBMP, eNombreFichero, cbBorrarMosaico,
        cbOzi,  cbCompe,  cbCobertura,  cbAncho,    cbAlto,      rbCarto,        rbOrto,
        rbMDT,  btnNueva, btnDescargar, btnMosaico, btnSucesos,  btnSalir,       btnUnaDescarga};
    for (size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}
