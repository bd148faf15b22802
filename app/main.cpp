// Start-up: the window-less program when the arguments ask for it; otherwise the
// application object, the four windows in their order, the event loop.
#include "app/CommandLine.h"
#include "ui/AcercaDe.h"
#include "ui/ProgramPicture.h"
#include "ui/fPruncipal.h"
#include "ui/ufElegirCarpeta.h"
#include "ui/ufMosaico.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QNetworkProxyFactory>

#include <cstdio>

namespace {

// The help file has a fixed place next to the program; nothing opens it.
constexpr char kHelpFileName[] = "MORVEL.HLP";

// Without a display the toolkit would stop with a terse message; say what to do instead.
bool HasDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

} // namespace

int main(int argc, char** argv) {
    if (NeedsNoWindow(argc, argv)) {
        return RunWithoutWindow(argc, argv);
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "Morvel is a desktop program and no display was found (DISPLAY is not "
                     "set).\nOn a machine without a screen, run it under Xvfb:\n"
                     "  xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "Morvel");
        return 1;
    }
    QApplication app(argc, argv);
    // The toolkit has taken its own options out by now.
    CommandLine line;
    if (!line.parse(QCoreApplication::arguments())) {
        return ArgumentsRefused(line);
    }
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

    fPrincipal.show();
    return app.exec();
}
