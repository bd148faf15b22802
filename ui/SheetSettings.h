#pragma once

// The set of sheets a settings file asks for, in [Mosaicos]: "Hasta=X,Y", the lower-right
// corner of a box whose upper-left corner is UTMSupIzqX / UTMSupIzqY (the same units: the
// northing without its leading 4,000,000), or "Ruta=FILE" with "Margen=METROS" (a track; a
// relative path is relative to the settings file's folder), and "Solape=N". An empty
// "Hasta" or "Ruta" asks for none: one run, as the other keys say.

#include "job/SheetSource.h"
#include "ui/Settings.h"

#include <QString>

#include <optional>

struct SheetSettings {
    // The file asks for a set; its source then is the box, or the track's file (to be read)
    // and margin, with the overlap.
    bool wanted = false;
    SheetSource source;
    // Why the keys cannot be used, as the message to show; empty when they can.
    QString problem;
};

SheetSettings ReadSheetSettings(const StoredSettings& settings, const QString& settingsFolder);

// The keys for the set chosen, or for none (an empty "Hasta" and "Ruta" where the file had
// them); a box's upper-left corner goes into UTMSupIzqX / UTMSupIzqY as the window's
// corner fields hold it. A track inside the settings file's folder is written relative
// to it.
void StoreSheetSettings(StoredSettings& settings, const std::optional<SheetSource>& source,
                        const QString& settingsFolder);
