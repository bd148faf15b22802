#pragma once

#include <QFont>

// The font of the program's windows: their positions and sizes were laid out for a
// small sans-serif face, so a narrow one of the same size is asked for first.
QFont WindowFont(bool bold = false);
