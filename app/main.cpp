// Start-up: the window-less program when the arguments ask for it or there is no display;
// otherwise the application object, the four windows in their order, the event loop.
#include "app/CommandLine.h"
#include "app/SpanishTexts.h"
#include "app/WindowProgram.h"

#include <QApplication>

namespace {

// Without a display the toolkit would stop with a terse message: the window-less entry
// says what to do instead, or what is wrong with the arguments.
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
    if (NeedsNoWindow(argc, argv) || !HasDisplay()) {
        return RunWithoutWindow(argc, argv);
    }
    QApplication app(argc, argv);
    UseSpanish(app);
    // The toolkit has taken its own options out by now.
    CommandLine line;
    if (!line.parse(QCoreApplication::arguments())) {
        return ArgumentsRefused(line);
    }
    return RunWindows(app);
}
