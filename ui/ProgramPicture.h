#pragma once

#include <QPixmap>

// The program's picture: a sheet of four map tiles with a corner mark. Drawn, so the
// program needs no image files.
QPixmap ProgramPicture(int side = 64);
