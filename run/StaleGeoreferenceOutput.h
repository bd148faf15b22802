#pragma once

#include "run/RunOutput.h"

// Once this run saved a BMP, the calibration, world and projection files of its name that the
// run did not write are removed: they described the image that is gone, and GIS and GPS
// programs would still place the new one by them. A file the user chose to keep, when asked
// whether to replace it, stays.
class StaleGeoreferenceOutput : public RunOutput {
public:
    void write(OutputContext& context, Done done) override;
};
