// Start-up: the application object, the four windows in their order, the event loop.
#include "ui/AcercaDe.h"
#include "ui/ProgramPicture.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

namespace {

// The help file has a fixed place next to the program; nothing opens it.
constexpr char kHelpFileName[] = "MORVEL.HLP";

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setProperty("helpFile",
                    QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(kHelpFileName));
    app.setWindowIcon(QIcon(ProgramPicture(64)));

    // The main window reads the settings while it is created, before any other window
    // exists; closing it ends the program.
    TfPrincipal fPrincipal;
    TfElegirCarpeta fElegirCarpeta;
    TfMosaico fMosaico;
    TAboutBox AboutBox;
    fPrincipal.attachWindows(&fElegirCarpeta, &fMosaico, &AboutBox);

    fPrincipal.show();
    return app.exec();
}
