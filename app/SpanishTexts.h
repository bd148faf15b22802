#pragma once

class QCoreApplication;

// Makes the program speak Spanish whatever the system's language: Qt's own texts (the
// buttons of the boxes, the folder dialog, the command line's help and errors) from Qt's
// Spanish translation, the few it lacks from a table of our own, and Spanish numbers and
// dates in Qt's widgets. Once the application object exists and before anything is shown.
// Without Qt's translation installed the program still works, with those texts in English.
void UseSpanish(QCoreApplication& app);
