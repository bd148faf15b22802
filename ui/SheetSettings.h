#pragma once

// The set of sheets a settings file asks for, in [Mosaicos]: "Hasta=X,Y", the lower-right
// corner of a box whose upper-left corner is UTMSupIzqX / UTMSupIzqY (the same units: the
// northing without its leading 4,000,000), or "Ruta=FILE" with "Margen=METROS" (a track; a
// relative path is relative to the settings file's folder), and "Solape=N". An empty
// "Hasta" or "Ruta" asks for none: one run, as the other keys say.
//
// "CoberturaHojas=METROS" and "TipoHojas=N" keep the coverage and the map kind the set was
// chosen at: "Cobertura" is a position remembered from the file, never the coverage chosen
// during use, and the same sheet names at another coverage would stand for other ground.
// Without them (a file of an earlier version) the set is cut at the job's own.

#include "job/SheetSource.h"
#include "ui/Settings.h"

#include <QString>

#include <optional>

struct SheetSettings {
    // The file asks for a set; its source then is the box, or the track's file (to be read)
    // and margin, with the overlap.
    bool wanted = false;
    SheetSource source;
    // The set's map kind and its coverage, as a position in that kind's list, when the
    // file keeps them.
    std::optional<MapKind> kind;
    std::optional<int> coveragePosition;
    // Why the keys cannot be used, as the message to show; empty when they can.
    QString problem;
};

SheetSettings ReadSheetSettings(const StoredSettings& settings, const QString& settingsFolder);

// The job a set asked for by the file runs with: `job` at the set's map kind and coverage
// when the file keeps them.
DownloadJob SheetSetJob(const DownloadJob& job, const SheetSettings& sheets);

// The keys for the set chosen at `kind` and `tileSize`, or for none (an empty "Hasta",
// "Ruta", "CoberturaHojas" and "TipoHojas" where the file had them); a box's upper-left
// corner goes into UTMSupIzqX / UTMSupIzqY as the window's corner fields hold it. A track
// inside the settings file's folder is written relative to it.
void StoreSheetSettings(StoredSettings& settings, const std::optional<SheetSource>& source,
                        const QString& settingsFolder, MapKind kind, int32_t tileSize);
