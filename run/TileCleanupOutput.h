#pragma once

#include "run/RunOutput.h"

// The tile files deleted when "Borrar ficheros del mosaico descargados" is on, once every
// file asked for that holds them is saved: the BMP and each export. Otherwise the tiles are
// the only copy of what was fetched, and the log says why they stay.
class TileCleanupOutput : public RunOutput {
public:
    void write(OutputContext& context, Done done) override;

    // Why the tiles stay, for the log; empty when they can go.
    static QString KeepReason(const OutputContext& context);
};
