#pragma once

#include "run/RunOutput.h"

// One calibration file of the BMP this run saved, when its option is on: the OziExplorer
// .map or the CompeGPS .imp on the job's datum (on WGS 84 through the run's datum change), or
// the world file with the image's CRS. Without a BMP of this run none is written: one beside
// an older BMP of another area would put that map in the wrong place.
class CalibrationOutput : public RunOutput {
public:
    explicit CalibrationOutput(CalibrationFormat format) : m_format(format) {}

    void write(OutputContext& context, Done done) override;
    QString measureKey() const override;

    // The files a format writes beside the BMP <baseName>.bmp.
    static QStringList FileNames(CalibrationFormat format, const QString& baseName);

private:
    CalibrationFormat m_format;
};
