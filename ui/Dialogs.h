#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Every message box and the folder-browse dialog of the program go through this class,
// so that tests can answer them without a modal loop. The real one uses QMessageBox.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Simple message dialog: caption ProgramTitle(), no icon, one OK button, centred.
    virtual void message(const QString& text);
    // Generic error display: text + ".", caption ProgramTitle(), error icon.
    virtual void error(const QString& text);
    // Box with its own caption and an OK button only (e.g. "Carpeta destino").
    virtual void notice(const QString& caption, const QString& text);
    // Box with its own caption, OK and Cancel, OK the default button, no icon; true for OK.
    virtual bool okCancel(const QString& caption, const QString& text);
    // Box with its own caption and a button of each text, no icon: the first is the default
    // and the last is Escape's, and the box's close. Which was pressed, from 0.
    virtual int choice(const QString& caption, const QString& text, const QStringList& buttons);
    // The folder-browse dialog with `prompt`, folders only, nothing preselected: the
    // chosen folder's path with the platform's separators, or nothing when cancelled.
    virtual std::optional<QString> chooseFolder(const QString& prompt);
    // The file-open dialog with `caption` and a name filter ("Rutas (*.gpx *.kml)"): the
    // chosen file's path with the platform's separators, or nothing when cancelled.
    virtual std::optional<QString> chooseFile(const QString& caption, const QString& filter);
};
