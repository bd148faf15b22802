#include "app/WindowProgram.h"

#include "run/ExportOutput.h"
#include "run/MeasureStore.h"
#include "ui/AcercaDe.h"
#include "ui/ProgramPicture.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QNetworkProxyFactory>

namespace {

// The help file has a fixed place next to the program; nothing opens it.
constexpr char kHelpFileName[] = "MORVEL.HLP";

} // namespace

void EndWithTheMainWindowOnly(QApplication& app) {
    app.setQuitOnLastWindowClosed(false);
}

int RunWindows(QApplication& app) {
    EndWithTheMainWindowOnly(app);
    app.setProperty("helpFile",
                    QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(kHelpFileName));
    app.setWindowIcon(QIcon(ProgramPicture(64)));
    // Tiles go through the proxy the system names, if any.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    // The main window reads the settings while it is created, before any other window
    // exists; closing it ends the program.
    TfPrincipal fPrincipal;
    TfElegirCarpeta fElegirCarpeta;
    TfMosaico fMosaico;
    TAboutBox AboutBox;
    fPrincipal.attachWindows(&fElegirCarpeta, &fMosaico, &AboutBox);
    QObject::connect(&fPrincipal, &TfPrincipal::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    fPrincipal.show();
    const int status = app.exec();
    // An export stopped by the closing window removes its temporary file before the end.
    ExportWorkPool()->waitForDone();
    // What this session measured is in the cache folder before the program ends.
    MeasureStore::WaitForWrites();
    return status;
}
