#pragma once

class QApplication;

// The program with its windows: the four windows in their order and the event loop, until
// the main window closes. Returns the exit status.
int RunWindows(QApplication& app);

// How the windows' application ends: when the main window closes, and only then. Left to
// Qt, closing the last window quits, and a message box is a window: one closed while no
// other window is open would make the questions after it return at once, unanswered.
void EndWithTheMainWindowOnly(QApplication& app);
