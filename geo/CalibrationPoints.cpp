#include "geo/CalibrationPoints.h"

namespace {

// The job keeps northings without their leading millions. Added in 64 bits and narrowed
// back so that any value a stopped recompute leaves stays defined.
int32_t FullNorthing(int32_t field) {
    return static_cast<int32_t>(static_cast<int64_t>(field) + kNorthingOffset);
}

} // namespace

CalibrationLists BuildCalibrationLists(const DownloadJob& job) {
    const int32_t x = job.easting;
    const int32_t yTop = FullNorthing(job.northingField);
    const int32_t xRight = job.cornerEasting;
    const int32_t yBottom = FullNorthing(job.cornerNorthingField);
    const int32_t w = job.widthPixels;
    const int32_t h = job.heightPixels;

    CalibrationLists lists;
    lists.points[0] = {0, 0, x, yTop};
    lists.points[1] = {w, h, xRight, yBottom};
    lists.corners[0] = {0, 0, x, yTop};
    lists.corners[1] = {w, 0, xRight, yTop};
    lists.corners[2] = {w, h, xRight, yBottom};
    lists.corners[3] = {0, h, x, yBottom};
    return lists;
}
