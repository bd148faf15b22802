#pragma once

#include <QString>

// The program's title: the executable's name without its extension. It is the
// caption of the simple message dialogs and of the error display.
QString ProgramTitle();
